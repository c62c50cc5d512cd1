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

Then the command line itself: usage mistakes, stamping a small executable
made here and reading its version back (COMMAND_LINES).

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
import re
import shutil
import struct
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


def small_executable(version: tuple[int, int, int, int] | None = None) -> bytes:
    """A PE32 image: headers of 0x400 bytes, .text at 0x1000 with 0x200
    bytes of file data, and with a version, .rsrc at 0x2000 holding a
    version resource with that fixed file version and no strings."""
    sections = [(b".text", b"\xc3" * 16, 0x60000020)]
    if version:
        key = "VS_VERSION_INFO\0".encode("utf-16-le")
        fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, version[0] << 16 | version[1],
                            version[2] << 16 | version[3], version[0] << 16 | version[1],
                            version[2] << 16 | version[3], 0x3F, 0, 0x40004, 1, 0, 0, 0)
        node = struct.pack("<HHH", 6 + len(key) + 2 + len(fixed), len(fixed), 0) + key + b"\0\0" + fixed
        rsrc = bytearray(0x60)
        struct.pack_into("<HHII", rsrc, 0x0C, 0, 1, 16, 0x80000000 | 0x18)    # type 16
        struct.pack_into("<HHII", rsrc, 0x24, 0, 1, 1, 0x80000000 | 0x30)     # name 1
        struct.pack_into("<HHII", rsrc, 0x3C, 0, 1, 1033, 0x48)               # language
        struct.pack_into("<II", rsrc, 0x48, 0x2000 + 0x60, len(node))        # data entry
        sections.append((b".rsrc", bytes(rsrc) + node, 0x40000040))
    image = bytearray(0x400)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", image, 0x84, 0x14C, len(sections), 0, 0, 0, 0xE0, 0x102)
    opt = 0x98
    struct.pack_into("<H", image, opt, 0x10B)
    struct.pack_into("<II", image, opt + 32, 0x1000, 0x200)  # section and file alignment
    struct.pack_into("<II", image, opt + 56, 0x1000 * (1 + len(sections)), 0x400)  # image, headers
    struct.pack_into("<I", image, opt + 92, 16)              # data directories
    for i, (name, data, flags) in enumerate(sections):
        header = opt + 0xE0 + 40 * i
        image[header:header + len(name)] = name
        struct.pack_into("<IIII", image, header + 8, len(data), 0x1000 * (i + 1), 0x200, len(image))
        struct.pack_into("<I", image, header + 36, flags)
        if name == b".rsrc":
            struct.pack_into("<II", image, opt + 96 + 2 * 8, 0x1000 * (i + 1), len(data))
        image += data + bytes(0x200 - len(data))
    return bytes(image)


def program_version() -> str:
    text = (REPO / "src" / "resources" / "version.h").read_text(encoding="utf-8")
    return ".".join(re.search(rf"PREREQ_VERSION_{part} (\d+)", text).group(1)
                    for part in ("MAJOR", "MINOR", "BUILD", "REVISION"))


# The command line: (arguments, exit status, text the output must hold).
# Files: prog.exe (small_executable), ver.exe (the same with version
# 1.2.3.4), broken.exe (its version node too long), icon.ico (one 16x16
# image), text.txt; out.exe and kept.exe are
# written by the stamping rows and read by the later ones.
COMMAND_LINES = [
    ([], 2, "no configuration file given"),
    (["--version"], 0, "prereq-lint "),
    (["--help"], 0, "--show-version"),
    (["--json", "--bogus", "a.ini"], 2, "unknown option --bogus"),
    (["--setup-folder"], 2, "--setup-folder needs a folder"),
    (["--stamp"], 2, "--stamp needs the program"),
    (["--stamp", "prog.exe", "--product-name", "Acme"], 2, "--stamp needs --output"),
    (["--stamp", "prog.exe", "--output", "out.exe"], 2, "--stamp needs a --product-name"),
    (["--stamp", "prog.exe", "--output", "out.exe", "--product-name", ""], 2, "--stamp needs a --product-name"),
    (["--stamp", "prog.exe", "--output", "prog.exe", "--product-name", "A"], 2, "must not be the program itself"),
    (["--stamp", "text.txt", "--output", "out.exe", "--product-name", "A"], 2, "no MZ header"),
    (["--stamp", "prog.exe", "--output", "out.exe", "--product-name", "A", "--icon", "none.ico"], 2, "none.ico"),
    (["--stamp", "prog.exe", "--output", "out.exe", "--product-name", "A", "--icon", "text.txt"], 2,
     "not an icon file"),
    (["--show-version", "text.txt"], 2, "no MZ header"),
    (["--show-version", "prog.exe"], 0, "no version resource\nIcon groups: 0\n"),
    (["--stamp", "prog.exe", "--output", "out.exe", "--product-name", "Acme Kit", "--file-description",
      "Installs Acme", "--icon", "icon.ico", "--portable"], 0, 'stamped out.exe: product name "Acme Kit"'),
    (["--show-version", "out.exe"], 0,
     "ProductName: Acme Kit\nFileDescription: Installs Acme\nFileVersion: \n"
     f"Fixed file version: {program_version()}\nIcon groups: 1\n"),
    (["--show-version", "ver.exe"], 0,
     "ProductName: \nFileDescription: \nFileVersion: \nFixed file version: 1.2.3.4\nIcon groups: 0\n"),
    (["--stamp", "ver.exe", "--output", "kept.exe", "--product-name", "Kept", "--portable"], 0, "stamped"),
    (["--show-version", "kept.exe"], 0, "ProductName: Kept\nFileDescription: \nFileVersion: \n"
                                        "Fixed file version: 1.2.3.4\nIcon groups: 0\n"),
    (["--show-version", "broken.exe"], 2, "malformed version resource"),
    (["--show-version"], 2, "--show-version needs the program"),
    (["--doc-table", "nonesuch"], 2, "--doc-table needs one of:"),
    (["--keys", "Nonesuch"], 2, "--keys needs GeneralOptions"),
]


def command_line_problems(lint: Path, root: Path) -> list[str]:
    folder = root / "command-line"
    folder.mkdir()
    (folder / "prog.exe").write_bytes(small_executable())
    (folder / "ver.exe").write_bytes(small_executable((1, 2, 3, 4)))
    broken = bytearray(small_executable((1, 2, 3, 4)))
    struct.pack_into("<H", broken, 0x660, 0xFFFF)  # the version node claims more than its resource
    (folder / "broken.exe").write_bytes(bytes(broken))
    icon = bytearray(struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, 40, 22))
    (folder / "icon.ico").write_bytes(bytes(icon) + bytes(range(40)))
    (folder / "text.txt").write_bytes(b"not a program\n")
    problems = []
    for args, status, text in COMMAND_LINES:
        proc = subprocess.run([str(lint), *args], cwd=folder, capture_output=True, text=True,
                              encoding="utf-8", stdin=subprocess.DEVNULL, timeout=120)
        output = (proc.stdout + proc.stderr).replace("\r\n", "\n")
        if proc.returncode != status or text not in output:
            problems.append(f"prereq-lint {' '.join(args)}: exit {proc.returncode} (wanted {status}), "
                            f"output without {text!r}:\n{output}")
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
        if not args.only and not args.update:
            problems += command_line_problems(args.lint, Path(tmp))
    for p in problems:
        print(p, file=sys.stderr)
    print(f"lint golden: {count} configurations and {len(COMMAND_LINES)} command lines, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
