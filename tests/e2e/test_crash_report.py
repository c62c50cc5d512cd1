"""Crash safety end to end: the test build of the program
(tools/prereq-testhooks.exe, the same sources with PREREQ_TEST_HOOKS) fails
on purpose where PREREQ_TEST_FAILURE says, and the tests check the report in
the log, the exit code, the error dialog and its Copy button. The shipped
prereq.exe has no such hook.

PREREQ_TEST_FAILURE=<point>:<fault>[,...] with points run (main thread,
before the installer wait), search-worker, msix-lookup, msix-deploy and
stack-trace (inside a report's stack walk), progress-worker (the
progress window's worker, before the passes), search-log-line (inside the
log's lock, at the search worker's first line) and search-heap-lock (the
search worker holding the process heap's lock), and faults av-read, av-bad-read,
av-write, av-exec, div0, stack-overflow, throw (the range error), bad-alloc
and unknown.

The dialog test also writes build/screenshots/error-dialog-details.png, the
error dialog with its details shown:
    PREREQ_E2E_ARCHES=win32 xvfb-run -a /usr/bin/python3 -m pytest \
        tests/e2e/test_crash_report.py -q -k dialog
"""

from __future__ import annotations

import re
import shutil
import subprocess
import time

import pytest

from winehelp import (BUILD_ROOT, CURRENT_VERSION, END_OF_LOG, PREREQ_EXE, TOOLS,
                      pe_is_64bit, read_log)

HOOKS_EXE = TOOLS / "prereq-testhooks.exe"
DIALOGCTL = TOOLS / "dialogctl.exe"
SCREENSHOTS = BUILD_ROOT / "screenshots"
HOOK_VARIABLE = "PREREQ_TEST_FAILURE"

ADDRESS = r"\[0x[0-9a-f]{8,16}\]"
FRAME_RE = re.compile(r"^\[0x[0-9a-f]{8,16}\]  (-----|.+\(\)( -> [^:]+:\d+)?)$")
MODULE_BASE_RE = re.compile(r"^\[0x[0-9a-f]{8,16}\]  MODULE_BASE_ADDRESS$")
HEADER_RE = re.compile(r"^\*\*\* Stack Trace \((x86|x64)\) \*\*\*$")
DOWNLOAD = "Search result:No acceptable version found. It must be downloaded."


@pytest.fixture
def hooked(make_setup, monkeypatch):
    """hooked(prefix, failure, options, prereqs) -> (setup, log path): the
    test build in a setup folder, failing as `failure` says."""
    if not HOOKS_EXE.exists():
        pytest.fail(f"not built: {HOOKS_EXE}", pytrace=False)

    def make(prefix, failure: str, options: str = "q", prereqs: list[dict] | None = None,
             shipped: bool = False):
        setup = make_setup(prefix)
        shutil.copyfile(HOOKS_EXE, setup.exe)
        # Wine hands the environment on to the Windows processes.
        monkeypatch.setenv(HOOK_VARIABLE, failure)
        log = setup.folder / "run.log"
        lines = ["[GeneralOptions]", f"Options={options}"]
        if shipped:  # package files lie beside the program
            lines.append(f"ExtractionFolder={setup.win(setup.folder)}")
        lines.append("[PREREQUISITES]")
        lines += [f"App{i}=id{i}" for i in range(1, len(prereqs or []) + 1)]
        lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
        for i, p in enumerate(prereqs or [], 1):
            lines.append(f"[App{i}]")
            lines += [f"{k}={v}" for k, v in p.items()]
        setup.write_config("\n".join(lines) + "\n")
        return setup, log

    return make


@pytest.fixture
def windows10(prefix32, registry):
    """The package search asks the package manager from Windows 10 on."""
    registry(prefix32, CURRENT_VERSION, "CurrentMajorVersionNumber", "REG_DWORD", 10)
    registry(prefix32, CURRENT_VERSION, "CurrentMinorVersionNumber", "REG_DWORD", 0)
    registry(prefix32, CURRENT_VERSION, "CurrentBuildNumber", "REG_SZ", "19045")


PACKAGE_PREREQ = {"DisplayName": "Pkg", "Url": "http://127.0.0.1:9/pkg.exe",
                  "SearchType1": 13, "SearchString1": "Quillfeather.App"}


def report_at(lines: list[str], first: str, count: int = 1) -> list[str]:
    """The first of `count` reports whose first line matches `first`: that
    line and the details up to the module-base line."""
    starts = [i for i, line in enumerate(lines) if re.match(first, line)]
    assert len(starts) == count, f"{len(starts)} reports matching {first!r} in {lines}"
    report = [lines[starts[0]]]
    for line in lines[starts[0] + 1:]:
        if line == END_OF_LOG:
            break
        report.append(line)
        if MODULE_BASE_RE.match(line):
            break
    return report


def check_trace(report: list[str], functions: list[str]):
    """A full stack trace follows: header, frame lines naming `functions` in
    this order (the test build has its symbols), the module-base line."""
    header = next(i for i, line in enumerate(report) if HEADER_RE.match(line))
    frames = report[header + 1:-1]
    assert frames, report
    for line in frames:
        assert FRAME_RE.match(line), line
    assert MODULE_BASE_RE.match(report[-1]), report
    at = 0
    for name in functions:
        found = [i for i, line in enumerate(frames) if name in line and i >= at]
        assert found, f"{name} not in the frames after {at}: {frames}"
        at = found[0]


# --------------------------------------------------------------------------


def test_shipped_program_has_no_failure_hook(prefix32, make_setup, monkeypatch):
    hook = HOOK_VARIABLE.encode()
    assert hook in HOOKS_EXE.read_bytes(), "the test build should name its variable"
    for exe in [PREREQ_EXE, BUILD_ROOT / "prereq.exe", BUILD_ROOT / "x64" / "prereq.exe"]:
        if exe.exists():
            data = exe.read_bytes()
            assert hook not in data, exe
            assert HOOK_VARIABLE.encode("utf-16-le") not in data, exe
    # And it ignores the variable.
    setup = make_setup(prefix32)
    log = setup.folder / "run.log"
    setup.write_config(f"[GeneralOptions]\nOptions=q\n[PREREQUISITES]\n"
                       f"[PREREQ_CHAINER]\nLogFile={setup.win(log)}\n")
    monkeypatch.setenv(HOOK_VARIABLE, "run:throw")
    result = setup.run()
    assert result.code == 0, result
    assert read_log(log).lines == [END_OF_LOG]


@pytest.mark.parametrize("failure, first, details", [
    ("run:throw", r"^EXCEPTION_GENERIC: Index out of range$",
     r"^Raised at: .*TestFaults\.h:\d+, code 0x8000000b$"),
    ("run:bad-alloc", r"^EXCEPTION_STD: std::bad_alloc$", None),
    ("run:unknown", r"^EXCEPTION_UNHANDLED: Unidentified exception$", None),
])
def test_cpp_exception_on_main_thread(prefix, hooked, failure, first, details):
    setup, log = hooked(prefix, failure)

    result = setup.run()

    assert result.code == 1, result
    lines = read_log(log).lines
    assert lines[-1] == END_OF_LOG
    report = report_at(lines, first)
    if details:
        assert re.match(details, report[1]), report
    # Caught at the top: the trace shows where (the entry point).
    check_trace(report, ["wWinMain()"])
    assert report[-1] == lines[-2], "the closing line follows the report"


@pytest.mark.parametrize("failure, code, functions", [
    ("run:av-read", "0xc0000005", ["ReadAt() -> TestFaults.h:", "ChainerApp::Run() -> ChainerApp.cpp:",
                                    "wWinMain() -> entry.cpp:"]),
    ("run:av-write", "0xc0000005", ["WriteAt() -> TestFaults.h:", "wWinMain()"]),
    ("run:div0", "0xc0000094", ["DivideBy() -> TestFaults.h:", "wWinMain()"]),
])
def test_fault_on_main_thread(prefix, hooked, failure, code, functions):
    setup, log = hooked(prefix, failure)

    result = setup.run()

    assert result.code == 1, result
    lines = read_log(log).lines
    assert lines[-1] == END_OF_LOG
    report = report_at(lines, rf"^EXCEPTION_UNHANDLED: \[EXCEPTION_UNHANDLED\] \({code}\) "
                              rf"at address {ADDRESS}$")
    check_trace(report, functions)
    assert report[-1] == lines[-2]


def test_terminate_is_reported(prefix32, hooked):
    # A C++ failure nobody can catch (here std::terminate itself) ends the
    # run with the report and the exit code of every failure.
    setup, log = hooked(prefix32, "run:terminate")

    result = setup.run()

    assert result.code == 1, result
    lines = read_log(log).lines
    report = report_at(lines, r"^EXCEPTION_UNHANDLED: The program called terminate\.$")
    check_trace(report, ["FailOnPurpose()", "wWinMain()"])
    assert lines[-1] == END_OF_LOG


def test_stack_overflow_on_main_thread(prefix32, hooked):
    if pe_is_64bit(HOOKS_EXE):
        pytest.skip("Wine's 64-bit exception dispatch ends a process whose main thread "
                    "overflowed its stack before any handler of the program runs")
    setup, log = hooked(prefix32, "run:stack-overflow")

    result = setup.run()

    assert result.code == 1, result
    lines = read_log(log).lines
    assert re.match(rf"^EXCEPTION_UNHANDLED: \[EXCEPTION_UNHANDLED\] \(0xc00000fd\) "
                    rf"at address {ADDRESS}$", lines[-2]), lines
    assert lines[-1] == END_OF_LOG


def test_fault_while_reporting_gives_a_shorter_report(prefix32, hooked):
    # The stack walk faults too: the report loses its trace, the end stays.
    setup, log = hooked(prefix32, "run:av-read,stack-trace:av-write")

    result = setup.run()

    assert result.code == 1, result
    lines = read_log(log).lines
    assert re.match(rf"^EXCEPTION_UNHANDLED: \[EXCEPTION_UNHANDLED\] \(0xc0000005\) "
                    rf"at address {ADDRESS}$", lines[-2]), lines
    assert lines[-1] == END_OF_LOG


def test_exception_while_reporting_keeps_the_first_report(prefix32, hooked):
    setup, log = hooked(prefix32, "run:throw,stack-trace:av-write")

    result = setup.run()

    assert result.code == 1, result
    lines = read_log(log).lines
    assert lines[-3:] == ["EXCEPTION_GENERIC: Index out of range", lines[-2], END_OF_LOG], lines
    assert lines[-2].startswith("Raised at: ")


@pytest.mark.parametrize("failure, kind, functions", [
    ("msix-lookup:av-read", "SEH_AV_READ_NULLPTR", ["ReadAt() -> TestFaults.h:", "GuardedThreadStart()"]),
    ("msix-lookup:av-bad-read", "SEH_AV_READ_BADPTR", ["ReadAt() -> TestFaults.h:"]),
    ("msix-lookup:av-write", "SEH_AV_WRITE_NULLPTR", ["WriteAt() -> TestFaults.h:"]),
])
def test_fault_on_guarded_worker_is_reported_and_the_run_goes_on(prefix32, hooked, windows10,
                                                                  failure, kind, functions):
    setup, log = hooked(prefix32, failure, prereqs=[PACKAGE_PREREQ])

    result = setup.run(timeout=120)

    lines = read_log(log).lines
    # One lookup in the search, one when the run evaluates again after the
    # (failed) download.
    report = report_at(lines, rf"^{kind}: \[{kind}\] ACCESS_VIOLATION \(0xc0000005\) "
                              rf"at address {ADDRESS}$", count=2)
    assert re.match(r"^Raised at: TestFaults\.h:\d+, code 0xc0000005$", report[1]), report
    check_trace(report, functions)
    # The lookup failed, the package counts as not installed, and the run went
    # on to its normal end.
    after = lines[lines.index(report[-1]) + 1:]
    assert after[0] == DOWNLOAD, lines
    assert lines[-1] == END_OF_LOG
    assert result.code == 0, result


def test_fault_in_package_deployment_is_a_failed_deployment(prefix32, hooked):
    # The deployment thread faults before it asks the package manager: the
    # launch fails with the deployment's failure code, and the run goes on.
    setup, log = hooked(prefix32, "msix-deploy:av-write", shipped=True,
                        prereqs=[{"DisplayName": "Pkg", "SetupFile": "app.msix", "Operator": 1}])
    (setup.folder / "app.msix").write_bytes(b"PK\x03\x04")

    result = setup.run(timeout=120)

    lines = read_log(log).lines
    launch = lines.index("Launching file:" + setup.win(setup.folder / "app.msix"))
    report = report_at(lines, rf"^SEH_AV_WRITE_NULLPTR: \[SEH_AV_WRITE_NULLPTR\] ACCESS_VIOLATION "
                              rf"\(0xc0000005\) at address {ADDRESS}$")
    check_trace(report, ["WriteAt() -> TestFaults.h:", "GuardedThreadStart()"])
    start = lines.index(report[0])
    end = start + len(report)
    assert launch < start
    assert lines[end].startswith("Launch failed. Error:"), lines
    assert lines[end + 1] == "Return code of launched file:1627", lines
    assert lines[-1] == END_OF_LOG
    assert result.code == 0, result


def test_fault_while_reporting_on_guarded_worker(prefix32, hooked, windows10):
    setup, log = hooked(prefix32, "msix-lookup:av-read,stack-trace:av-write",
                        prereqs=[PACKAGE_PREREQ])

    result = setup.run(timeout=120)

    lines = read_log(log).lines
    i = next(i for i, line in enumerate(lines) if line.startswith("SEH_AV_READ_NULLPTR: "))
    assert re.match(r"^Raised at: .*ExceptionHandling\.cpp:\d+, code 0xc0000005$", lines[i + 1])
    assert DOWNLOAD in lines[i + 2:], lines
    assert result.code == 0, result


@pytest.mark.parametrize("failure", ["run:throw", "run:av-read"])
def test_quiet_run_never_shows_the_dialog(prefix32, hooked, display, failure):
    # With a display a dialog could appear, and it would wait for an answer:
    # the run ends by itself instead.
    setup, log = hooked(prefix32, failure, options="q",
                        prereqs=[{"DisplayName": "P", "Url": "http://127.0.0.1:9/p.exe"}])

    result = setup.run(timeout=60)

    assert result.code == 1, result
    assert read_log(log).lines[-1] == END_OF_LOG


def test_fault_inside_the_log_lock_on_the_search_worker_ends_with_1(prefix32, hooked, display, tmp_path):
    """The search worker faults while it holds the log's lock, and its frames
    are abandoned without unwinding. The lock goes back with them: the
    report, the closing line and the clean-up still reach the log, and the
    process ends with 1 once the dialog is closed (it used to wait for ever
    in the closing line)."""
    setup, log = hooked(prefix32, "search-log-line:av-read", options="b",
                        prereqs=[{"DisplayName": "P", "Url": "http://127.0.0.1:9/p.exe"}])
    proc = setup.start()
    try:
        dialog = Dialog(prefix32, tmp_path)
        shown = dialog("text:501")
        assert re.match(r"^\[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION", shown["text:501"]), shown
        dialog("click:1", "wait-gone")
        closed = time.time()
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 1, result
    assert result.ended - closed < 10, result
    lines = read_log(log).lines
    report = report_at(lines, rf"^SEH_AV_READ_NULLPTR: \[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION "
                              rf"\(0xc0000005\) at address {ADDRESS}$")
    # The log line's frame: Logger::WriteLine, or the free WriteLine it is inlined into.
    check_trace(report, ["ReadAt() -> TestFaults.h:", "WriteLine() -> Logger.cpp:", "GuardedThreadStart()"])
    assert lines[-1] == END_OF_LOG
    assert not setup.ini.exists()  # the clean-up ran (the configuration goes)


def test_fault_holding_the_heap_lock_on_the_search_worker_ends_in_bounded_time(prefix32, hooked,
                                                                                  tmp_path):
    """The search worker faults while it holds the process heap's lock, which
    nothing can give back: every later allocation of the system waits for
    it, on the main thread too. The end after the failure gets a bounded
    time, then the process ends with 1."""
    setup, log = hooked(prefix32, "search-heap-lock:av-read", options="b",
                        prereqs=[{"DisplayName": "P", "Url": "http://127.0.0.1:9/p.exe"}])
    proc = setup.start()
    try:
        result = setup.finish(proc, timeout=90)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 1, result
    assert result.seconds < 40, result  # the bound is 10 s after the fault


class Dialog:
    """dialogctl.exe against the error dialog of a running program."""

    def __init__(self, prefix, folder):
        self.prefix = prefix
        self.folder = folder
        self.count = 0

    def __call__(self, *commands) -> dict[str, str]:
        self.count += 1
        rc, out = self.prefix.wine([DIALOGCTL, "Error", *commands], timeout=90,
                                   output=self.folder / f"dialogctl{self.count}.txt")
        assert rc == 0, out
        answers = {}
        for line in out.splitlines():
            key, _, value = line.partition("=")
            answers[key] = value.replace("\\r", "\r").replace("\\n", "\n").replace("\\\\", "\\")
        return answers


def rect_of(text: str) -> tuple[int, int, int, int]:
    left, top, right, bottom = (int(v) for v in text.split(","))
    return left, top, right, bottom


def screenshot(path, rect):
    """The screen area of the window `rect`, as a PNG file. Windows sit on
    the X screen at their own coordinates: without a window manager, and on
    a virtual desktop, which Wine puts at the screen's origin."""
    left, top, right, bottom = rect
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["import", "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(path)],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def test_error_dialog_in_basic_ui(prefix32, hooked, display, tmp_path):
    desktop_prefix = prefix32  # test prefixes show their windows on a virtual desktop
    setup, log = hooked(desktop_prefix, "search-worker:av-read", options="b",
                        prereqs=[{"DisplayName": "P", "Url": "http://127.0.0.1:9/p.exe"}])
    proc = setup.start()
    try:
        dialog = Dialog(desktop_prefix, tmp_path)
        before = dialog("rect", "text:501", "shown:502", "text:503", "text:1")
        assert re.match(rf"^\[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION \(0xc0000005\) "
                        rf"at address {ADDRESS}$", before["text:501"]), before
        assert before["shown:502"] == "0"
        assert before["text:503"] == "Details >>"
        assert before["text:1"] == "Close"

        shown = dialog("click:503", "shown:502", "shown:504", "text:503", "rect", "text:502")
        assert shown["shown:502"] == "1" and shown["shown:504"] == "1", shown
        assert shown["text:503"] == "Details <<"
        collapsed, expanded = rect_of(before["rect"]), rect_of(shown["rect"])
        assert expanded[3] - expanded[1] > 2 * (collapsed[3] - collapsed[1]), (collapsed, expanded)
        details = shown["text:502"]
        assert details.startswith(before["text:501"] + "\r\nRaised at: TestFaults.h:"), details
        assert "*** Stack Trace (" in details and "ReadAt() -> TestFaults.h:" in details
        time.sleep(0.5)  # painted after the resize
        screenshot(SCREENSHOTS / "error-dialog-details.png", expanded)

        copied = dialog("click:504", "clipboard")
        assert copied["clipboard"] == details

        folded = dialog("click:503", "shown:502", "text:503")
        assert folded["shown:502"] == "0" and folded["text:503"] == "Details >>"
        dialog("click:1", "wait-gone")
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()

    assert result.code == 1, result
    lines = read_log(log).lines
    report = report_at(lines, rf"^SEH_AV_READ_NULLPTR: \[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION "
                              rf"\(0xc0000005\) at address {ADDRESS}$")
    check_trace(report, ["ReadAt()", "GuardedThreadStart()"])
    assert lines[-1] == END_OF_LOG


def test_fault_on_progress_worker_closes_the_window_and_is_reported(prefix32, hooked, display,
                                                                     tmp_path):
    # The passes of a basic-UI run fail on their worker: the progress window
    # goes, the report is logged once and shown, and the run ends with 1.
    setup, log = hooked(prefix32, "progress-worker:av-read", options="b",
                        prereqs=[{"DisplayName": "P", "Url": "http://127.0.0.1:9/p.exe",
                                  "SearchType1": 5,
                                  "SearchString1": r"HKLM\Software\PrereqNoSuchKey"}])
    proc = setup.start()
    try:
        dialog = Dialog(prefix32, tmp_path)
        shown = dialog("text:501")
        assert re.match(rf"^\[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION \(0xc0000005\) "
                        rf"at address {ADDRESS}$", shown["text:501"]), shown
        dialog("click:1", "wait-gone")
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()

    assert result.code == 1, result
    lines = read_log(log).lines
    report = report_at(lines, rf"^SEH_AV_READ_NULLPTR: \[SEH_AV_READ_NULLPTR\] ACCESS_VIOLATION "
                              rf"\(0xc0000005\) at address {ADDRESS}$")
    check_trace(report, ["ReadAt()", "GuardedThreadStart()"])
    assert "Starting installing prerequisites in basic UI mode." in lines
    assert not any(line.startswith("Downloading") for line in lines), lines
    assert lines[-1] == END_OF_LOG
