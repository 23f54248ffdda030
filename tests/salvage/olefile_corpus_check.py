#!/usr/bin/python3
"""Salvages every sample project file with the command-line tool (keeping
the rebuilt container) and checks the result with python3-olefile, a reader
independent of ours: every storage and every non-empty stream of the
original must be in the rebuilt file, at the same path, byte-identical.

    olefile_corpus_check.py MPPRECOVER CORPUS_DIR

Exits 77 (skipped) when olefile or the corpus is missing.
"""
import os
import subprocess
import sys
import tempfile

try:
    import olefile
except ImportError:
    print("skipped: python3-olefile is not installed for", sys.executable)
    sys.exit(77)


def contents(path, strict):
    defects = olefile.DEFECT_INCORRECT if strict else olefile.DEFECT_FATAL
    ole = olefile.OleFileIO(path, raise_defects=defects)
    try:
        storages = {"/".join(p) for p in ole.listdir(streams=False, storages=True)}
        streams = {}
        for p in ole.listdir(streams=True, storages=False):
            if ole.get_size(p) > 0:
                streams["/".join(p)] = ole.openstream(p).read()
        return storages, streams
    finally:
        ole.close()


def main(tool, corpus):
    if not os.path.isdir(corpus):
        print("skipped: no sample corpus at", corpus)
        return 77
    files = sorted(f for f in os.listdir(corpus) if f.lower().endswith(".mpp"))
    problems = []
    checked_streams = 0
    with tempfile.TemporaryDirectory() as scratch:
        for name in files:
            original = os.path.join(corpus, name)
            repaired = os.path.join(scratch, name + ".cfb")
            subprocess.run([tool, "-q", "--work-dir", scratch, "--keep-repaired", repaired,
                            original, os.path.join(scratch, "out.xml")],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            if not os.path.exists(repaired):
                problems.append(f"{name}: no rebuilt container")
                continue
            try:
                want_storages, want_streams = contents(original, strict=False)
                got_storages, got_streams = contents(repaired, strict=True)
            except Exception as error:  # olefile raises its own and OS errors
                problems.append(f"{name}: olefile: {error}")
                continue
            for storage in sorted(want_storages - got_storages):
                problems.append(f"{name}: storage {storage!r} missing")
            for path, data in want_streams.items():
                if got_streams.get(path) != data:
                    problems.append(f"{name}: stream {path!r} missing or different")
                else:
                    checked_streams += 1
            for leftover in os.listdir(scratch):
                if leftover.endswith(".xml") or leftover.endswith(".cfb"):
                    os.remove(os.path.join(scratch, leftover))
    for problem in problems[:50]:
        print(problem)
    print(f"{len(files)} files, {checked_streams} non-empty streams byte-identical, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
