#!/usr/bin/env python3
"""Recovers every sample file of the chosen formats with the command-line
tool, checks each document with xmllint, scores the documents against the
references, by the application that wrote the files, and holds the figures
to floors.

  corpus_fidelity.py CLI CORPUS TOOLS FLOORS.json [FORMAT,...]

FLOORS.json maps a group to the least mean fidelity and recall per entity
the group must reach, e.g. {"2010": {"fidelity": 45, "tasks": 98}}. The
version 14 files make two groups, "2010" for the files of the 2010
application and "later" for the others; the version 12 and 9 files make
the groups "MPP12" and "MPP9", and are also scored (without floors) by the
application that wrote them (the format followed by the application text
of the reference).
Exit 77 (skipped) when the corpus or the tools are absent.
"""
import json
import os
import subprocess
import sys
import tempfile

FORMATS = {"MPP14", "MPP12", "MPP9"}
APPLICATION_2010 = "Microsoft.Project 14.0"


def main():
    cli, corpus, tools, floors_path = sys.argv[1:5]
    formats = set(sys.argv[5].split(",")) if len(sys.argv) > 5 else FORMATS
    if not os.path.isdir(os.path.join(corpus, "mpp")) or not os.path.exists(os.path.join(tools, "mspdi_score.py")):
        print(f"no sample corpus or scoring tool beside the checkout ({corpus}); skipped")
        return 77
    with open(floors_path, encoding="utf-8") as f:
        floors = json.load(f)

    groups = {"2010": [], "later": [], "MPP12": [], "MPP9": []}
    for name in sorted(os.listdir(os.path.join(corpus, "mpp"))):
        stem = os.path.splitext(name)[0]
        try:
            with open(os.path.join(corpus, "reference", stem + ".json"), encoding="utf-8") as f:
                ref = json.load(f)
        except (OSError, ValueError):
            continue
        kind = ref.get("file_type")
        if kind not in formats or not ref.get("read_ok", True):
            continue
        if kind == "MPP14":
            groups["2010" if ref.get("application") == APPLICATION_2010 else "later"].append(stem)
        else:
            groups[kind].append(stem)
            groups.setdefault(f"{kind} {ref.get('application')}", []).append(stem)

    failures = []
    with tempfile.TemporaryDirectory() as work:
        # Every file is recovered once; the groups link to the documents.
        all_xml = os.path.join(work, "all")
        os.makedirs(all_xml)
        done = set()
        for stems in groups.values():
            for stem in stems:
                if stem in done:
                    continue
                done.add(stem)
                xml = os.path.join(all_xml, stem + ".xml")
                run = subprocess.run([cli, "-q", os.path.join(corpus, "mpp", stem + ".mpp"), xml],
                                     capture_output=True, timeout=300)
                if run.returncode not in (0, 3, 10):
                    failures.append(f"{stem}: exit code {run.returncode}")
                if os.path.exists(xml):
                    lint = subprocess.run(["xmllint", "--noout", xml], capture_output=True)
                    if lint.returncode != 0:
                        failures.append(f"{stem}: malformed document")
                elif run.returncode in (0, 10):
                    failures.append(f"{stem}: success without a document")
        for index, (group, stems) in enumerate(groups.items()):
            if not stems:
                continue
            xml_dir, ref_dir = os.path.join(work, str(index), "xml"), os.path.join(work, str(index), "ref")
            os.makedirs(xml_dir)
            os.makedirs(ref_dir)
            for stem in stems:
                os.symlink(os.path.abspath(os.path.join(corpus, "reference", stem + ".json")),
                           os.path.join(ref_dir, stem + ".json"))
                if os.path.exists(os.path.join(all_xml, stem + ".xml")):
                    os.symlink(os.path.join(all_xml, stem + ".xml"), os.path.join(xml_dir, stem + ".xml"))
            scored = subprocess.run([sys.executable, os.path.join(tools, "mspdi_score.py"), "--batch", "--json",
                                     xml_dir, ref_dir], capture_output=True, check=True)
            summary = json.loads(scored.stdout)["summary"]
            fidelity = summary["mean_fidelity"] or 0.0
            print(f"{group}: {len(stems)} files, mean fidelity {fidelity:.1f}, median {summary['median_fidelity']}")
            for entity, r in summary["recall"].items():
                if r["reference"]:
                    print(f"  {entity:12} recall {r['recall'] or 0:5.1f}%  ({r['matched']}/{r['reference']}, "
                          f"{r['extra']} extra)")
            for field, agreement in summary["field_agreement"].items():
                print(f"  {field:32} {agreement:5.1f}%")
            for key, least in floors.get(group, {}).items():
                if key == "fidelity":
                    value = fidelity
                else:
                    value = summary["recall"].get(key, {}).get("recall") or 0
                if value < least:
                    failures.append(f"{group}: {key} {value:.1f} below {least}")
    for line in failures:
        print("FAIL " + line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
