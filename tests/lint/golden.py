#!/usr/bin/python3
"""Golden tests of prereq-lint.

Every configuration of examples/ and every case of tests/lint/cases/ is
written the way a setup ships it (UTF-16 LE with a byte-order mark and CR LF
line ends) into a folder of its own, checked with prereq-lint, and the output
and exit status are compared with NAME.expected beside the source:

- examples/*.ini must give no errors; their placeholders (@URL@ and the like,
  filled in by scripts/demo.sh) get fixed values first;
- each case of tests/lint/cases/ holds one mistake and must produce its
  finding; the cases named clean* hold none and must give none.

A case may begin with directive lines that are not part of the file:
    ;lint: encoding=utf-8|utf-16-be|utf-16-le|cp1252  eol=lf|crlf  bom=no
    ;lint: files=redist\\tool.exe,detect.exe     (shipped files beside it)
    ;lint: args=--json                          (further arguments)

    golden.py --lint PATH [--update] [--only NAME]

The same functions serve the end-to-end test of the Windows build
(tests/e2e/test_lint_windows.py), which must print the same findings.
"""

from __future__ import annotations

import argparse
import difflib
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
CASES = HERE / "cases"
EXAMPLES = REPO / "examples"
EXAMPLE_GOLDEN = HERE / "examples"

# Files that the examples' setups ship beside their configuration.
EXAMPLE_FILES = {
    "typical": [r"redist\helper.msi", r"redist\legacy\setup.exe", r"redist\detect-legacy.exe"],
}

# What scripts/demo.sh fills into examples/demo.ini, with fixed values.
PLACEHOLDERS = {
    "@DEMO_DIR@": r"C:\Demo",
    "@URL@": "http://127.0.0.1:8000/runtime.msi",
    "@MD5@": "0123456789abcdef0123456789abcdef",
    "@SIZE@": "20480",
}


@dataclass
class Case:
    name: str            # the file name the checker sees (NAME.ini)
    source: Path
    golden: Path
    data: bytes          # the file as shipped
    files: list[str] = field(default_factory=list)
    args: list[str] = field(default_factory=list)
    example: bool = False


def encode(text: str, encoding: str = "utf-16-le", eol: str = "crlf", bom: bool = True) -> bytes:
    text = text.replace("\r\n", "\n")
    if eol == "crlf":
        text = text.replace("\n", "\r\n")
    marks = {"utf-16-le": b"\xff\xfe", "utf-16-be": b"\xfe\xff"}
    return (marks.get(encoding, b"") if bom else b"") + text.encode(encoding)


def load_case(source: Path, golden: Path, example: bool = False) -> Case:
    text = source.read_text(encoding="utf-8")
    options = {"encoding": "utf-16-le", "eol": "crlf", "bom": "yes"}
    files: list[str] = []
    args: list[str] = []
    lines = text.split("\n")
    while lines and lines[0].startswith(";lint:"):
        for item in lines.pop(0)[len(";lint:"):].split():
            key, _, value = item.partition("=")
            if key == "files":
                files += [f for f in value.split(",") if f]
            elif key == "args":
                args += value.split(",")
            else:
                options[key] = value
    text = "\n".join(lines)
    if example:
        for placeholder, value in PLACEHOLDERS.items():
            text = text.replace(placeholder, value)
    data = encode(text, options["encoding"], options["eol"], options["bom"] != "no")
    if example:
        files += EXAMPLE_FILES.get(source.stem, [])
    return Case(name=source.stem.split(".")[0] + ".ini", source=source, golden=golden, data=data,
                files=files, args=args, example=example)


def all_cases() -> list[Case]:
    cases = [load_case(p, EXAMPLE_GOLDEN / (p.stem + ".expected"), example=True)
             for p in sorted(EXAMPLES.glob("*.ini"))]
    cases += [load_case(p, p.with_suffix(".expected")) for p in sorted(CASES.glob("*.ini"))]
    return cases


def prepare(case: Case, root: Path) -> Path:
    """Writes the case's file and its shipped files into a folder of its own."""
    folder = root / case.source.stem
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    (folder / case.name).write_bytes(case.data)
    for f in case.files:
        path = folder / f.replace("\\", "/")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"MZ shipped file")
    return folder


def result_text(stdout: str, status: int) -> str:
    return stdout.replace("\r\n", "\n") + f"exit {status}\n"


def run_native(lint: Path, case: Case, root: Path) -> str:
    folder = prepare(case, root)
    proc = subprocess.run([str(lint), *case.args, case.name], cwd=folder, capture_output=True,
                          text=True, encoding="utf-8", stdin=subprocess.DEVNULL, timeout=120)
    if proc.returncode not in (0, 1, 2) or "ERROR: AddressSanitizer" in proc.stderr \
            or "runtime error" in proc.stderr:
        raise RuntimeError(f"{case.name}: prereq-lint failed ({proc.returncode}):\n{proc.stderr}")
    return result_text(proc.stdout, proc.returncode)


def check(case: Case, actual: str, update: bool) -> list[str]:
    """Problems of one case: a golden mismatch, errors in an example."""
    problems = []
    if case.example and actual.rstrip().endswith("exit 2"):
        problems.append(f"{case.source}: an example must give no errors:\n{actual}")
    if update:
        case.golden.parent.mkdir(parents=True, exist_ok=True)
        case.golden.write_text(actual, encoding="utf-8")
        return problems
    expected = case.golden.read_text(encoding="utf-8") if case.golden.exists() else ""
    if actual != expected:
        diff = "".join(difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                            str(case.golden), "actual"))
        problems.append(f"{case.source}: output differs from {case.golden.name}:\n{diff}")
    clean = case.example or case.source.stem == "clean" or case.source.stem.startswith("clean-")
    if clean != actual.endswith("exit 0\n") and not case.example:
        problems.append(f"{case.source}: " + ("a clean case must give no finding" if clean
                                             else "a faulty case must produce a finding"))
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lint", required=True, type=lambda p: Path(p).absolute(),
                        help="the prereq-lint command")
    parser.add_argument("--update", action="store_true", help="rewrite the golden files")
    parser.add_argument("--only", help="run only cases whose name contains this")
    args = parser.parse_args()
    problems = []
    count = 0
    with tempfile.TemporaryDirectory(prefix="prereq-lint-golden-") as tmp:
        for case in all_cases():
            if args.only and args.only not in case.source.name:
                continue
            count += 1
            problems += check(case, run_native(args.lint, case, Path(tmp)), args.update)
    for p in problems:
        print(p, file=sys.stderr)
    print(f"lint golden: {count} configurations, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
