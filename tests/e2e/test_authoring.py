"""The setup authors' tools under Wine: prereq-lint.exe gives the golden
findings of the Linux command, prereq-plan.exe decides as a real run of
prereq.exe decides on the same configuration and machine (and names the
paths and command lines the install loop then uses), and a copy of
prereq.exe stamped with a product name shows it in its window title, whether
the Linux rewriter or the system's resource functions stamped it."""

from __future__ import annotations

import functools
import http.server
import json
import re
import shutil
import struct
import subprocess
import sys
import threading
import time
import uuid
from pathlib import Path

import pytest

from test_startup import MutexHolder, visible_windows
from winehelp import BUILD, BUILD_ROOT, REPO, TOOLS, read_log, to_windows

sys.path.insert(0, str(REPO / "tests" / "lint"))
import golden  # noqa: E402

LINT_EXE = BUILD / "prereq-lint.exe"
PLAN_EXE = BUILD / "prereq-plan.exe"
OS_NOT_SUPPORTED = "No acceptable version found. Operating System not supported."


def native_lint() -> Path:
    for candidate in (BUILD_ROOT / "host" / "prereq-lint", BUILD_ROOT / "native" / "prereq-lint"):
        if candidate.exists():
            return candidate
    pytest.fail("no native prereq-lint (make build builds build/host/prereq-lint)")


def need(*paths: Path):
    missing = [str(p) for p in paths if not p.exists()]
    if missing:
        pytest.fail("not built: " + ", ".join(missing))


# --------------------------------------------------------------------------
# prereq-lint.exe


def test_windows_checker_gives_the_golden_findings(prefix32, tmp_path):
    need(LINT_EXE)
    problems = []
    for case in golden.all_cases():
        folder = golden.prepare(case, tmp_path)
        out = tmp_path / f"{case.source.stem}.out"
        proc = prefix32.popen([LINT_EXE, *case.args, case.name], cwd=folder, output=out)
        status = proc.wait(120)
        # Standard error (the counts) goes to the same file: keep the findings.
        text = "".join(line + "\n" for line in out.read_text(encoding="utf-8").splitlines()
                       if not re.fullmatch(r"\d+ error\(s\), \d+ warning\(s\)", line))
        actual = golden.result_text(text, status)
        expected = case.golden.read_text(encoding="utf-8")
        if actual != expected:
            problems.append(f"{case.source.name}:\nexpected:\n{expected}\nactual:\n{actual}")
    assert not problems, "\n".join(problems)


# --------------------------------------------------------------------------
# prereq-plan.exe against a real run


def write_config(setup, prereqs: list[dict], options: str, log: Path | None = None) -> Path:
    lines = ["[GeneralOptions]", f"Options={options}",
             f"ExtractionFolder={setup.win(setup.folder)}",
             f"DownloadFolder={setup.win(setup.folder / 'dl')}", "[PREREQUISITES]"]
    lines += [f"App{i}=id{i}" for i in range(1, len(prereqs) + 1)]
    if log is not None:
        lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    for i, p in enumerate(prereqs, 1):
        lines.append(f"[App{i}]")
        body = dict(p)
        searches = body.pop("searches", [])
        lines += [f"{k}={v}" for k, v in body.items()]
        for k, entry in enumerate(searches, 1):
            lines += [f"{key}{k}={value}" for key, value in entry.items()]
    return setup.write_config("\n".join(lines) + "\n")


def plan(prefix, setup, *extra) -> dict:
    need(PLAN_EXE)
    out = setup.folder.parent / f"plan-{uuid.uuid4().hex[:6]}.json"
    proc = prefix.popen([PLAN_EXE, "--json", *extra, setup.win(setup.ini)], output=out)
    status = proc.wait(120)
    text = out.read_text(encoding="utf-8")
    assert status == 0, text
    return json.loads(text[text.index("{"):])


def run_decisions(lines: list[str], names: list[str]) -> dict[str, tuple[str, bool]]:
    """(decision, selected) of each prerequisite as the run's log tells it:
    the first "Search result:" after "Searching for:<name>", or "Operating
    System not supported" for "Wrong OS or Os language for:" and for a
    prerequisite never searched for (the processor rule logs nothing); the
    selection flips at each "Prerequisite selected for install:" line."""
    decisions = {}
    for name in names:
        if f"Wrong OS or Os language for:{name}" in lines or f"Searching for:{name}" not in lines:
            decision = OS_NOT_SUPPORTED
        else:
            i = lines.index(f"Searching for:{name}")
            decision = next(line for line in lines[i + 1:] if line.startswith("Search result:"))
            decision = decision[len("Search result:"):]
        flips = lines.count(f"Prerequisite selected for install:{name}")
        decisions[name] = (decision, flips % 2 == 1)
    return decisions


@pytest.fixture
def regkey(prefix):
    key = rf"HKCU\Software\PrereqPlanE2E\{uuid.uuid4().hex[:8]}"
    yield key
    prefix.wine(["reg", "delete", key, "/f"])


def test_plan_decides_as_a_run_decides(prefix, make_setup, display, regkey):
    prefix.reg_add(regkey, "Version", "REG_SZ", "4.8.09032")
    prefix.reg_add(regkey, "Level", "REG_DWORD", 12)
    prefix.reg_add(regkey + r"\Sub\2.5", "x", "REG_SZ", "")
    setup = make_setup(prefix)
    shutil.copyfile(TOOLS / "detect.exe", setup.folder / "detect.exe")
    mark = setup.folder / "detect.txt"
    url = "http://127.0.0.1:9/pkg.exe"
    prereqs = [
        {"DisplayName": "Installed by version", "Url": url, "searches": [
            {"SearchType": 2, "SearchString": regkey + r"\Version", "VerMin": "4.8", "VerMax": "4.8.9999"}]},
        {"DisplayName": "Too old", "Url": url, "searches": [
            {"SearchType": 2, "SearchString": regkey + r"\Version", "VerMin": "4.9"}]},
        {"DisplayName": "Compared", "SetupFile": "tool.exe", "searches": [
            {"SearchType": 9, "SearchString": regkey + r"\Level", "RefContent": "G10"},
            {"SearchType": 1, "SearchString": regkey + r"\Sub", "VerMin": "2.0"}]},
        {"DisplayName": "Or stops early", "OpenSite": "https://example.com/", "Operator": 1,
         "searches": [{"SearchType": 6, "SearchString": regkey + r"\Missing"},
                      {"SearchType": 10, "SearchString": "detect.exe",
                       "SearchCmdLine": f"0 {setup.win(mark)}", "RefContent": "WND_HIDE"}]},
        {"DisplayName": "Detected by program", "Url": url, "searches": [
            {"SearchType": 10, "SearchString": "detect.exe", "SearchCmdLine": f"1 {setup.win(mark)}",
             "RefContent": "WND_HIDE"}]},
        {"DisplayName": "Excluded system", "Url": url,
         "WinNTVersions": "Windows 7 x86, Windows 10 x86", "WinNT64Versions": "Windows 7 x64, Windows 10 x64"},
        {"DisplayName": "Excluded language", "Url": url, "LanguageList": "1;"},
        {"DisplayName": "Only on ARM64", "Url": url, "Options": "d"},
        {"DisplayName": "Skips detection", "SetupFile": "tool.exe", "Options": "i"},
        {"DisplayName": "Nothing to search", "Url": url, "Operator": 1},
        {"DisplayName": "Child", "Url": url, "ParentPrereq": "Installed by version", "searches": [
            {"SearchType": 5, "SearchString": regkey + r"\Missing"}]},
        {"DisplayName": "Parent of a child", "SetupFile": "tool.exe", "ParentPrereq": "Nobody", "searches": [
            {"SearchType": 5, "SearchString": regkey}]},
        {"DisplayName": "Unknown kind", "Url": url, "searches": [{"SearchType": 99, "SearchString": "x"}]},
    ]
    names = [p["DisplayName"] for p in prereqs]
    write_config(setup, prereqs, options="")
    planned = plan(prefix, setup)
    log = setup.folder / "run.log"
    write_config(setup, prereqs, options="", log=log)
    result = setup.run(timeout=180)
    assert result.code == 0, result
    lines = read_log(log).lines
    ran = run_decisions(lines, names)
    by_plan = {p["displayName"]: (p["decision"], p["selected"]) for p in planned["prerequisites"]}
    assert by_plan == ran, (by_plan, lines)
    # Neither q nor b: a run obtains nothing, and the plan says so.
    assert planned["mode"] == "search-only"
    assert (planned["encoding"], planned["lineEnds"]) == ("utf-16-le", "crlf")
    # The machine as the plan names it is the one the exclusion lists name.
    machine = planned["machine"]
    assert machine["generalName"] == ("Windows 7 x64" if prefix.is64 else "Windows 7 x86")
    excluded = next(p for p in planned["prerequisites"] if p["displayName"] == "Excluded system")
    assert excluded["conditions"]["osAllowed"] is False
    assert excluded["conditions"]["osListKey"] == ("WinNT64Versions" if prefix.is64 else "WinNTVersions")
    language = next(p for p in planned["prerequisites"] if p["displayName"] == "Excluded language")
    assert language["conditions"]["languageAllowed"] is False
    # What each search found.
    by_name = {p["displayName"]: p for p in planned["prerequisites"]}
    first = by_name["Installed by version"]["searches"][0]
    assert first["values"] == ["4.8.09032"] and first["found"] is True
    compared = by_name["Compared"]["searches"]
    assert compared[0]["value"] == "12" and compared[0]["found"] is True
    assert compared[1]["values"] == ["2.5"] and compared[1]["found"] is True
    stops = by_name["Or stops early"]["searches"]
    assert stops[0]["found"] is True and stops[1]["ran"] is False
    # The detection program ran for the plan and for the run: twice in all.
    assert mark.exists() and mark.read_text().count("\n") == 2


def test_plan_names_the_paths_and_command_lines_of_the_install_loop(prefix32, make_setup, tmp_path):
    prefix = prefix32
    www = tmp_path / "www"
    www.mkdir()
    shutil.copyfile(TOOLS / "package.exe", www / "pkg.exe")

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0),
                                            functools.partial(Quiet, directory=str(www)))
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    try:
        setup = make_setup(prefix)
        shutil.copyfile(TOOLS / "package.exe", setup.folder / "package.exe")
        marker = setup.folder / "marker.txt"
        size = (www / "pkg.exe").stat().st_size
        prereqs = [
            {"DisplayName": "Shipped", "SetupFile": "package.exe",
             "NoUiCommandLine": f"0 {setup.win(marker)} shipped [WindowsFolder]as-written",
             "searches": [{"SearchType": 5, "SearchString": r"HKCU\Software\PrereqPlanE2E\NoSuchKey"}]},
            {"DisplayName": "Downloaded", "Folder": "sub?renamed.exe", "ExactSize": size,
             "Url": f"http://127.0.0.1:{httpd.server_address[1]}/pkg.exe",
             "NoUiCommandLine": f"0 {setup.win(marker)} downloaded [WindowsFolder]expanded",
             "searches": [{"SearchType": 5, "SearchString": r"HKCU\Software\PrereqPlanE2E\NoSuchKey"}]},
        ]
        write_config(setup, prereqs, options="q")
        planned = {p["displayName"]: p for p in plan(prefix, setup)["prerequisites"]}
        log = setup.folder / "run.log"
        write_config(setup, prereqs, options="q", log=log)
        result = setup.run(timeout=180)
        assert result.code == 0, result
        lines = read_log(log).lines
    finally:
        httpd.shutdown()
        httpd.server_close()

    launched = [line[len("Launching file:"):] for line in lines if line.startswith("Launching file:")]
    shipped, downloaded = planned["Shipped"]["action"], planned["Downloaded"]["action"]
    assert shipped["name"] == "run the shipped file"
    assert downloaded["name"] == "download, then run"
    assert downloaded["target"] == downloaded["run"]
    assert downloaded["target"].endswith("\\dl\\sub\\renamed.exe")
    assert launched == [shipped["run"], downloaded["run"]], (planned, lines)
    # The command lines the packages received end with what the plan named.
    received = [line.split(" cmd=", 1)[1] for line in marker.read_text().splitlines()]
    assert len(received) == 2, received
    assert received[0].endswith(" " + shipped["commandLine"]), (received, shipped)
    assert received[1].endswith(" " + downloaded["commandLine"]), (received, downloaded)
    assert "[WindowsFolder]as-written" in shipped["commandLine"]  # through the shell as written
    assert "[WindowsFolder]" not in downloaded["commandLine"]
    assert downloaded["commandLineKey"] == "NoUiCommandLine"


def test_plan_text_names_the_machine_and_each_step(prefix32, make_setup):
    setup = make_setup(prefix32)
    write_config(setup, [{"DisplayName": "Runtime", "Url": "https://example.com/r.exe",
                          "NoUiCommandLine": "/quiet", "ExitCodes": "1638:failure, 0x5:retry",
                          "searches": [
                              {"SearchType": 5, "SearchString": r"HKLM\Software\NoSuchVendor"}]},
                         {"DisplayName": "Dropped"}],
                 options="q")
    out = setup.folder.parent / "plan.txt"
    status = prefix32.popen([PLAN_EXE, setup.win(setup.ini)], output=out).wait(120)
    text = out.read_text(encoding="utf-8")
    assert status == 0, text
    arch = "x64" if prefix32.is64 else "x86"
    for part in (f"system names: \"Windows 7 SP1 {arch}\" (detailed), \"Windows 7 {arch}\" (general)",
                 "App1 \"Runtime\" (Url \"https://example.com/r.exe\")",
                 "1. SearchType 5 RegistryKeyExists \"HKLM\\Software\\NoSuchVendor\" -> not found",
                 "decision: No acceptable version found. It must be downloaded.",
                 "action: download, then run: download \"https://example.com/r.exe\" to \"",
                 "the list ends at App2: it has none of SetupFile, OpenSite, Url",
                 "file: UTF-16 LE with byte-order mark, CR LF line ends",
                 "exit codes: 1638 failure (ExitCodes), 5 retry (ExitCodes), 0 success, "
                 "3010 reboot, 1641 restarted, 1618 retry; any other code: failure"):
        assert part in text, text
    # The same configuration as an author keeps it in a repository: the same
    # plan, read from UTF-8 with LF line ends.
    utf16 = setup.ini.read_bytes()[2:].decode("utf-16-le")
    setup.ini.write_bytes(utf16.replace("\r\n", "\n").encode("utf-8"))
    status = prefix32.popen([PLAN_EXE, setup.win(setup.ini)], output=out).wait(120)
    again = out.read_text(encoding="utf-8")
    assert status == 0, again
    assert again == text.replace("file: UTF-16 LE with byte-order mark, CR LF line ends",
                                 "file: UTF-8 without byte-order mark, LF line ends"), again
    # A missing configuration is an error, not an empty plan.
    status = prefix32.popen([PLAN_EXE, setup.win(setup.folder / "none.ini")], output=out).wait(60)
    assert status == 2


# --------------------------------------------------------------------------
# Branding


def icon_file(path: Path) -> Path:
    """A 16x16 icon of one 32-bit image (a bitmap with its AND mask)."""
    width = height = 16
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"\x00\x80\xff\xff" * (width * height)
    mask = b"\x00" * (4 * height)
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", width, height, 0, 0, 1, 32,
                                                            len(image), 6 + 16)
    path.write_bytes(directory + image)
    return path


def show_version(path: Path) -> dict[str, str]:
    out = subprocess.run([str(native_lint()), "--show-version", str(path)], capture_output=True,
                         text=True, check=True, stdin=subprocess.DEVNULL).stdout
    return dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)


def window_title(prefix, exe: Path, folder: Path) -> list[str]:
    """Starts a copy of the program (not quiet, no prerequisites) while the
    installer mutex is held, so that its status window stays up; returns the
    titles of the windows showing "Preparing..."."""
    (exe.with_suffix(".ini")).write_bytes(
        b"\xff\xfe" + "[GeneralOptions]\r\nOptions=\r\n[PREREQUISITES]\r\n".encode("utf-16-le"))
    holder = MutexHolder(prefix, folder)
    holder.wait_ready()
    proc = prefix.popen([TOOLS / "runwait.exe", to_windows(exe)], output=folder / "run.out")
    try:
        end = time.time() + 30
        while True:
            shown = [title for title, text in visible_windows(prefix, folder) if text == "Preparing..."]
            if shown or time.time() > end:
                return shown
            time.sleep(0.3)
    finally:
        holder.release()
        try:
            proc.wait(60)
        finally:
            holder.kill()


def test_stamped_copies_are_titled_with_the_product_name(prefix32, tmp_path, display):
    need(LINT_EXE, BUILD / "prereq.exe")
    prefix = prefix32
    icon = icon_file(tmp_path / "acme.ico")
    plain = tmp_path / "plain" / "setup.exe"
    plain.parent.mkdir()
    shutil.copyfile(BUILD / "prereq.exe", plain)
    # Our version resource: the file version, no product name.
    plain_version = show_version(plain)
    assert plain_version["ProductName"] == ""
    assert plain_version["FileVersion"] == "1.0.0.0"
    # The stamp replaces the program's first icon group, or adds one.
    groups = str(max(1, int(plain_version["Icon groups"])))

    linux = tmp_path / "linux" / "setup.exe"
    linux.parent.mkdir()
    subprocess.run([str(native_lint()), "--stamp", str(BUILD / "prereq.exe"), "--output", str(linux),
                    "--product-name", "Acme Tools", "--file-description", "Acme Tools Setup",
                    "--icon", str(icon)], check=True, capture_output=True, stdin=subprocess.DEVNULL)
    system = tmp_path / "system" / "setup.exe"
    system.parent.mkdir()
    rc, out = prefix.wine([LINT_EXE, "--stamp", to_windows(BUILD / "prereq.exe"), "--output",
                           to_windows(system), "--product-name", "Acme Tools", "--file-description",
                           "Acme Tools Setup", "--icon", to_windows(icon)], timeout=120)
    assert rc == 0, out
    for stamped in (linux, system):
        version = show_version(stamped)
        assert version["ProductName"] == "Acme Tools", stamped
        assert version["FileDescription"] == "Acme Tools Setup", stamped
        assert version["FileVersion"] == "1.0.0.0", stamped
        assert version["Icon groups"] == groups, stamped

    assert window_title(prefix, plain, plain.parent) == [f"{to_windows(plain)} Setup"]
    assert window_title(prefix, linux, linux.parent) == ["Acme Tools Setup"]
    assert window_title(prefix, system, system.parent) == ["Acme Tools Setup"]


def test_plan_judges_present_files_as_a_run_does_and_deletes_nothing(prefix32, make_setup):
    # Files already in the download folder run only when they pass their
    # check; one that fails is downloaded again. The plan says so, and leaves
    # both files where they are (a run would delete the failing one).
    setup = make_setup(prefix32)
    dl = setup.folder / "dl"
    dl.mkdir()
    (dl / "good.exe").write_bytes(b"abc")
    (dl / "stale.exe").write_bytes(b"abd")
    missing = {"searches": [{"SearchType": 5,
                             "SearchString": r"HKCU\Software\PrereqPlanE2E\NoSuchKey"}]}
    prereqs = [
        {"DisplayName": "Good", "Url": "http://127.0.0.1:9/good.exe", "ExactSize": 3,
         "MD5": "900150983cd24fb0d6963f7d28e17f72", **missing},
        {"DisplayName": "Stale", "Url": "http://127.0.0.1:9/stale.exe", "ExactSize": 3,
         "MD5": "900150983cd24fb0d6963f7d28e17f72", **missing},
    ]
    write_config(setup, prereqs, options="q")

    planned = {p["displayName"]: p for p in plan(prefix32, setup)["prerequisites"]}

    good, stale = planned["Good"]["action"], planned["Stale"]["action"]
    assert good["name"] == "run the file already downloaded", good
    assert good["run"] == setup.win(dl / "good.exe")
    assert stale["name"] == "download, then run", stale
    assert stale["target"] == stale["run"] == setup.win(dl / "stale.exe")
    assert (dl / "good.exe").read_bytes() == b"abc"
    assert (dl / "stale.exe").read_bytes() == b"abd"
