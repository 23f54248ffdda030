#!/usr/bin/env python3
"""The whole run on damaged copies of the sample files, and what comes back.

Picks the sample files of the chosen formats (by their reference's file
type), damages each with every kind of the damage tool and the given seeds,
runs the command-line tool on every copy (and on the intact files) with a
time limit, checks that each run ends with a defined exit code and that
every document written is well-formed, then scores the documents against
the references and prints the mean fidelity per kind of damage.

  python3 bench/damage_fidelity.py --cli build-asan/mpprecover \\
      --corpus ../shared/corpus --tools ../shared/tools --work /tmp/dmg \\
      [--formats MPP14] [--seeds 1-3] [--jobs 2] [--timeout 120]

Exit status 1 when any run crashed, hung, ended with an undefined code or
wrote a malformed document; 0 otherwise.
"""
import argparse
import collections
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys

# Exit codes of the command-line tool that end a run cleanly.
DEFINED_EXIT_CODES = {0, 1, 3, 4, 5, 6, 10}


def pick_sources(corpus, formats):
    picked = []
    for name in sorted(os.listdir(os.path.join(corpus, "mpp"))):
        ref = os.path.join(corpus, "reference", os.path.splitext(name)[0] + ".json")
        try:
            with open(ref, encoding="utf-8") as f:
                file_type = json.load(f).get("file_type")
        except (OSError, ValueError):
            continue
        if file_type in formats:
            picked.append(name)
    return picked


def run_one(cli, source, xml, timeout):
    """(name, outcome, detail): outcome is 'ok', 'crash', 'hang' or 'bad-xml'."""
    name = os.path.basename(source)
    try:
        done = subprocess.run([cli, "-q", source, xml], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        return name, "hang", f"no end after {timeout} s"
    if done.returncode not in DEFINED_EXIT_CODES:
        tail = done.stderr.decode("utf-8", "replace").strip().splitlines()[-3:]
        return name, "crash", f"exit {done.returncode}: " + " | ".join(tail)
    if os.path.exists(xml):
        lint = subprocess.run(["xmllint", "--noout", xml], capture_output=True)
        if lint.returncode != 0:
            return name, "bad-xml", lint.stderr.decode("utf-8", "replace")[:200]
    return name, "ok", str(done.returncode)


def run_all(cli, sources, xml_dir, jobs, timeout):
    os.makedirs(xml_dir, exist_ok=True)
    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(run_one, cli, src,
                               os.path.join(xml_dir, os.path.splitext(os.path.basename(src))[0] + ".xml"),
                               timeout) for src in sources]
        for future in concurrent.futures.as_completed(futures):
            results.append(future.result())
    return sorted(results)


def score(tools, xml_dir, ref_dir, manifest=None):
    command = [sys.executable, os.path.join(tools, "mspdi_score.py"), "--batch", "--json", xml_dir, ref_dir]
    if manifest:
        command += ["--manifest", manifest]
    done = subprocess.run(command, capture_output=True, check=True)
    return json.loads(done.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cli", required=True)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--tools", required=True)
    ap.add_argument("--work", required=True, help="scratch folder (emptied first)")
    ap.add_argument("--formats", default="MPP14", help="comma-separated reference file types")
    ap.add_argument("--seeds", default="1-3")
    ap.add_argument("--kinds", default=None)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=int, default=120)
    args = ap.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    src_dir, dmg_dir = os.path.join(args.work, "src"), os.path.join(args.work, "damaged")
    os.makedirs(src_dir)
    names = pick_sources(args.corpus, set(args.formats.split(",")))
    for name in names:
        os.symlink(os.path.abspath(os.path.join(args.corpus, "mpp", name)), os.path.join(src_dir, name))
    damage = [sys.executable, os.path.join(args.tools, "mpp_damage.py"), "--batch", src_dir, dmg_dir,
              "--seeds", args.seeds]
    if args.kinds:
        damage += ["--kinds", args.kinds]
    subprocess.run(damage, check=True, stdout=subprocess.DEVNULL)
    damaged = sorted(os.path.join(dmg_dir, n) for n in os.listdir(dmg_dir) if n.endswith(".mpp"))
    print(f"{len(names)} sample files, {len(damaged)} damaged copies", flush=True)

    # Only the chosen files' references, so that the others do not count as missing.
    ref_dir = os.path.join(args.work, "reference")
    os.makedirs(ref_dir)
    for name in names:
        ref = os.path.splitext(name)[0] + ".json"
        os.symlink(os.path.abspath(os.path.join(args.corpus, "reference", ref)), os.path.join(ref_dir, ref))
    intact_xml, damaged_xml = os.path.join(args.work, "xml-intact"), os.path.join(args.work, "xml-damaged")
    intact_runs = run_all(args.cli, [os.path.join(src_dir, n) for n in names], intact_xml, args.jobs, args.timeout)
    damaged_runs = run_all(args.cli, damaged, damaged_xml, args.jobs, args.timeout)

    intact = score(args.tools, intact_xml, ref_dir)["summary"]
    scored = score(args.tools, damaged_xml, ref_dir, os.path.join(dmg_dir, "manifest.tsv"))

    kind_of = {}
    with open(os.path.join(dmg_dir, "manifest.tsv"), encoding="utf-8") as f:
        for line in f.read().splitlines()[1:]:
            cols = line.split("\t")
            kind_of[cols[0]] = cols[2]
    exits = collections.defaultdict(collections.Counter)
    problems = []
    for name, outcome, detail in damaged_runs + intact_runs:
        kind = kind_of.get(name, "intact")
        exits[kind][detail if outcome == "ok" else outcome] += 1
        if outcome != "ok":
            problems.append(f"{name}: {outcome}: {detail}")

    print(f"intact: mean fidelity {intact['mean_fidelity']}, median {intact['median_fidelity']}")
    print(f"{'damage kind':22} {'files':>5} {'fidelity':>8}  exit codes")
    by_kind = scored["summary"].get("by_kind") or {}
    for kind in sorted(by_kind):
        k = by_kind[kind]
        codes = " ".join(f"{code}:{n}" for code, n in sorted(exits[kind].items()))
        print(f"{kind:22} {k['files']:5} {k['mean_fidelity']:8.1f}  {codes}")
    print(f"{'all damaged':22} {len(damaged):5} {scored['summary']['mean_fidelity']:8.1f}")
    for line in problems:
        print("PROBLEM " + line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
