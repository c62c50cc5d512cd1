"""The clean-up at exit: the files [PREREQ_CHAINER] lists, the configuration
file, the folders left empty inside the clean-up root, and the PowerShell
clean-up script, started through a stand-in powershell.exe that records its
command line and working folder."""

from __future__ import annotations

import re
import time
from pathlib import Path, PureWindowsPath

import pytest

from winehelp import PowerShellStandIn, Setup, chainer_config, to_windows

SEP = "\u0001"
# The characters PowerShell reads as a single quote.
PS_QUOTES = "'\u2018\u2019\u201a\u201b"
SWITCHES = "-NoProfile -NonInteractive -NoLogo -ExecutionPolicy RemoteSigned -Command "
SYSTEM_POWERSHELL = "c:\\windows\\system32\\windowspowershell\\v1.0\\powershell.exe"


# --------------------------------------------------------------------------
# Reading the stand-in's record back


def parse_ps_literal(text: str, pos: int) -> tuple[str, int]:
    """The value of the PowerShell single-quoted literal at `pos` and the
    position after it: any of the five quote characters opens and closes it,
    and two of them in a row inside stand for the second."""
    if pos >= len(text) or text[pos] not in PS_QUOTES:
        raise ValueError(f"no literal at {pos}: {text!r}")
    out = []
    i = pos + 1
    while i < len(text):
        c = text[i]
        if c in PS_QUOTES:
            if i + 1 < len(text) and text[i + 1] in PS_QUOTES:
                out.append(text[i + 1])
                i += 2
                continue
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise ValueError(f"literal never closed: {text!r}")


def parse_script_command(command: str) -> tuple[str, list[str], int]:
    """& '<copy>' -paths '<p1>','<p2>' -retry_count <n> -> (copy, paths, n)."""
    assert command.startswith("& "), command
    copy, i = parse_ps_literal(command, 2)
    assert command[i:].startswith(" -paths "), command
    i += len(" -paths ")
    paths = []
    while True:
        path, i = parse_ps_literal(command, i)
        paths.append(path)
        if command[i:i + 1] != ",":
            break
        i += 1
    m = re.fullmatch(r" -retry_count (-?\d+)", command[i:])
    assert m, command[i:]
    return copy, paths, int(m.group(1))


def split_program(cmdline: str) -> tuple[str, str]:
    """The program name (quoted or not) and the parameters after it."""
    if cmdline.startswith('"'):
        end = cmdline.index('"', 1)
        return cmdline[1:end], cmdline[end + 1:].lstrip(" ")
    program, _, rest = cmdline.partition(" ")
    return program, rest.lstrip(" ")


def script_start(record: dict[str, str]):
    """(program, copy, paths, retry count) from a record, after checking the
    switches and that the command is one double-quoted argument."""
    program, parameters = split_program(record["cmdline"])
    assert parameters.startswith(SWITCHES), parameters
    quoted = parameters[len(SWITCHES):]
    assert len(quoted) >= 2 and quoted[0] == '"' and quoted[-1] == '"', quoted
    command = quoted[1:-1]
    assert '"' not in command, command
    copy, paths, retry = parse_script_command(command)
    return program, copy, paths, retry


def test_literal_parser_reads_what_powershell_reads():
    assert parse_ps_literal("'a''b'", 0) == ("a'b", 6)
    assert parse_ps_literal("\u2018x\u2019\u2019y\u201b,", 0) == ("x\u2019y", 6)
    assert parse_script_command("& 'C:\\a b\\KX_1.ps1' -paths 'O''B','c' -retry_count 10") == \
        ("C:\\a b\\KX_1.ps1", ["O'B", "c"], 10)
    with pytest.raises(ValueError):
        parse_ps_literal("'a''", 0)


# --------------------------------------------------------------------------
# Fixtures and helpers


@pytest.fixture
def powershell(prefix):
    standin = PowerShellStandIn(prefix).install()
    yield standin
    standin.restore()


def win_equal(a: str, b: str) -> bool:
    return a.rstrip("\\").lower() == b.rstrip("\\").lower()


def place_setup(prefix, folder: Path, tmp_path: Path) -> Setup:
    """prereq.exe in `folder`, with its start folder and output outside the
    folders under test (Setup puts them beside the setup folder)."""
    setup = Setup(prefix, folder)
    setup.cwd.rmdir()
    setup.cwd = tmp_path / "start-cwd"
    setup.cwd.mkdir(exist_ok=True)
    return setup


def run(setup: Setup, tmp_path: Path, timeout: float = 120):
    proc = setup.start(output=tmp_path / f"run-{time.time_ns()}.out")
    return setup.finish(proc, timeout)


def cleanup_config(*, root: str | None = None, files: list[str] | None = None,
                   script: str | None = None, log: str | None = None,
                   section: str = "PREREQ_CHAINER", extra: str = "") -> str:
    lines = ["[GeneralOptions]", "Options=q", "[PREREQUISITES]", f"[{section}]"]
    if log is not None:
        lines.append(f"LogFile={log}")
    if root is not None:
        lines.append(f"CleanupFolders={root}")
    if files is not None:
        lines.append("CleanupFiles=" + SEP.join(files))
    if script is not None:
        lines.append(f"CleanupScript={script}")
    return "\n".join(lines) + "\n" + extra


def touch(path: Path, text: str = "x") -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return path


def no_script_started(powershell: PowerShellStandIn) -> bool:
    # The chainer returns once the shell has created the process; give a
    # started stand-in time to write its record.
    time.sleep(3)
    return powershell.records() == []


# --------------------------------------------------------------------------
# The clean-up script


def test_script_gets_the_quoted_paths_the_copy_and_the_working_folder(
        prefix, tmp_path, powershell, registry):
    root = tmp_path / "inst root"
    a = root / "O'Brien\u2018s app"
    b = a / "B b\u2019"
    setup = place_setup(prefix, b, tmp_path)
    scripts = touch(root / "it's scripts" / "clean up.ps1",
                    "param($paths, $retry_count)\r\n").parent
    script = scripts / "clean up.ps1"
    temp = tmp_path / "temp dir's \u201aq\u201b"
    temp.mkdir()
    for name in ("TEMP", "TMP"):
        registry(prefix, r"HKCU\Environment", name, "REG_SZ", to_windows(temp))
    setup.write_config(cleanup_config(root=to_windows(root), script=to_windows(script)))

    result = run(setup, tmp_path)

    assert result.code == 0, result
    records = powershell.wait_for(1)
    assert len(records) == 1, records
    record = records[0]
    program, copy, paths, retry = script_start(record)
    # PowerShell from the System folder (the stand-in's record proves that
    # the copy this process sees ran).
    assert program.lower() == SYSTEM_POWERSHELL, program
    # The script, the executable, its folder and each parent up to the root,
    # in this order, apostrophes and blanks intact.
    assert paths == [to_windows(script), to_windows(setup.exe), to_windows(b), to_windows(a)]
    assert retry == 10
    # The copy: a KX_*.ps1 in the temporary folder with the script's content.
    copy_path = PureWindowsPath(copy)
    assert win_equal(str(copy_path.parent), to_windows(temp)), copy
    assert re.fullmatch(r"KX_[0-9A-Fa-f]{1,4}\.ps1", copy_path.name), copy
    assert prefix.to_linux(copy).read_bytes() == script.read_bytes()
    assert sorted(p.name for p in temp.iterdir()) == [copy_path.name]  # no ".tmp" left
    # Started hidden, in the script's folder.
    assert win_equal(record["cwd"], to_windows(scripts)), record
    assert record["show"] == "0", record
    # On disk: the configuration file is gone; what the script is to remove
    # is still there.
    assert not setup.ini.exists()
    assert setup.exe.exists() and script.exists()


@pytest.mark.parametrize("beside", [True, False], ids=["A-full", "A-holds-only-B"])
def test_folder_holding_other_content_is_neither_removed_nor_handed_over(
        prefix, tmp_path, powershell, beside):
    root = tmp_path / "root"
    a = root / "A"
    b = a / "B"
    setup = place_setup(prefix, b, tmp_path)
    script = touch(root / "scripts" / "clean.ps1")
    readme = touch(b / "readme.txt")  # shipped beside the executable
    if beside:
        touch(a / "beside.txt")
    setup.write_config(cleanup_config(root=to_windows(root), script=to_windows(script)))

    result = run(setup, tmp_path)

    assert result.code == 0, result
    records = powershell.wait_for(1)
    assert len(records) == 1, records
    _, _, paths, _ = script_start(records[0])
    # B holds the executable and another file: neither B nor A goes to the
    # script, A also when B is all it holds (the script would take B with it).
    assert paths == [to_windows(script), to_windows(setup.exe)]
    assert readme.exists() and (a / "beside.txt").exists() == beside and setup.exe.exists()
    assert not setup.ini.exists()


def test_folder_beside_another_file_stops_the_walk(prefix, tmp_path, powershell):
    root = tmp_path / "root"
    a = root / "A"
    b = a / "B"
    setup = place_setup(prefix, b, tmp_path)
    script = touch(root / "scripts" / "clean.ps1")
    touch(a / "beside.txt")
    # A root with a trailing backslash walks the same way.
    setup.write_config(cleanup_config(root=to_windows(root) + "\\", script=to_windows(script)))

    result = run(setup, tmp_path)

    assert result.code == 0, result
    records = powershell.wait_for(1)
    assert len(records) == 1, records
    _, _, paths, _ = script_start(records[0])
    assert paths == [to_windows(script), to_windows(setup.exe), to_windows(b)]


# --------------------------------------------------------------------------
# Files and folders on disk


def test_deletes_listed_files_inside_the_root_and_keeps_the_rest(
        prefix, make_setup, tmp_path, powershell):
    setup = make_setup(prefix)  # outside the root
    root = tmp_path / "T"
    w = to_windows
    deleted = [touch(root / "x.txt"), touch(root / "sub" / "deeper" / "only.txt"),
               touch(root / "full" / "listed.txt"), touch(root / "a" / "b" / "c.txt")]
    kept = [touch(root / "keep.txt"), touch(root / "full" / "other.txt"),
            touch(root / "trail.txt"), touch(tmp_path / "Tools" / "t.txt"),
            touch(tmp_path / "T2" / "t2.txt"), touch(tmp_path / "outside.txt"),
            touch(tmp_path / "outer" / "o.txt")]
    files = ["", w(root / "x.txt"), "",                          # separators doubled
             w(root) + "\\sub\\\\deeper\\only.txt",             # doubled backslash
             w(root / "full" / "listed.txt"),
             w(root / "a" / "b" / "c.txt"),
             w(root / "missing.txt"),                            # not on disk
             "keep.txt", "T\\keep.txt", ".\\keep.txt",            # relative
             w(root / "trail.txt") + "\\",                       # names a folder
             w(tmp_path / "Tools" / "t.txt"),                    # C:\T is not C:\Tools
             w(root) + "2\\t2.txt",
             w(root) + "\\..\\outside.txt",                       # ".." leads out
             w(root) + "\\sub\\..\\..\\outer\\o.txt",
             ""]                                                  # one at the end
    setup.write_config(cleanup_config(root=w(root), files=files))

    result = run(setup, tmp_path)

    assert result.code == 0, result
    for path in deleted:
        assert not path.exists(), path
    for path in kept:
        assert path.exists(), path
    # Folders left empty are removed up to the root, which stays; a folder
    # that still holds a file stays.
    assert not (root / "sub").exists() and not (root / "a").exists()
    assert (root / "full").is_dir() and root.is_dir()
    # The configuration file goes although it lies outside the root; the
    # executable stays for the script, which is not configured here.
    assert not setup.ini.exists()
    assert setup.exe.exists()
    assert no_script_started(powershell)


@pytest.mark.parametrize("section", ["GeneralOptions", "prereq_chainer", None],
                         ids=["keys-elsewhere", "other-case", "no-section"])
def test_without_the_chainer_section_nothing_is_touched(
        prefix, make_setup, tmp_path, powershell, section):
    setup = make_setup(prefix)
    root = tmp_path / "T"
    listed = touch(root / "x.txt")
    script = touch(root / "clean.ps1")
    if section is None:
        text = chainer_config(log=None)
    else:
        text = cleanup_config(root=to_windows(root), files=[to_windows(listed)],
                              script=to_windows(script), section="X").replace(
            "[X]", f"[{section}]")
    setup.write_config(text)

    result = run(setup, tmp_path)

    assert result.code == 0, result
    assert setup.ini.exists() and listed.exists() and script.exists()
    assert no_script_started(powershell)


def test_cleanup_runs_when_the_run_fails(prefix, tmp_path, powershell):
    root = tmp_path / "root"
    setup = place_setup(prefix, root / "setup", tmp_path)
    listed = touch(root / "data" / "x.txt")
    script = touch(root / "scripts" / "clean.ps1")
    # A mandatory prerequisite whose file is missing: exit code 1.
    extra = "\n".join(["[PREREQUISITES]", "App1=id1", "[App1]", "DisplayName=Gone",
                       "SetupFile=missing.exe", "Options=m", "Operator=1"]) + "\n"
    text = cleanup_config(root=to_windows(root), files=[to_windows(listed)],
                          script=to_windows(script))
    text = text.replace("[PREREQUISITES]\n", "") + extra
    text = text.replace("Options=q\n", f"Options=q\nExtractionFolder={to_windows(setup.folder)}\n")
    setup.write_config(text)

    result = run(setup, tmp_path)

    assert result.code == 1, result
    assert not listed.exists() and not (root / "data").exists()
    assert not setup.ini.exists()
    records = powershell.wait_for(1)
    assert len(records) == 1, records
    _, _, paths, _ = script_start(records[0])
    assert paths == [to_windows(script), to_windows(setup.exe), to_windows(setup.folder)]
