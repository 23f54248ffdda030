#!/usr/bin/env python3
"""include_graph.py on small trees: what it calls a cycle, how it resolves
an include, which arrows it refuses and which folders it does not judge."""
import contextlib
import io
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
import include_graph  # noqa: E402

# (tree {path: included names}, cycles only, failed, lines wanted in the report)
CASES = [
    ({"a.h": ["b.h"], "b.h": ["a.h"]}, True, True, ["include cycle (2 units): a -> b -> a"]),
    # A header and its source are one unit: a.cpp -> b.h, b.cpp -> a.h is a ring.
    ({"a.h": [], "a.cpp": ["a.h", "b.h"], "b.h": [], "b.cpp": ["b.h", "a.h"]}, True, True,
     ["  a.cpp includes b.h", "  b.cpp includes a.h"]),
    ({"a.h": [], "a.cpp": ["b.h"], "b.h": [], "b.cpp": []}, True, False, []),
    # Beside the including file first: model/m.h's "x.h" is model/x.h, not x.h.
    ({"model/m.h": ["x.h"], "model/x.h": [], "x.h": ["model/m.h"]}, True, False, []),
    ({"model/m.h": ["xml/x.h"], "xml/x.h": []}, False, True,
     ["forbidden include: model/m.h -> xml/x.h (model -> xml)"]),
    ({"model/m.h": ["xml/x.h"], "xml/x.h": []}, True, False, []),
    ({"parse/p.cpp": ["model/m.h", "platform/f.h"], "model/m.h": [], "platform/f.h": []}, False, False, []),
    ({"gen/g.h": ["api/a.h"], "api/a.h": [], "x.cpp": ["gen/g.h"]}, False, False,
     ["unknown folder: . (1 files; its includes are not judged)",
      "unknown folder: gen (1 files; its includes are not judged)"]),
]


def main():
    failures = 0
    for n, (tree, cycles_only, failed, wanted) in enumerate(CASES):
        with tempfile.TemporaryDirectory() as src:
            for path, names in tree.items():
                os.makedirs(os.path.join(src, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(src, path), "w") as f:
                    f.write("#pragma once\n" + "".join(f'#include "{name}"\n' for name in names))
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                result = include_graph.check(src, cycles_only)
        lines = out.getvalue().splitlines()
        if result != failed or any(w not in lines for w in wanted):
            failures += 1
            print(f"case {n}: failed={result}, wanted {failed}; report:\n  " + "\n  ".join(lines))
    print(f"include_graph: {len(CASES) - failures} of {len(CASES)} cases pass")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
