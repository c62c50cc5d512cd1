#!/usr/bin/python3
"""The tables of the setup authors' guide (docs/) that the program holds
itself, taken from the code so that the guide cannot drift from it.

Generated tables stand between two markers and are written by this script
from `prereq-lint --doc-table NAME`:

    <!-- generated: NAME -->
    | ... |
    <!-- end generated: NAME -->

Key tables are written by hand (their Default and Effect columns are prose)
but their keys, types and order are checked against the loaders' own key
tables (`prereq-lint --keys SECTION`); a key that has no effect in the code
must say "No effect" in the guide:

    <!-- keys: SECTION -->
    | Key | Type | Default | Effect |
    | `Options` | letters | empty | ... |
    <!-- end keys: SECTION -->

    doc-tables.py --lint PATH            rewrite the generated tables
    doc-tables.py --lint PATH --check    fail when a table differs (CI)
"""

from __future__ import annotations

import argparse
import re
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
DOCS = REPO / "docs"

GENERATED = re.compile(r"(<!-- generated: (?P<name>[\w-]+) -->\n)(?P<body>.*?)(<!-- end generated: (?P=name) -->)",
                       re.S)
KEYS = re.compile(r"<!-- keys: (?P<section>\w+) -->\n(?P<body>.*?)<!-- end keys: (?P=section) -->", re.S)


def lint(tool: Path, *args: str) -> str:
    return subprocess.run([str(tool), *args], check=True, capture_output=True, text=True,
                          encoding="utf-8", stdin=subprocess.DEVNULL).stdout


def table_rows(body: str) -> list[list[str]]:
    """The cells of a Markdown table's rows after its header and rule."""
    rows = []
    for line in body.splitlines():
        if not line.startswith("|"):
            continue
        cells = [c.strip() for c in re.split(r"(?<!\\)\|", line.strip())[1:-1]]
        if all(re.fullmatch(r":?-+:?", c) for c in cells):
            continue
        rows.append(cells)
    return rows[1:]  # without the header


def check_keys(tool: Path, path: Path, text: str) -> list[str]:
    problems = []
    for m in KEYS.finditer(text):
        section = m.group("section")
        expected = [line.split("\t") for line in lint(tool, "--keys", section).splitlines()]
        documented = []
        for cells in table_rows(m.group("body")):
            key = re.sub(r"<k>$", "", cells[0].strip("`").replace("`", ""))
            documented.append((key, cells[1], cells[-1]))
        keys_code = [(k, t) for k, t, _ in expected]
        keys_doc = [(k, t) for k, t, _ in documented]
        if keys_code != keys_doc:
            problems.append(f"{path.name}: the keys of {section} differ from the code:\n"
                            f"  code:  {keys_code}\n  guide: {keys_doc}")
            continue
        for (key, _, use), (_, _, effect) in zip(expected, documented):
            if (use == "no effect") != effect.startswith("No effect"):
                problems.append(f"{path.name}: {section} {key}: the code says "
                                f"\"{use}\", the guide says \"{effect[:40]}...\"")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lint", required=True, type=lambda p: Path(p).absolute(),
                        help="the prereq-lint command")
    parser.add_argument("--check", action="store_true", help="only compare, change nothing")
    args = parser.parse_args()
    problems = []
    seen = set()
    for path in sorted(DOCS.glob("*.md")):
        text = path.read_text(encoding="utf-8")

        def replace(m: re.Match) -> str:
            seen.add(m.group("name"))
            table = lint(args.lint, "--doc-table", m.group("name"))
            if args.check and m.group("body") != table:
                problems.append(f"{path.name}: the generated table {m.group('name')} differs from "
                                f"the code (run make docs)")
            return m.group(1) + table + m.group(4)

        new = GENERATED.sub(replace, text)
        problems += check_keys(args.lint, path, new)
        if not args.check and new != text:
            path.write_text(new, encoding="utf-8")
    missing = set(lint(args.lint, "--doc-tables").split()) - seen
    problems += [f"docs/: no page shows the generated table {name}" for name in sorted(missing)]
    for p in problems:
        print(p, file=sys.stderr)
    if args.check:
        print(f"doc tables: {len(seen)} generated tables, {len(problems)} problems")
        return 1 if problems else 0
    print(f"doc tables: {len(seen)} generated tables written")
    return 0


if __name__ == "__main__":
    sys.exit(main())
