#!/usr/bin/env python3
"""Mutation check of the test suite.

Applies each fault of scripts/mutants.txt to the code under src/, one at a
time, rebuilds incrementally, runs the suite (CTest) and tells whether some
test caught the fault. Every changed file gets its exact bytes back, also
when the run is interrupted. Prints a Markdown table at the end.

    nice -n 15 python3 scripts/mutants.py --build-dir build-mut --jobs 1
    python3 scripts/mutants.py --check          # do the texts still resolve?

The build directory must be configured already (cmake -G Ninja). Before the
mutants, the unchanged code is built and the suite run once: a suite that
fails on it would make every mutant look caught. Each mutant's build and
test output (and CTest's full log of the tests' own output) is kept in
<build-dir>/mutants-logs/.

Outcomes:
  caught             some test failed
  missed             every test passed: a fault the suite does not see
  does not compile   the build failed (no catch: the fault is not real)
  snippet not found  a text of the mutation is nowhere under src/
  snippet ambiguous  a text occurs more than once under src/
  suite error        CTest failed without naming a failed test
"""

from __future__ import annotations

import argparse
import dataclasses
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
DEFAULT_TABLE = Path(__file__).resolve().parent / "mutants.txt"

CAUGHT = "caught"
MISSED = "missed"
NO_COMPILE = "does not compile"
NOT_FOUND = "snippet not found"
AMBIGUOUS = "snippet ambiguous"
SUITE_ERROR = "suite error"
INTERRUPTED = "interrupted"


@dataclasses.dataclass
class Mutant:
    id: str
    what: str
    edits: list[tuple[str, str]]  # (find, into), applied in order
    line: int  # where its block starts in the table


@dataclasses.dataclass
class Result:
    mutant: Mutant
    outcome: str
    failed: list[str] = dataclasses.field(default_factory=list)
    detail: str = ""
    build_seconds: float = 0.0
    test_seconds: float = 0.0


class TableError(Exception):
    pass


def parse_table(path: Path) -> list[Mutant]:
    """Reads the blocks of id/what/find/into lines."""
    mutants: list[Mutant] = []
    block: dict | None = None

    def finish():
        nonlocal block
        if block is None:
            return
        where = f"{path}:{block['line']}"
        if not block.get("id"):
            raise TableError(f"{where}: a block without id")
        if not block.get("what"):
            raise TableError(f"{where}: {block['id']} has no 'what'")
        if not block["edits"]:
            raise TableError(f"{where}: {block['id']} has no find/into pair")
        if block["pending"] is not None:
            raise TableError(f"{where}: {block['id']} has a 'find' without 'into'")
        mutants.append(Mutant(block["id"], block["what"], block["edits"], block["line"]))
        block = None

    for number, raw in enumerate(path.read_text(encoding="utf-8").split("\n"), start=1):
        line = raw.rstrip("\r")
        if line.startswith("#"):
            continue
        if not line.strip():
            finish()
            continue
        key, sep, value = line.partition(":")
        if not sep or key not in ("id", "what", "find", "into"):
            raise TableError(f"{path}:{number}: expected 'id:', 'what:', 'find:' or 'into:'")
        if value.startswith(" "):
            value = value[1:]
        if block is None:
            block = {"line": number, "edits": [], "pending": None}
        if key == "id":
            if block.get("id"):
                raise TableError(f"{path}:{number}: a second id in one block (blank line missing?)")
            if not re.fullmatch(r"[A-Za-z0-9_-]+", value):
                raise TableError(f"{path}:{number}: id {value!r} is not letters, digits, '-' and '_'")
            block["id"] = value
        elif key == "what":
            block["what"] = value.strip()
        elif key == "find":
            if block["pending"] is not None:
                raise TableError(f"{path}:{number}: two 'find' lines without 'into' between")
            if not value:
                raise TableError(f"{path}:{number}: an empty 'find'")
            block["pending"] = value
        else:
            if block["pending"] is None:
                raise TableError(f"{path}:{number}: 'into' without 'find'")
            block["edits"].append((block["pending"], value))
            block["pending"] = None
    finish()
    ids = [m.id for m in mutants]
    repeated = sorted({i for i in ids if ids.count(i) > 1})
    if repeated:
        raise TableError(f"{path}: ids used twice: {', '.join(repeated)}")
    return mutants


def source_files() -> list[Path]:
    return sorted(p for p in SRC.rglob("*") if p.is_file())


def locate(snippet: bytes, files: list[Path], contents: dict[Path, bytes]) -> list[tuple[Path, int]]:
    """Every place snippet occurs under src/ (contents overrides the disk)."""
    places = []
    for path in files:
        data = contents[path] if path in contents else path.read_bytes()
        start = data.find(snippet)
        while start >= 0:
            places.append((path, start))
            start = data.find(snippet, start + 1)
    return places


def plan_edits(mutant: Mutant) -> tuple[dict[Path, bytes], dict[Path, bytes], str, str]:
    """The mutated contents of the files the mutant changes, with their
    original bytes; or an outcome and its detail when a text does not
    resolve to exactly one place."""
    files = source_files()
    originals: dict[Path, bytes] = {}
    changed: dict[Path, bytes] = {}
    for find, into in mutant.edits:
        snippet = find.encode("utf-8")
        places = locate(snippet, files, changed)
        if not places:
            return {}, {}, NOT_FOUND, find
        if len(places) > 1:
            where = ", ".join(sorted({str(p.relative_to(ROOT)) for p, _ in places}))
            return {}, {}, AMBIGUOUS, f"{len(places)} places ({where}): {find}"
        path, start = places[0]
        if path not in originals:
            originals[path] = path.read_bytes()
        data = changed.get(path, originals[path])
        changed[path] = data[:start] + into.encode("utf-8") + data[start + len(snippet):]
    return originals, changed, "", ""


def src_changes() -> str:
    """What git says has changed under src/ (nothing outside a checkout)."""
    try:
        run = subprocess.run(["git", "status", "--porcelain", "--", "src"], cwd=ROOT, capture_output=True, text=True)
    except OSError:
        return ""
    return run.stdout if run.returncode == 0 else ""


def restore(originals: dict[Path, bytes]) -> None:
    """Writes the original bytes back; a second Ctrl-C does not cut it short."""
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        for path, data in originals.items():
            path.write_bytes(data)
            if path.read_bytes() != data:
                raise RuntimeError(f"{path} could not be restored")
    finally:
        signal.signal(signal.SIGINT, previous)


def run_logged(command: list[str], cwd: Path, log: Path) -> tuple[int, float, str]:
    started = time.monotonic()
    completed = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors="replace")
    seconds = time.monotonic() - started
    log.write_text(f"$ {' '.join(command)}\n{completed.stdout}", encoding="utf-8")
    return completed.returncode, seconds, completed.stdout


def build(args, log: Path) -> tuple[bool, float]:
    code, seconds, _ = run_logged(["ninja", "-C", str(args.build_dir), f"-j{args.jobs}"], ROOT, log)
    return code == 0, seconds


FAILED_LINE = re.compile(r"^\s*\d+\s+-\s+(.+?)\s+\(([^)]*)\)\s*$")


def failed_tests(output: str) -> list[str]:
    """The names under CTest's "The following tests FAILED:"."""
    names = []
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if line.strip() == "The following tests FAILED:":
            for follow in lines[i + 1:]:
                match = FAILED_LINE.match(follow)
                if not match:
                    break
                names.append(match.group(1))
    return names


def run_suite(args, log: Path) -> tuple[int, list[str], float]:
    command = ["ctest", "-j2", "--no-tests=error"]
    if args.exclude:
        command += ["-E", args.exclude]
    if args.stop_on_failure:
        command.append("--stop-on-failure")
    code, seconds, output = run_logged(command, args.build_dir, log)
    # The tests' own output, for a look at what a mutant changed.
    full = args.build_dir / "Testing" / "Temporary" / "LastTest.log"
    if full.exists():
        shutil.copyfile(full, log.with_suffix(".full.log"))
    return code, failed_tests(output), seconds


def try_mutant(mutant: Mutant, args, logs: Path) -> Result:
    originals, changed, outcome, detail = plan_edits(mutant)
    if outcome:
        return Result(mutant, outcome, detail=detail)
    result = Result(mutant, INTERRUPTED)
    try:
        for path, data in changed.items():
            path.write_bytes(data)
        ok, result.build_seconds = build(args, logs / f"{mutant.id}.build.log")
        if not ok:
            result.outcome = NO_COMPILE
            return result
        code, failed, result.test_seconds = run_suite(args, logs / f"{mutant.id}.ctest.log")
        if failed:
            result.outcome, result.failed = CAUGHT, failed
        elif code == 0:
            result.outcome = MISSED
        else:
            result.outcome, result.detail = SUITE_ERROR, f"ctest exit {code}, no failed test named"
        return result
    finally:
        restore(originals)


def cell(text: str) -> str:
    return text.replace("|", "\\|").replace("\n", " ")


def markdown(results: list[Result], shown: int) -> str:
    rows = ["| id | fault | outcome | first failing tests | build + tests |", "|---|---|---|---|---|"]
    for r in results:
        if r.failed:
            tests = ", ".join(f"`{name}`" for name in r.failed[:shown])
            if len(r.failed) > shown:
                tests += f" (+{len(r.failed) - shown} more)"
        else:
            tests = cell(r.detail)
        timing = f"{r.build_seconds:.0f} s + {r.test_seconds:.0f} s" if r.build_seconds or r.test_seconds else ""
        outcome = f"**{r.outcome}**" if r.outcome == MISSED else r.outcome
        rows.append(f"| {r.mutant.id} | {cell(r.mutant.what)} | {outcome} | {tests} | {timing} |")
    counts: dict[str, int] = {}
    for r in results:
        counts[r.outcome] = counts.get(r.outcome, 0) + 1
    summary = ", ".join(f"{n} {o}" for o, n in counts.items())
    return "\n".join(rows) + f"\n\n{len(results)} mutants: {summary}.\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build-mut", help="configured Ninja build directory (default: build-mut)")
    parser.add_argument("--only", default="", help="comma-separated ids to run (default: all)")
    parser.add_argument("--jobs", type=int, default=1, help="ninja -j (default: 1)")
    parser.add_argument("--table", default=str(DEFAULT_TABLE), help="the mutation table (default: scripts/mutants.txt)")
    parser.add_argument("--exclude", default="", help="ctest -E regex of tests not to run")
    parser.add_argument("--stop-on-failure", action="store_true", help="end each suite run at its first failure")
    parser.add_argument("--no-baseline", action="store_true", help="skip the run of the unchanged code")
    parser.add_argument("--dirty-ok", action="store_true", help="run although git reports changes under src/")
    parser.add_argument("--check", action="store_true", help="only tell where each mutation's texts are; build nothing")
    parser.add_argument("--shown", type=int, default=3, help="failing tests named per row (default: 3)")
    parser.add_argument("--output", default="", help="also write the table to this file")
    args = parser.parse_args()

    # A kill (SIGTERM, a closed terminal) restores the files as Ctrl-C does.
    def interrupt(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, interrupt)
    signal.signal(signal.SIGHUP, interrupt)

    try:
        mutants = parse_table(Path(args.table))
    except (OSError, TableError) as error:
        print(f"mutants: {error}", file=sys.stderr)
        return 2
    if args.only:
        wanted = [i.strip() for i in args.only.split(",") if i.strip()]
        unknown = [i for i in wanted if i not in {m.id for m in mutants}]
        if unknown:
            print(f"mutants: no such id: {', '.join(unknown)}", file=sys.stderr)
            return 2
        mutants = [m for m in mutants if m.id in wanted]

    if args.check:
        bad = 0
        for m in mutants:
            _, changed, outcome, detail = plan_edits(m)
            where = ", ".join(str(p.relative_to(ROOT)) for p in changed)
            print(f"{m.id}: {outcome + ': ' + detail if outcome else 'ok (' + where + ')'}")
            bad += bool(outcome)
        return 1 if bad else 0

    # A run that was killed outright (SIGKILL) leaves its mutant in place;
    # that code must not pass for the unchanged one.
    changes = src_changes()
    if changes and not args.dirty_ok:
        print("mutants: src/ has changes (a mutant left by a killed run?); see 'git diff -- src', or pass"
              f" --dirty-ok:\n{changes}", file=sys.stderr, end="")
        return 2

    args.build_dir = Path(args.build_dir)
    if not args.build_dir.is_absolute():
        args.build_dir = ROOT / args.build_dir
    if not (args.build_dir / "build.ninja").exists():
        print(f"mutants: {args.build_dir} is not a configured Ninja build directory", file=sys.stderr)
        return 2
    logs = args.build_dir / "mutants-logs"
    logs.mkdir(exist_ok=True)

    def say(text: str) -> None:
        print(text, file=sys.stderr, flush=True)

    try:
        if not args.no_baseline:
            ok, seconds = build(args, logs / "baseline.build.log")
            if not ok:
                say(f"mutants: the unchanged code does not build (see {logs / 'baseline.build.log'})")
                return 2
            code, failed, test_seconds = run_suite(args, logs / "baseline.ctest.log")
            if code != 0:
                say(f"mutants: the suite fails on the unchanged code ({', '.join(failed) or 'ctest exit ' + str(code)});"
                    " every mutant would look caught")
                return 2
            say(f"baseline: builds ({seconds:.0f} s), suite passes ({test_seconds:.0f} s)")

        results: list[Result] = []
        started = time.monotonic()
        for n, m in enumerate(mutants, start=1):
            try:
                r = try_mutant(m, args, logs)
            except KeyboardInterrupt:
                results.append(Result(m, INTERRUPTED))
                say(f"[{n}/{len(mutants)}] {m.id}: interrupted; its files are restored")
                raise
            results.append(r)
            extra = f" ({', '.join(r.failed[:args.shown])})" if r.failed else (f" ({r.detail})" if r.detail else "")
            say(f"[{n}/{len(mutants)}] {m.id}: {r.outcome}{extra}  "
                f"[build {r.build_seconds:.0f} s, tests {r.test_seconds:.0f} s]")
        say(f"{len(mutants)} mutants in {(time.monotonic() - started) / 60:.1f} min")
    except KeyboardInterrupt:
        say("mutants: interrupted; the sources are as they were")
        if "results" in locals() and results:
            print(markdown(results, args.shown))
        return 130

    # The sources are back; so should the binaries be, for whoever runs
    # the suite from this build directory next.
    ok, _ = build(args, logs / "final.build.log")
    if not ok:
        say(f"mutants: the restored code does not build (see {logs / 'final.build.log'})")

    table = markdown(results, args.shown)
    print(table)
    if args.output:
        Path(args.output).write_text(table, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
