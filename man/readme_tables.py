#!/usr/bin/env python3
"""The README's option and exit code tables are made from the man page.

  readme_tables.py --write README.md     rewrite the tables from man/mpprecover.1
  readme_tables.py --check README.md     fail when they differ from it
        [--help-of CLI]                  ... or when CLI --help lists other options
        [--version V]                    ... or when the man page is not of version V

Each table sits between "<!-- begin NAME: ... -->" and "<!-- end NAME -->"
in the README (NAME: options, exit-codes). In the man page's OPTIONS and
EXIT STATUS sections, the tag of an item (the line after .TP) uses \\fB and
\\fI only, and its first paragraph becomes its row.
"""

import argparse
import pathlib
import re
import subprocess
import sys

MAN = pathlib.Path(__file__).resolve().parent / "mpprecover.1"
NOTE = "generated from man/mpprecover.1 by man/readme_tables.py; edit the man page"


def sections(text):
    """{section name: [lines]} of a man page."""
    out, name = {}, None
    for line in text.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            out[name] = []
        elif name and not line.startswith('.\\"'):
            out[name].append(line)
    return out


def items(lines):
    """(tag, first paragraph) of every .TP item."""
    result, i = [], 0
    while i < len(lines):
        if lines[i] == ".TP":
            tag, body, i = lines[i + 1], [], i + 2
            while i < len(lines) and not lines[i].startswith("."):
                body.append(lines[i])
                i += 1
            result.append((tag, " ".join(body)))
        else:
            i += 1
    return result


def plain(text):
    """Roff escapes as plain text."""
    text = text.replace("\\-", "-").replace("\\&", "").replace("\\e", "\\")
    return re.sub(r"\\f[BIRP]", "", text)


def markdown(text):
    """A paragraph's escapes as Markdown: bold and lower-case italics as
    code, upper-case italics (placeholders) as they are."""
    def font(match):
        style, word = match.group(1), plain(match.group(2))
        if style == "I" and re.fullmatch(r"[A-Z]+", word):
            return word
        return f"`{word}`"
    text = re.sub(r"\\f([BI])(.*?)\\f[RP]", font, text)
    return plain(text).replace("|", "\\|")


def option_tag(tag):
    """"\\fB\\-o\\fR, \\fB\\-\\-output\\fR \\fIOUTPUT\\fR" -> "`-o`, `--output OUTPUT`"."""
    spans = re.findall(r"\\fB(.*?)\\fR(?: \\fI(.*?)\\fR)?", tag)
    if not spans:
        raise SystemExit(f"readme_tables: an option's tag has no \\fB: {tag!r}")
    return ", ".join(f"`{plain(name)}{' ' + plain(arg) if arg else ''}`" for name, arg in spans)


def option_names(man_text):
    names = set()
    for tag, _ in items(sections(man_text)["OPTIONS"]):
        names.update(plain(n) for n in re.findall(r"\\fB(.*?)\\fR", tag))
    return names


def tables(man_text):
    parts = sections(man_text)
    rows = ["| option | meaning |", "|---|---|"]
    for tag, body in items(parts["OPTIONS"]):
        rows.append(f"| {option_tag(tag)} | {markdown(body)} |")
    options = "\n".join(rows)
    rows = ["| exit code | library result | meaning |", "|---|---|---|"]
    for tag, body in items(parts["EXIT STATUS"]):
        match = re.fullmatch(r"\\fB(\d+)\\fR(?: \(\\fIresult\\fR (\\-)?(\d+)\))?", tag)
        if not match:
            raise SystemExit(f"readme_tables: an exit status's tag reads otherwise: {tag!r}")
        result = ("-" if match.group(2) else "") + match.group(3) if match.group(3) else ""
        rows.append(f"| {match.group(1)} | {result} | {markdown(body)} |")
    return {"options": options, "exit-codes": "\n".join(rows)}


def replace(readme, name, table):
    pattern = re.compile(rf"(<!-- begin {name}: [^>]*-->\n)(.*?)(<!-- end {name} -->)", re.S)
    if not pattern.search(readme):
        raise SystemExit(f"readme_tables: the README has no '<!-- begin {name}: ... -->' ... '<!-- end {name} -->'")
    return pattern.sub(lambda m: f"<!-- begin {name}: {NOTE} -->\n{table}\n{m.group(3)}", readme)


def main():
    ap = argparse.ArgumentParser()
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument("--write", metavar="README")
    mode.add_argument("--check", metavar="README")
    ap.add_argument("--help-of", metavar="CLI", help="check the options CLI --help lists too")
    ap.add_argument("--version", help="the project's version, which the man page must name")
    args = ap.parse_args()

    man_text = MAN.read_text(encoding="utf-8")
    readme_path = pathlib.Path(args.write or args.check)
    readme = readme_path.read_text(encoding="utf-8")
    wanted = readme
    for name, table in tables(man_text).items():
        wanted = replace(wanted, name, table)
    if args.write:
        readme_path.write_text(wanted, encoding="utf-8")
        return 0

    problems = []
    if wanted != readme:
        problems.append(f"{readme_path}'s tables differ from the man page: run "
                        f"python3 man/readme_tables.py --write {readme_path}")
    if args.version:
        th = re.search(r'^\.TH .*"mpprecover ([^"]+)"', man_text, re.M)
        if not th or th.group(1) != args.version:
            problems.append(f"the man page's .TH names version {th.group(1) if th else None}, "
                            f"the project is {args.version}")
    if args.help_of:
        help_text = subprocess.run([args.help_of, "--help"], capture_output=True, text=True,
                                   check=True).stdout
        listed = set()
        for line in help_text.splitlines():
            if re.match(r"\s+-", line):  # "  -o, --output OUTPUT   the output ..."
                listed.update(re.findall(r"(?<![\w-])(--?[a-z][\w-]*)", re.split(r"(?<=\S)\s{2,}", line.strip())[0]))
        documented = option_names(man_text)
        if listed - documented:
            problems.append(f"--help lists options the man page lacks: {sorted(listed - documented)}")
        if documented - listed:
            problems.append(f"the man page has options --help lacks: {sorted(documented - listed)}")
    for problem in problems:
        print(f"readme_tables: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
