// The page of "mpprecover serve" in a real browser: headless Chromium loads
// it, a file is dropped on it (through its file chooser), and the test waits
// for the chart and checks it against the API's answer and the CLI's report.
// Screenshots are kept in the folder given.
//
// node page_test.js CLI SHOT_DIR SHARED_DIR FILE...   (exit 77: skipped)
// SHARED_DIR/tools and SHARED_DIR/corpus give a damaged file as well; that
// file is left out, saying so, when they are absent.
"use strict";
const { spawn, execFileSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const SKIP = 77;
const [cli, shotDir, shared, ...files] = process.argv.slice(2);
if (!cli || !shotDir || !shared || files.length === 0) {
  console.error("usage: node page_test.js CLI SHOT_DIR SHARED_DIR FILE...");
  process.exit(2);
}

let puppeteer;
try {
  puppeteer = require("puppeteer-core");
} catch (e) {
  console.log("skipped: puppeteer-core is not installed (npm ci --prefix tests/web; scripts/setup.sh does it)");
  process.exit(SKIP);
}
const chromium = [process.env.CHROMIUM, "/usr/bin/chromium", "/usr/bin/chromium-browser"].find(p => p && fs.existsSync(p));
if (!chromium) {
  console.log("skipped: Chromium is not installed (apt-get install chromium)");
  process.exit(SKIP);
}

function startServer(workDir) {
  return new Promise((resolve, reject) => {
    const server = spawn(cli, ["serve", "--port", "0", "--work-dir", workDir], { stdio: ["ignore", "pipe", "inherit"] });
    let out = "";
    const timer = setTimeout(() => reject(new Error("the server printed no address")), 10000);
    server.stdout.on("data", chunk => {
      out += chunk;
      const m = /serving on (http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]+)/.exec(out);
      if (m) { clearTimeout(timer); resolve({ server, url: m[1] }); }
    });
    server.on("exit", code => reject(new Error("the server ended: " + code)));
  });
}

// The CLI's own loss report for a file, to compare with the page's.
function cliLosses(file) {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), "mdw-page-cli-"));
  try {
    let text;
    try {
      text = execFileSync(cli, ["--json", "-q", file, "-o", out], { encoding: "utf8" });
    } catch (e) {
      text = e.stdout;  // exit 10 and the like
    }
    return JSON.parse(text.split("\n")[0]).losses;
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}

// A damaged copy of a corpus plan with a milestone, summaries and links.
function damagedFile(folder) {
  const tool = path.join(shared, "tools", "mpp_damage.py");
  const source = path.join(shared, "corpus", "mpp", "mpp14baseline.mpp");
  if (!fs.existsSync(tool) || !fs.existsSync(source)) {
    console.log(`skipped: the damaged file (no ${tool} or ${source})`);
    return null;
  }
  const out = path.join(folder, "baseline-damaged.mpp");
  execFileSync("python3", [tool, "--kind", "block_zero", "--seed", "1", source, out], { stdio: "ignore" });
  return out;
}

async function main() {
  fs.mkdirSync(shotDir, { recursive: true });
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), "mdw-page-"));
  const damageDir = fs.mkdtempSync(path.join(os.tmpdir(), "mdw-page-damaged-"));
  const damaged = damagedFile(damageDir);
  if (damaged) files.push(damaged);
  // A file that holds no plan at all: the page says so and draws nothing.
  const garbage = path.join(damageDir, "not-a-plan.mpp");
  fs.writeFileSync(garbage, Buffer.from(Array.from({ length: 30000 }, (_, i) => (i * 7919) % 251)));
  files.push(garbage);
  const { server, url } = await startServer(workDir);
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run", "--no-proxy-server"],
  });
  const failures = [];
  const check = (ok, what) => { if (!ok) failures.push(what); };
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1440, height: 900 });
    // Nothing may leave this computer: every request goes to the server.
    const foreign = [];
    page.on("request", r => { if (!r.url().startsWith("http://127.0.0.1:") && !r.url().startsWith("data:")) foreign.push(r.url()); });
    const errors = [];
    page.on("pageerror", e => errors.push(String(e)));
    page.on("console", m => { if (m.type() === "error") errors.push(m.text()); });
    await page.goto(url, { waitUntil: "load" });

    for (const file of files) {
      const name = path.basename(file);
      const input = await page.$("#file");
      await input.uploadFile(file);
      await page.waitForFunction(() => window.mdw.state === "shown" || window.mdw.state === "failed", { timeout: 120000 });
      const seen = await page.evaluate(() => {
        const bars = [...document.querySelectorAll("#timeline [data-uid]")];
        return {
          state: window.mdw.state,
          ms: window.mdw.dropToChartMs,
          answerMs: window.mdw.dropToAnswerMs,
          answer: window.mdw.answer,
          bars: bars.map(b => ({ uid: b.getAttribute("data-uid"), shape: b.tagName, cls: b.getAttribute("class") })),
          rows: document.querySelectorAll("#rows tr").length,
          links: document.querySelectorAll("#timeline path.link").length,
          losses: [...document.querySelectorAll("#losses li[data-kind]")].map(li => ({
            kind: li.dataset.kind, recovered: +li.dataset.recovered,
            held: li.dataset.held === "" ? null : +li.dataset.held, lost: li.dataset.lost === "true" })),
          verdict: document.getElementById("verdict-title").textContent,
          verdictClass: document.getElementById("verdict").className,
        };
      });
      const shot = path.join(shotDir, "page-" + name.replace(/[^A-Za-z0-9_.-]/g, "_") + ".png");
      await page.screenshot({ path: shot, fullPage: true });
      check(seen.state === "shown", `${name}: the page shows no plan (${seen.state})`);
      if (seen.state !== "shown") continue;
      if (seen.answer.result !== 0) {
        check(seen.verdictClass.includes("failed") && seen.bars.length === 0 && seen.answer.download === null,
              `${name}: a failed recovery shown as "${seen.verdict}" with ${seen.bars.length} bars`);
        console.log(`${name}: "${seen.verdict}" (result ${seen.answer.result}) after ${seen.ms.toFixed(0)} ms; screenshot ${shot}`);
        continue;
      }
      const tasks = seen.answer.project.tasks;
      const dated = tasks.filter(t => t.start && t.finish);
      const uids = seen.bars.map(b => b.uid);
      check(seen.rows === tasks.length, `${name}: ${seen.rows} outline rows for ${tasks.length} tasks`);
      check(uids.length === dated.length && new Set(uids).size === uids.length,
            `${name}: ${uids.length} bars (${new Set(uids).size} distinct) for ${dated.length} tasks with dates`);
      for (const t of dated) {
        const bar = seen.bars.find(b => b.uid === String(t.uid));
        const want = t.milestone ? "polygon" : t.summary ? "path" : "rect";
        check(bar && bar.shape === want, `${name}: task ${t.uid} drawn as ${bar ? bar.shape : "nothing"}, not ${want}`);
      }
      const linked = seen.answer.project.links.filter(l =>
        dated.some(t => t.uid === l.predecessor) && dated.some(t => t.uid === l.successor));
      check(seen.links === linked.length, `${name}: ${seen.links} link arrows for ${linked.length} links`);
      // The loss report: every kind the CLI says was lost is on the page, with its numbers.
      const expected = cliLosses(file);
      for (const l of expected) {
        const shown = seen.losses.find(s => s.kind === l.kind);
        if (l.lost || l.recovered > 0) check(shown, `${name}: the page does not report ${l.kind}`);
        if (shown)
          check(shown.recovered === l.recovered && shown.held === l.held && shown.lost === l.lost,
                `${name}: ${l.kind} shown as ${JSON.stringify(shown)}, the CLI says ${JSON.stringify(l)}`);
      }
      const milestones = seen.bars.filter(b => b.shape === "polygon").length;
      console.log(`${name}: drop to chart ${seen.ms.toFixed(0)} ms (answer after ${seen.answerMs.toFixed(0)} ms); ${tasks.length} tasks, ${uids.length} bars ` +
                  `(${milestones} milestone diamonds), ${seen.links} link arrows; ` +
                  `"${seen.verdict}"; losses: ${seen.losses.filter(l => l.lost).map(l => l.kind).join(", ") || "none"}; ` +
                  `screenshot ${shot}`);
    }
    check(foreign.length === 0, "requests beyond the server: " + foreign.join(" "));
    check(errors.length === 0, "errors on the page: " + errors.join(" | "));
  } finally {
    await browser.close();
    server.kill("SIGTERM");
    await new Promise(r => server.on("exit", r));
    check(!fs.readdirSync(workDir).length, "the server left files in its work folder");
    fs.rmSync(workDir, { recursive: true, force: true });
    fs.rmSync(damageDir, { recursive: true, force: true });
  }
  if (failures.length) {
    for (const f of failures) console.error("FAIL: " + f);
    process.exit(1);
  }
  console.log("page test passed");
}

main().catch(e => { console.error(e); process.exit(1); });
