#!/usr/bin/env python3
"""The include graph of src/: its cycles, and the includes between its
top-level folders that the arrows below do not allow.

    python3 scripts/include_graph.py [--cycles-only] [SRC]

`#include "x/y.h"` is looked for beside the including file, then under
SRC (default: the checkout's src/), as the compiler does; other includes
are not ours. A header and the source of the same name are one unit (one
is not linked without the other), so a cycle is a ring of units each of
whose files include the next's header: a.cpp includes b.h, b.cpp a.h.
A folder the table does not name is reported as unknown and its includes
are not judged (files directly in SRC count as the folder "."). Exits 1
when there is a cycle or a forbidden include, listing each.
"""
import argparse
import os
import re
import sys

# Which top-level folders each may include from (besides itself).
ALLOWED = {
    "api": {"pipeline", "base", "platform"},
    "pipeline": {"salvage", "parse", "generate", "model", "xml", "base", "platform"},
    "parse": {"model", "base", "platform"},
    "generate": {"model", "xml", "base", "platform"},
    "xml": {"base", "platform"},
    "model": {"base", "platform"},
    "salvage": {"base", "platform"},
    "base": {"platform"},
    "platform": set(),
}

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def read_graph(src):
    """{file: [included files]}, paths relative to src with '/'."""
    files = []
    for folder, dirs, names in os.walk(src):
        dirs.sort()
        files += [os.path.relpath(os.path.join(folder, n), src).replace(os.sep, "/")
                  for n in sorted(names) if n.endswith(SOURCE_SUFFIXES)]
    known = set(files)
    graph = {}
    for f in files:
        with open(os.path.join(src, f), encoding="utf-8", errors="replace") as text:
            included = INCLUDE.findall(text.read())
        edges = []
        for name in included:
            beside = os.path.normpath(os.path.join(os.path.dirname(f), name)).replace(os.sep, "/")
            under = os.path.normpath(name).replace(os.sep, "/")
            target = beside if beside in known else under if under in known else None
            if target and target not in edges:
                edges.append(target)
        graph[f] = edges
    return graph


def cycles(graph):
    """The strongly connected components that hold a cycle (Tarjan's, without
    recursion: linear in files and includes)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    for root in graph:
        if root in index:
            continue
        work = [(root, 0)]
        while work:
            node, i = work.pop()
            if i == 0:
                index[node] = low[node] = len(index)
                stack.append(node)
                on_stack.add(node)
            edges = graph[node]
            while i < len(edges) and edges[i] in index:
                if edges[i] in on_stack:
                    low[node] = min(low[node], index[edges[i]])
                i += 1
            if i < len(edges):
                work += [(node, i + 1), (edges[i], 0)]
                continue
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1 or node in graph[node]:
                    found.append(sorted(component))
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
    return found


def one_cycle(graph, component):
    """A path through the component from its first file back to it."""
    members, start = set(component), component[0]
    previous, queue = {start: None}, [start]
    for node in queue:  # breadth first: the shortest way back
        for target in graph[node]:
            if target == start:
                path = [node]
                while previous[path[-1]] is not None:
                    path.append(previous[path[-1]])
                return path[::-1] + [start]
            if target in members and target not in previous:
                previous[target] = node
                queue.append(target)
    return component


def unit_of(path):
    return os.path.splitext(path)[0]


def units(graph):
    """{unit: [units its files include]}."""
    joined = {}
    for f, edges in graph.items():
        own = joined.setdefault(unit_of(f), [])
        for target in edges:
            if unit_of(target) != unit_of(f) and unit_of(target) not in own:
                own.append(unit_of(target))
    return joined


def folder_of(path):
    return path.split("/", 1)[0] if "/" in path else "."


def check(src, cycles_only):
    graph = read_graph(src)
    joined = units(graph)
    failed = False
    for component in cycles(joined):
        failed = True
        ring = one_cycle(joined, component)
        print(f"include cycle ({len(component)} units): " + " -> ".join(ring))
        for a, b in zip(ring, ring[1:]):
            f, target = next((f, t) for f, edges in sorted(graph.items()) if unit_of(f) == a
                             for t in edges if unit_of(t) == b)
            print(f"  {f} includes {target}")
        print("  all its units: " + " ".join(component))
    if cycles_only:
        return failed
    unknown = {}
    for f, edges in graph.items():
        source = folder_of(f)
        if source not in ALLOWED:
            unknown[source] = unknown.get(source, 0) + 1
            continue
        for target in edges:
            into = folder_of(target)
            if into != source and into in ALLOWED and into not in ALLOWED[source]:
                failed = True
                print(f"forbidden include: {f} -> {target} ({source} -> {into})")
    for folder, count in sorted(unknown.items()):
        print(f"unknown folder: {folder} ({count} files; its includes are not judged)")
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cycles-only", action="store_true", help="look for cycles only")
    parser.add_argument("src", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "src"))
    args = parser.parse_args()
    if not os.path.isdir(args.src):
        parser.error(f"no folder {args.src}")
    return 1 if check(os.path.normpath(args.src), args.cycles_only) else 0


if __name__ == "__main__":
    sys.exit(main())
