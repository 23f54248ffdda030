#!/usr/bin/env python3
"""Recovers every sample file of the chosen formats with the command-line
tool, checks each document with xmllint (well-formed, and valid against the
Project XML schema beside the tools), scores the documents against the
references, by the application that wrote the files, and holds the figures
to floors; holds the fields of CENSUS_FLOORS to their floor on every format
and writing application; and, where GNOME Planner's import stylesheet is
installed, imports every document with it as a second reader.

  corpus_fidelity.py CLI CORPUS TOOLS FLOORS.json [FORMAT,...]

FLOORS.json maps a group to the least mean fidelity and recall per entity
the group must reach, e.g. {"2010": {"fidelity": 45, "tasks": 98}}, and
"census" to the least agreement of census fields over all files, e.g.
{"census": {"tasks.actual_start": 99.5}}, and "compare" to the least
agreement per section with the application's own exports and the most
wrong values, e.g. {"compare": {"tasks": 82, "wrong_values_pct": 0.9}}. The
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
# Fields the document carries as the file holds them, per format and
# writing application (field_census.py's groups).
CENSUS_FLOORS = {f: 99.0 for f in (
    "project.start", "project.finish", "project.title", "project.currency_symbol", "project.currency_code",
    "project.minutes_per_day", "project.calendar_uid", "tasks.manual", "tasks.milestone", "tasks.active",
    "tasks.estimated", "tasks.effort_driven", "tasks.cost", "tasks.actual_cost", "tasks.remaining_cost",
    "resources.cost_per_use", "assignments.cost", "assignments.actual_cost", "assignments.remaining_cost",
    "assignments.units",
    "calendars.days", "calendars.exceptions", "calendars.exceptions.dates", "calendars.exceptions.recurring",
    "tasks.custom.Flag", "resources.custom.Flag",
    "tasks.early_start", "tasks.early_finish", "tasks.late_start", "tasks.late_finish", "tasks.fixed_cost_accrual",
    "resources.accrue_at")}
# Not the assignments' work: the applications before 2010 show none on the
# stand-in assignment of a task without resources, and the document follows
# them where the file was saved by one, while the references read what the
# record keeps.
# Baselines 0 to 10 (100 % on every format).
CENSUS_FLOORS.update({f: 99.0 for f in ("tasks.baselines", "resources.baselines", "assignments.baselines")})
# Outline code values (100 % on every format when set).
CENSUS_FLOORS.update({f: 99.0 for f in ("tasks.custom.Outline Code", "resources.custom.Outline Code")})
PLANNER_XSL = "/usr/share/planner/stylesheets/msp2planner.xsl"
PLANNER_DTD = "/usr/share/planner/dtd/mrproject-0.6.dtd"


def check_census(tools, xml_dir, ref_dir, overall, failures):
    """CENSUS_FLOORS hold the worst group of each field to 99 %; overall
    (the "census" table of FLOORS.json) holds each field's agreement over
    all files to its floor, set a little below what it is today so that a
    fault touching a few percent of the values shows."""
    run = subprocess.run([sys.executable, os.path.join(tools, "field_census.py"), xml_dir, ref_dir, "--json"],
                         capture_output=True, check=True)
    fields = {f["field"]: f for f in json.loads(run.stdout)["fields"]}
    for name, least in overall.items():
        if name not in fields:  # no reference value among the files scored
            continue
        value = fields[name]["agree_pct"]
        if value < least:
            failures.append(f"census {name}: {value:.2f}% over all files, below {least}")
    for name, least in CENSUS_FLOORS.items():
        field = fields.get(name)
        if not field:
            continue
        worst = min([(g["agree_pct"], group) for group, g in field["groups"].items() if g["n"]] or [(100.0, "")])
        print(f"  census {name:32} {field['agree_pct']:5.1f}%  (worst group {worst[1]}: {worst[0]:.1f}%)")
        if worst[0] < least:
            failures.append(f"census {name}: {worst[0]:.1f}% in {worst[1]}, below {least}")


def check_compare(tools, corpus, xml_dir, floors, failures):
    """The documents against the application's own exports of the same
    projects (app-xml, where the corpus has them): each section's agreement
    held to its floor in the "compare" table of FLOORS.json, and the share
    of wrong values (in percent of the elements compared) to its ceiling."""
    app = os.path.join(corpus, "app-xml")
    pairs = os.path.join(app, "PAIRS.tsv")
    if not floors or not os.path.exists(pairs):
        print("no application exports beside the corpus: the comparison with them is not checked")
        return
    run = subprocess.run([sys.executable, os.path.join(tools, "mspdi_compare.py"), "--batch", "--json", "--pairs",
                          pairs, xml_dir, app], capture_output=True, check=True)
    result = json.loads(run.stdout)
    sections = dict(result["sections"], overall=result["overall"])
    for name, least in floors.items():
        if name == "wrong_values_pct":
            wrong = 100.0 * result["overall"]["differ"] / max(result["overall"]["compared"], 1)
            print(f"  compare wrong values {wrong:.2f}%")
            if wrong > least:
                failures.append(f"compare: {wrong:.2f}% wrong values, above {least}")
            continue
        value = sections.get(name, {}).get("agreement") or 0.0
        print(f"  compare {name:12} {value:5.1f}%")
        if value < least:
            failures.append(f"compare {name}: {value:.1f}% below {least}")


def check_planner(xml, ref, work, failures):
    """GNOME Planner's import of the document: valid against its DTD, with
    the project's start and the file's milestones."""
    out = os.path.join(work, "planner.xml")
    with open(out, "wb") as f:
        if subprocess.run(["xsltproc", PLANNER_XSL, xml], stdout=f, stderr=subprocess.DEVNULL).returncode:
            return f"Planner's import failed"
    if subprocess.run(["xmllint", "--noout", "--dtdvalid", PLANNER_DTD, out], capture_output=True).returncode:
        return "Planner's import is not valid against its DTD"
    import xml.etree.ElementTree as ET
    root = ET.parse(out).getroot()
    start = (ref.get("project") or {}).get("start")
    if start and root.get("project-start", "")[:8] != start[:10].replace("-", ""):
        return f"Planner reads the project start as {root.get('project-start')}, not {start}"
    ours = sorted(t.get("name") or "" for t in root.iter("task") if t.get("type") == "milestone")
    theirs = sorted(t.get("name") or "" for t in ref.get("tasks", []) if t.get("milestone") and t.get("uid") != 0)
    if ours != theirs:
        return f"Planner reads {len(ours)} milestones, the file holds {len(theirs)}"
    return None
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

    schema = os.path.join(tools, "..", "schema", "project-xml.xsd")
    planner = os.path.exists(PLANNER_XSL) and os.path.exists(PLANNER_DTD)
    if not planner:
        print("GNOME Planner's import stylesheet is not installed (planner-data): its import is not checked")
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
                    lint = subprocess.run(["xmllint", "--noout"] + (["--schema", schema] if os.path.exists(schema)
                                                                     else []) + [xml], capture_output=True)
                    if lint.returncode != 0:
                        failures.append(f"{stem}: malformed or invalid document: "
                                        + lint.stderr.decode(errors="replace")[:300])
                    if planner:
                        with open(os.path.join(corpus, "reference", stem + ".json"), encoding="utf-8") as f:
                            problem = check_planner(xml, json.load(f), work, failures)
                        if problem:
                            failures.append(f"{stem}: {problem}")
                elif run.returncode in (0, 10):
                    failures.append(f"{stem}: success without a document")
        ref_all = os.path.join(work, "ref-all")
        os.makedirs(ref_all)
        for stem in done:
            os.symlink(os.path.abspath(os.path.join(corpus, "reference", stem + ".json")),
                       os.path.join(ref_all, stem + ".json"))
        check_census(tools, all_xml, ref_all, floors.get("census", {}), failures)
        check_compare(tools, corpus, all_xml, floors.get("compare", {}), failures)
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
