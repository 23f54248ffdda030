#!/usr/bin/env python3
"""The API of `mpprecover serve` through HTTP on loopback, and the CLI's
--json-project and --progress-fd that it rests on.

serve_api_test.py CLI SAMPLE SHARED_DIR   (SHARED_DIR/tools, SHARED_DIR/corpus
for a damaged file; that case is skipped, saying so, when they are absent)
"""
import http.client
import json
import os
import random
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

CLI, SAMPLE, SHARED = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


class Server:
    def __init__(self, *args):
        self.work = tempfile.mkdtemp(prefix="mdw-serve-test-")
        self.proc = subprocess.Popen([CLI, "serve", "--port", "0", "--work-dir", self.work, *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})", line)
        if not m:
            raise SystemExit("the server printed no address: " + line)
        self.port, self.token = int(m.group(1)), m.group(2)

    def request(self, method, path, body=None, token=True, host=None, headers=None, timeout=120):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        sep = "&" if "?" in path else "?"
        url = path + (sep + "token=" + (self.token if token is True else token) if token else "")
        hdrs = {"Host": host or "127.0.0.1:%d" % self.port}
        hdrs.update(headers or {})
        conn.request(method, url, body=body, headers=hdrs)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, data, response

    def recover(self, body, name="plan.mpp", client="t1"):
        status, data, _ = self.request("POST", "/api/recover?name=%s&client=%s" % (name, client), body,
                                       headers={"Content-Type": "application/octet-stream"})
        try:
            return status, json.loads(data)
        except ValueError:
            return status, None

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        code = self.proc.wait(timeout=30)
        left = os.listdir(self.work)
        os.rmdir(self.work) if not left else None
        return code, left


def cli_json(path):
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([CLI, "--json", "-q", path, "-o", out], capture_output=True, text=True, timeout=120)
        return json.loads(run.stdout.splitlines()[0])


def tasks_from_xml(xml):
    """The document's tasks, read by an independent reader."""
    root = ET.fromstring(xml)
    NS = root.tag[:root.tag.index("}") + 1] if root.tag.startswith("{") else ""  # the document's own namespace
    tasks = []
    for t in root.iter(NS + "Task"):
        get = lambda name: (t.find(NS + name).text or "") if t.find(NS + name) is not None else None
        tasks.append({"uid": int(get("UID")), "name": get("Name"), "start": get("Start"), "finish": get("Finish"),
                      "outline_level": int(get("OutlineLevel")) if get("OutlineLevel") else None,
                      "milestone": get("Milestone") == "1", "summary": get("Summary") == "1"})
    links = sorted((int(l.find(NS + "PredecessorUID").text), int(t.find(NS + "UID").text))
                   for t in root.iter(NS + "Task") for l in t.findall(NS + "PredecessorLink"))
    return tasks, links


def damaged_file(folder):
    tool = os.path.join(SHARED, "tools", "mpp_damage.py")
    source = os.path.join(SHARED, "corpus", "mpp", "mpp14baseline.mpp")
    if not (os.path.exists(tool) and os.path.exists(source)):
        print("skipped: the damaged-file case (no %s or %s)" % (tool, source))
        return None
    out = os.path.join(folder, "baseline-damaged.mpp")
    subprocess.run([sys.executable, tool, "--kind", "block_zero", "--seed", "1", source, out],
                   check=True, capture_output=True)
    return out


def test_uploads(server, folder):
    sample = open(SAMPLE, "rb").read()
    rng = random.Random(17)
    garbage = bytes(rng.randrange(256) for _ in range(50000))
    ole_garbage = bytes.fromhex("d0cf11e0a1b11ae1") + garbage
    damaged = damaged_file(folder)
    # name, body, HTTP status, exit code, a document to download
    cases = [
        ("sample.mpp", sample, 200, 0, True),
        ("garbage.mpp", garbage, 200, 3, False),
        ("ole-garbage.mpp", ole_garbage, 200, 3, False),
        ("empty.mpp", b"", 400, None, False),
        ("../../etc/passwd", sample, 200, 0, True),
    ]
    if damaged:
        cases.append(("baseline-damaged.mpp", open(damaged, "rb").read(), 200, 10, True))
    for name, body, want_status, want_exit, want_document in cases:
        started = time.monotonic()
        status, answer = server.recover(body, name=name)
        elapsed = time.monotonic() - started
        check(status == want_status, "%s: HTTP %s, expected %s (%s)" % (name, status, want_status, answer))
        if status != 200 or answer is None:
            check(answer is not None and "error" in answer, "%s: no JSON error" % name)
            continue
        check(answer["exit"] == want_exit, "%s: exit %s, expected %s" % (name, answer["exit"], want_exit))
        check(server.work not in json.dumps(answer) and answer["input"] == os.path.basename(name),
              "%s: the answer shows where the server keeps files: %s" % (name, answer["input"]))
        check((answer["download"] is not None) == want_document, "%s: download %s" % (name, answer["download"]))
        check(answer["name"].endswith(".xml") and "/" not in answer["name"], "%s: document name %r" % (name, answer["name"]))
        if not want_document:
            check(answer["project"] is None, "%s: a project without a document" % name)
            continue
        print("%s: %d bytes recovered in %.0f ms through HTTP (%d tasks)" %
              (name, len(body), elapsed * 1000, len(answer["project"]["tasks"])))
        status, xml, response = server.request("GET", answer["download"].split("?")[0])
        check(status == 200 and xml.startswith(b"<?xml"), "%s: the download gave %s" % (name, status))
        check("attachment" in (response.getheader("Content-Disposition") or ""), "%s: not an attachment" % name)
        # The JSON's tasks and links are the document's, read independently.
        tasks, links = tasks_from_xml(xml)
        mine = [{k: t[k] for k in ("uid", "name", "start", "finish", "outline_level", "milestone", "summary")}
                for t in answer["project"]["tasks"]]
        check(mine == tasks, "%s: the JSON's tasks differ from the document's" % name)
        check(sorted((l["predecessor"], l["successor"]) for l in answer["project"]["links"]) == links,
              "%s: the JSON's links differ from the document's" % name)
        # The loss report is the CLI's.
        path = os.path.join(folder, os.path.basename(name))
        with open(path, "wb") as f:
            f.write(body)
        expected = cli_json(path)
        check(answer["losses"] == expected["losses"] and answer["report"] == expected["report"],
              "%s: the loss report differs from the CLI's" % name)
    # No upload stays in the work folder; only the documents do.
    stored = [os.path.join(d, f) for d, _, fs in os.walk(server.work) for f in fs]
    check(all(f.endswith("/document.xml") for f in stored), "files left in the work folder: %s" % stored)


def test_refusals(server):
    # what, method, path, token, host, expected status
    cases = [
        ("no token", "GET", "/", None, None, 403),
        ("a wrong token", "GET", "/", "0" * 32, None, 403),
        ("a token too short", "GET", "/api/progress", server.token[:8], None, 403),
        ("another host name", "GET", "/", True, "attacker.example:%d" % server.port, 403),
        ("an unknown document", "GET", "/api/document/" + "ab" * 16, True, None, 404),
        ("a path out of the API", "GET", "/api/document/../../etc/passwd", True, None, 404),
        ("a bad client id", "GET", "/api/progress?client=a/b", True, None, 400),
        ("the page", "GET", "/", True, None, 200),
        ("localhost by name", "GET", "/api/progress", True, "localhost:%d" % server.port, 200),
    ]
    for what, method, path, token, host, want in cases:
        status, data, response = server.request(method, path, token=token, host=host)
        check(status == want, "%s: HTTP %s, expected %s" % (what, status, want))
    # A second server on the same port does not start (nor share its requests).
    with tempfile.TemporaryDirectory() as work:
        second = subprocess.run([CLI, "serve", "--port", str(server.port), "--work-dir", work],
                                capture_output=True, text=True, timeout=30)
        check(second.returncode == 1 and not os.listdir(work), "a second server on the port: exit %s" % second.returncode)
    status, page, response = server.request("GET", "/")
    policy = response.getheader("Content-Security-Policy") or ""
    check("default-src 'none'" in policy and b"http://" not in page.replace(b"http://www.w3.org/2000/svg", b""),
          "the page may load something from elsewhere")


def test_oversized():
    server = Server("--max-size", "1")
    try:
        status, answer = server.recover(b"\0" * (2 << 20), name="big.mpp")
        check(status == 413 and answer and "error" in answer, "an oversized upload: HTTP %s %s" % (status, answer))
        # Chunked, with no length given up front.
        conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
        chunks = iter([b"\0" * 65536] * 40)
        conn.request("POST", "/api/recover?client=c&token=" + server.token, body=chunks, encode_chunked=True,
                     headers={"Host": "127.0.0.1:%d" % server.port, "Transfer-Encoding": "chunked"})
        status = conn.getresponse().status
        conn.close()
        check(status == 413, "an oversized chunked upload: HTTP %s" % status)
        status, answer = server.recover(open(SAMPLE, "rb").read())
        check(status == 200 and answer["exit"] == 0, "the server after oversized uploads: HTTP %s" % status)
    finally:
        code, left = server.stop()
        check(code == 0 and not left, "the server stopped with %s, leaving %s" % (code, left))


def test_concurrency(server):
    sample = open(SAMPLE, "rb").read()
    # Several pages at once: each gets its own plan.
    results = {}

    def run(client):
        results[client] = server.recover(sample, name=client + ".mpp", client=client)

    threads = [threading.Thread(target=run, args=("page%d" % i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    ids = {a["id"] for s, a in results.values() if s == 200}
    check(len(results) == 4 and all(s == 200 and a["exit"] == 0 for s, a in results.values()) and len(ids) == 4,
          "concurrent uploads: %s" % {c: s for c, (s, a) in results.items()})
    # One page, two recoveries: the second is refused while the first
    # upload is still arriving.
    slow = socket.create_connection(("127.0.0.1", server.port), timeout=60)
    slow.sendall(("POST /api/recover?client=same&name=s.mpp&token=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                  "Content-Length: %d\r\n\r\n" % (server.token, server.port, len(sample))).encode() + sample[:4096])
    for _ in range(100):
        status, data, _ = server.request("GET", "/api/progress?client=same")
        if json.loads(data)["state"] == "receiving":
            break
        time.sleep(0.05)
    check(json.loads(data)["state"] == "receiving", "the slow upload's progress: %s" % data)
    status, answer = server.recover(sample, client="same")
    check(status == 429, "a second recovery of one page: HTTP %s" % status)
    slow.sendall(sample[4096:])
    reply = b""
    while b"\r\n\r\n" not in reply:
        chunk = slow.recv(65536)
        if not chunk:
            break
        reply += chunk
    slow.close()
    check(reply.startswith(b"HTTP/1.1 200"), "the slow upload's answer: %r" % reply[:40])
    status, data, _ = server.request("GET", "/api/progress?client=same")
    check(json.loads(data)["state"] == "done" and json.loads(data)["percent"] == 100,
          "progress after the recovery: %s" % data)


def test_cli(folder):
    out = os.path.join(folder, "cli-out.xml")
    project = os.path.join(folder, "project.json")
    # arguments, exit code, whether project.json is then written
    cases = [
        (["--json-project", project, SAMPLE, "-o", out], 0, True),
        (["--json-project", project, SAMPLE, "-o", out + "2"], 2, False),          # exists: refused
        (["--force", "--json-project", project, SAMPLE, "-o", out + "3"], 0, True),  # replaced
        (["--json-project", project + "x", SAMPLE, SAMPLE, "-o", folder], 2, False),  # one input only
        (["--progress-fd", "9", SAMPLE, "-o", out + "4"], 2, False),                # not open
    ]
    for args, want, written in cases:
        before = os.path.getmtime(project) if os.path.exists(project) else None
        run = subprocess.run([CLI, "-q", *args], capture_output=True, text=True, timeout=120)
        check(run.returncode == want, "%s: exit %s, expected %s" % (args, run.returncode, want))
        if written:
            data = json.load(open(project))
            check(data["exit"] == want and len(data["project"]["tasks"]) == 21,
                  "%s: project.json holds %s" % (args, list(data)))
        elif want == 2 and before is not None:
            check(os.path.getmtime(project) == before, "%s: project.json was touched" % args)
    # Progress lines on a descriptor: "PERCENT STATUS", the percent never falling.
    read_end, write_end = os.pipe()
    run = subprocess.Popen([CLI, "-q", "--progress-fd", str(write_end), SAMPLE, "-o", out + "5"],
                           pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    lines = os.fdopen(read_end).read().splitlines()
    run.wait(60)
    percents = [int(l.split(" ", 1)[0]) for l in lines]
    check(run.returncode == 0 and percents and percents == sorted(percents) and percents[-1] == 100,
          "progress lines: %s" % lines[:5])


def main():
    with tempfile.TemporaryDirectory() as folder:
        test_cli(folder)
        server = Server()
        try:
            test_refusals(server)
            test_uploads(server, folder)
            test_concurrency(server)
        finally:
            code, left = server.stop()
            check(code == 0 and not left, "the server stopped with %s, leaving %s" % (code, left))
        test_oversized()
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("serve API test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
