#!/usr/bin/env python3
"""Does every damaged run that recovered less than the undamaged file say so?

  loss_sweep.py CLI SOURCES DAMAGED

SOURCES holds undamaged .mpp files, DAMAGED the damaged copies that
mpp_damage.py --batch made of them (<stem>__<kind>__s<seed>.mpp or alike:
the copy's name starts with its source's stem). Each file is recovered with
--json; a damaged run "recovered less" when any kind of data came back in
smaller numbers than from its source, or nothing came back. Such a run must
say so: exit 10 (recovered with losses) or a failure exit. A run that got
everything back must not claim a loss. Prints the counts and the misses.
"""
import json
import os
import subprocess
import sys
import tempfile


def recover(cli, path, scratch):
    out = os.path.join(scratch, "o.xml")
    run = subprocess.run([cli, "-q", "--json", path, out], capture_output=True, text=True, timeout=300)
    if os.path.exists(out):
        os.unlink(out)
    try:
        report = json.loads(run.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        report = {}
    counts = {k["kind"]: k["recovered"] for k in report.get("losses", [])}
    return run.returncode, counts, report


def main(cli, sources, damaged):
    with tempfile.TemporaryDirectory() as scratch:
        base = {}
        for name in sorted(os.listdir(sources)):
            if name.endswith(".mpp"):
                base[name[:-4]] = recover(cli, os.path.join(sources, name), scratch)
        said = missed = whole = false_alarm = failed = 0
        misses = []
        for name in sorted(os.listdir(damaged)):
            if not name.endswith(".mpp"):
                continue
            stem = max((s for s in base if name.startswith(s)), key=len, default=None)
            if stem is None or base[stem][0] != 0:
                continue  # no clean source to compare with
            code, counts, report = recover(cli, os.path.join(damaged, name), scratch)
            less = code != 0 and code != 10 or any(counts.get(k, 0) < n for k, n in base[stem][1].items())
            if code not in (0, 10):
                failed += 1
                said += 1
            elif less and code == 10:
                said += 1
            elif less:
                missed += 1
                misses.append(name)
            elif code == 10:
                false_alarm += 1
            else:
                whole += 1
        print(f"runs recovering less than their source: {said + missed}; said so: {said} "
              f"(of them {failed} failures); silent: {missed}")
        print(f"runs recovering as much as their source: {whole + false_alarm}; "
              f"said whole: {whole}; said 'with losses': {false_alarm}")
        for name in misses[:20]:
            print("  silent:", name)
        return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
