"""The program's windows end to end, with the real prereq.exe under Xvfb: the
status window during the search, no window in quiet mode, and the basic-UI
run behind the progress window (download from a paced loopback server,
installation with the basic-UI command line, Cancel, errors, the mandatory
check, the message boxes of the open-site pass and of the reboot rule, the
end of the session)."""

from __future__ import annotations

import hashlib
import re
import time

import pytest

from uihelp import (
    DIALOG_CLASS, IDCANCEL, IDNO, IDOK, IDYES, MESSAGE_TEXT, PROGRESS_BAR, PROGRESS_STATUS,
    STATUS_TEXT, VK_ESCAPE, WM_ENDSESSION, Paced, PacedServer, WinTool, control,
    installed_when_exists, progress_title, ship, text_of, ui_config,
)
from winehelp import TOOLS, read_log, unique

STORE_KEY = r"HKCU\InterbootContext"
CANCELLED = "Download failed. Error:-536870904"  # 0xE0000008
REBOOT_TEXT = ("You must reboot your computer in order to continue the installation. Press Yes "
               "to restart now or press No to abort the installation and manually restart later.")


@pytest.fixture(scope="module")
def server():
    s = PacedServer()
    yield s
    s.close()


@pytest.fixture
def tool(prefix32, tmp_path, display):
    return WinTool(prefix32, tmp_path)


def package_bytes() -> bytes:
    return (TOOLS / "package.exe").read_bytes()


def served_package(server, *, delay=0.05, chunk=16384, name=None) -> tuple[str, bytes]:
    """package.exe served at a pace under a fresh folder (a download of a few
    seconds by default), as runtime.exe or the given name."""
    data = package_bytes()
    url = server.add(f"/{unique('d')}/{name or 'runtime.exe'}", Paced(data, chunk=chunk, delay=delay))
    return url, data


def progress_windows(tool, setup):
    return tool.windows(title=progress_title(setup), cls=DIALOG_CLASS, child=PROGRESS_BAR)


def finish(setup, proc, timeout=120):
    try:
        return setup.finish(proc, timeout=timeout)
    finally:
        if proc.running:
            proc.kill()


# --------------------------------------------------------------------------
# Status window and quiet mode


def test_status_window_shows_the_search_while_a_slow_detection_runs(prefix32, make_setup, tool):
    setup = make_setup(prefix32)
    release = setup.folder / "release.txt"
    log = ui_config(setup, [{"DisplayName": "Slow", "searches": [
        installed_when_exists(setup, release, wait_ms=60000)]}], options="")
    proc = setup.start()
    try:
        window = tool.wait_for(lambda w: text_of(w, STATUS_TEXT) == "Searching for prerequisites...",
                               title=progress_title(setup), proc=proc, what="search window")
        skip = control(window, IDCANCEL)
        assert skip is not None and not skip["visible"], window
        assert window["process"] == setup.name
        # Centred on the 1024-pixel wide desktop (no owner).
        left, top, right, bottom = window["rect"]
        assert abs((left + right) / 2 - 512) <= 8, window["rect"]
        release.write_text("found")
        result = finish(setup, proc)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 0, result
    lines = read_log(log).lines
    assert "Search result:An acceptable version was found." in lines
    assert "No prerequisite must be installed." in lines
    assert progress_windows(tool, setup) == []


def test_quiet_run_never_shows_a_window(prefix32, make_setup, tool, server):
    setup = make_setup(prefix32, unique("quiet") + ".exe")
    url, data = served_package(server)
    release = setup.folder / "release.txt"
    marker = setup.folder / "marker.txt"
    ui_config(setup, [
        {"DisplayName": "Slow search", "searches": [installed_when_exists(setup, release, 1500)]},
        {"DisplayName": "Download", "Url": url, "ExactSize": len(data),
         "NoUiCommandLine": f"0 {setup.win(marker)}"},
    ], options="q")
    proc = setup.start()
    seen = []
    try:
        while proc.running:
            seen += [w for w in tool.windows() if w["process"].lower() == setup.name.lower()]
        result = finish(setup, proc)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 0, result
    assert seen == []
    assert marker.read_text().startswith("show=1 cmd=")  # it did run the whole way


# --------------------------------------------------------------------------
# Basic-UI runs


def normalised(lines: list[str], setup) -> list[str]:
    """Log lines of a run with the mode line and the paths of this setup
    taken out, to compare runs of two modes."""
    out = []
    for line in lines:
        if line.startswith("Starting installing prerequisites in"):
            continue
        out.append(line.replace(setup.win(setup.folder), "<setup>"))
    return out


def runtime_prereq(setup, url, data, marker) -> dict:
    return {"DisplayName": "Example Runtime", "Url": url, "ExactSize": len(data),
            "MD5": hashlib.md5(data).hexdigest(), "Options": "m",
            "BasicUiCommandLine": f"0 {setup.win(marker)} basic",
            "NoUiCommandLine": f"0 {setup.win(marker)} quiet",
            "searches": [installed_when_exists(setup, marker)]}


def test_basic_ui_downloads_and_installs_what_a_quiet_run_does(prefix, make_setup, server,
                                                               tmp_path, display):
    tool = WinTool(prefix, tmp_path)
    # The same prerequisite once quietly (served fast), once in basic UI
    # (served slowly, while the window is watched).
    quiet = make_setup(prefix)
    url, data = served_package(server, delay=0)
    quiet_marker = quiet.folder / "marker.txt"
    quiet_log = ui_config(quiet, [runtime_prereq(quiet, url, data, quiet_marker)], options="q")
    quiet_result = quiet.run(timeout=120)
    assert quiet_result.code == 0, quiet_result

    setup = make_setup(prefix)
    url, data = served_package(server, delay=0.1, chunk=8192)
    marker = setup.folder / "marker.txt"
    log = ui_config(setup, [runtime_prereq(setup, url, data, marker)])
    proc = setup.start()
    samples = []
    try:
        window = tool.wait_for(lambda w: text_of(w, PROGRESS_STATUS) == "Downloading Example Runtime",
                               title=progress_title(setup), child=PROGRESS_BAR, proc=proc,
                               what="download in the progress window")
        while True:
            found = progress_windows(tool, setup)
            if not found or text_of(found[0], PROGRESS_STATUS) != "Downloading Example Runtime":
                break
            samples.append(control(found[0], PROGRESS_BAR))
        result = finish(setup, proc)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 0, result
    assert window["process"] == setup.name
    # The bar moves through the download: several positions, rising.
    positions = [s["pos"] for s in samples]
    # The install loop's new range puts the bar back to 0 just before its
    # first status text replaces the download's: the last snapshots may fall
    # in between.
    while len(positions) > 1 and positions[-1] == 0 and max(positions) > 0:
        positions.pop()
    assert len(set(positions)) >= 2, samples
    assert positions == sorted(positions), positions
    assert all(s["min"] == 0 and s["max"] == 1000 for s in samples), samples
    # Installed with the basic-UI command line, shown.
    runs = marker.read_text().splitlines()
    assert len(runs) == 1 and runs[0].startswith("show=1 ") and runs[0].endswith(" basic"), runs
    lines = read_log(log).lines
    assert "Starting installing prerequisites in basic UI mode." in lines
    # The same work as the quiet run, line by line.
    assert normalised(lines, setup) == normalised(read_log(quiet_log).lines, quiet)
    assert progress_windows(tool, setup) == []


@pytest.mark.parametrize("how", ["button", "escape"])
def test_cancel_during_a_download_stops_within_a_few_blocks_and_launches_nothing(
        prefix32, make_setup, tool, server, how):
    setup = make_setup(prefix32)
    body = bytes(range(256)) * 32768  # 8 MiB at 320 KiB/s: never finished here
    path = f"/{unique('big')}.exe"
    url = server.add(path, Paced(body, chunk=16384, delay=0.05))
    marker = setup.folder / "marker.txt"
    ship(setup, "package.exe")
    log = ui_config(setup, [
        {"DisplayName": "Big", "Url": url, "BasicUiCommandLine": f"0 {setup.win(marker)}"},
        {"DisplayName": "Next", "Url": url + "?next"},
        {"DisplayName": "Shipped", "SetupFile": "package.exe",
         "BasicUiCommandLine": f"0 {setup.win(marker)}"},
    ])
    proc = setup.start()
    try:
        tool.wait_for(lambda w: text_of(w, PROGRESS_STATUS) == "Downloading Big"
                      and control(w, PROGRESS_BAR)["pos"] > 0,
                      title=progress_title(setup), proc=proc, what="download under way")
        if how == "button":
            assert tool.click(IDCANCEL, title=progress_title(setup))
        else:
            assert tool.key(VK_ESCAPE, title=progress_title(setup))
        cancelled_at = time.time()
        sent_at_cancel = server.answers(path)[0].sent
        result = finish(setup, proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()
    answer = server.answers(path)[0]
    for _ in range(100):  # the server notices the closed connection at its next write
        if answer.ended is not None:
            break
        time.sleep(0.05)
    assert result.code == 0, result  # nothing mandatory
    assert not answer.complete
    assert answer.ended is not None and answer.ended - cancelled_at < 10
    # The engine stopped within a few of its 50 KiB blocks.
    assert answer.sent - sent_at_cancel <= 8 * 51200, (answer.sent, sent_at_cancel)
    lines = read_log(log).lines
    assert CANCELLED in lines, lines
    assert "Download was canceled." in lines
    assert "Starting download of:Next" not in lines
    assert not any(line.startswith("Launching file:") for line in lines), lines
    assert not marker.exists()
    assert len(server.answers(path)) == 1


# What failed, the error line the window keeps showing, and the log line
# that says the same.
FAILURES = {
    "download-404": (
        lambda setup, server: {"DisplayName": "Missing Runtime", "Url": server.base + "/missing.exe"},
        "The download of Missing Runtime failed: the server answered 404 (not found).",
        "Download failed. Error:-536870888"),
    "download-rejected": (
        lambda setup, server: {"DisplayName": "Example Runtime 4.8",
                               "Url": served_package(server, delay=0)[0], "MD5": "0" * 32},
        "The download of Example Runtime 4.8 was rejected: its size or digest did not match.",
        "Downloaded file was rejected.(Invalid size or MD5)."),
    "package-1603": (
        lambda setup, server: {"DisplayName": "Failing Package", "SetupFile": "failing.exe",
                               "BasicUiCommandLine": f"1603 {setup.win(setup.folder / 'failed.txt')}"},
        "The installation of Failing Package ended with code 1603.",
        "Return code of launched file:1603"),
}


@pytest.mark.parametrize("failure", list(FAILURES))
def test_failed_mandatory_step_keeps_the_window_with_what_failed_and_why_until_cancel(
        prefix32, make_setup, tool, server, failure):
    prereq, error_line, log_line = FAILURES[failure]
    setup = make_setup(prefix32)
    ship(setup, "package.exe")
    ship(setup, "package.exe", "failing.exe")
    marker = setup.folder / "marker.txt"
    log = ui_config(setup, [
        {**prereq(setup, server), "Options": "m"},
        {"DisplayName": "Shipped", "SetupFile": "package.exe",
         "BasicUiCommandLine": f"0 {setup.win(marker)}"},
    ])
    proc = setup.start()
    try:
        window = tool.wait_for(lambda w: text_of(w, PROGRESS_STATUS) == error_line,
                               title=progress_title(setup), proc=proc, what="error")
        time.sleep(2)
        again = progress_windows(tool, setup)
        assert again and text_of(again[0], PROGRESS_STATUS) == error_line, again
        bar = control(again[0], PROGRESS_BAR)
        assert bar["visible"] and bar["pos"] == bar["max"] > 0, bar  # a whole bar, in error
        # The sentence wraps above the bar (never over it) instead of being cut.
        line = control(again[0], PROGRESS_STATUS)["rect"]
        assert line[1] >= again[0]["rect"][1] and line[3] <= bar["rect"][1], (line, bar["rect"])
        assert proc.running
        assert tool.click(IDCANCEL, title=progress_title(setup))
        result = finish(setup, proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 1, result
    assert log_line in read_log(log).lines
    assert not marker.exists()  # a failed pass stops the run
    assert window["process"] == setup.name


def test_mandatory_prerequisite_still_missing_after_its_package_gives_1(prefix32, make_setup,
                                                                        tool):
    setup = make_setup(prefix32)
    ship(setup, "package.exe")
    marker = setup.folder / "marker.txt"
    never = setup.folder / "never.txt"
    log = ui_config(setup, [
        {"DisplayName": "Stubborn", "SetupFile": "package.exe", "Options": "m",
         "BasicUiCommandLine": f"0 {setup.win(marker)}",
         "searches": [installed_when_exists(setup, never)]},
    ])
    result = setup.run(timeout=120)
    assert result.code == 1, result
    lines = read_log(log).lines
    assert "Return code of launched file:0" in lines
    assert lines.count("Searching for:Stubborn") == 2  # searched again after the package
    assert marker.exists()
    assert progress_windows(tool, setup) == []


def test_end_of_session_stops_before_the_next_package(prefix32, make_setup, tool, server):
    setup = make_setup(prefix32)
    url, data = served_package(server, delay=0.1, chunk=8192)
    marker = setup.folder / "marker.txt"
    log = ui_config(setup, [{"DisplayName": "Late", "Url": url,
                             "BasicUiCommandLine": f"0 {setup.win(marker)}"}])
    proc = setup.start()
    try:
        tool.wait_for(lambda w: text_of(w, PROGRESS_STATUS) == "Downloading Late",
                      title=progress_title(setup), proc=proc, what="download")
        assert tool.send(WM_ENDSESSION, 1, 0, title=progress_title(setup)) == "result=0"
        result = finish(setup, proc)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == -1, result
    lines = read_log(log).lines
    assert "Downloaded file was accepted." in lines
    assert not any(line.startswith("Launching file:") for line in lines), lines
    assert not marker.exists()


# --------------------------------------------------------------------------
# Message boxes of the passes


def test_open_site_pass_shows_its_message_box(prefix32, make_setup, tool):
    setup = make_setup(prefix32)
    site = "http://127.0.0.1:9/manual-download-page"
    log = ui_config(setup, [{"DisplayName": "Manual Tool", "OpenSite": site}])
    proc = setup.start()
    try:
        box = tool.wait_for(lambda w: True, title="Opening site of Manual Tool", cls=DIALOG_CLASS,
                            proc=proc, what="message box")
        # Behind it the progress window says the same.
        behind = progress_windows(tool, setup)
        assert behind and text_of(behind[0], PROGRESS_STATUS) == "Opening site of Manual Tool"
        assert box["process"] == setup.name
        assert box["title"] == "Opening site of Manual Tool"
        assert text_of(box, MESSAGE_TEXT) == (
            "The page for downloading Manual Tool has been opened in your browser. Download and "
            "install it from there, then click OK to continue.")
        # Wide enough for its whole caption.
        left, _, right, _ = box["rect"]
        assert right - left >= 300, box["rect"]
        ok = control(box, IDOK)
        assert ok is not None and ok["visible"] and ok["text"].replace("&", "") == "OK", box
        assert tool.click(IDOK, title="Opening site of Manual Tool")
        result = finish(setup, proc)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 0, result
    assert f"Launching URL:{site}" in read_log(log).lines


def test_reboot_rule_asks_and_no_refuses(prefix32, make_setup, tool):
    setup = make_setup(prefix32)
    ship(setup, "package.exe")
    marker = setup.folder / "marker.txt"
    log = ui_config(setup, [
        {"DisplayName": "Needs Restart", "SetupFile": "package.exe", "Options": "r",
         "RetValPropName": "RESTART_RC", "BasicUiCommandLine": f"0 {setup.win(marker)}"},
        {"DisplayName": "After", "SetupFile": "package.exe",
         "BasicUiCommandLine": f"0 {setup.win(marker)} after"},
    ])
    proc = setup.start()
    try:
        box = tool.wait_for(lambda w: True, title="Confirmation", cls=DIALOG_CLASS, proc=proc,
                            what="reboot question")
        assert text_of(box, MESSAGE_TEXT) == REBOOT_TEXT
        yes, no = control(box, IDYES), control(box, IDNO)
        assert yes and no and yes["visible"] and no["visible"], box
        assert tool.click(IDNO, title="Confirmation")
        result = finish(setup, proc)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 0, result  # refused: no reboot pending
    lines = read_log(log).lines
    assert "Rebooting machine..." in lines
    assert "After running prerequisites we have:  Reboot was required=true" in lines
    assert "  Reboot was refused=true" in lines
    # Not mandatory: the loop went on with the next package.
    assert marker.read_text().splitlines()[-1].endswith(" after")
    assert setup.prefix.reg_query(STORE_KEY, "RESTART_RC") is None  # the key went at the end


def test_without_an_interactive_desktop_a_basic_ui_run_goes_as_a_quiet_one(prefix32, make_setup, server,
                                                                            tmp_path):
    """Started where nobody sees or answers a window (a window station that is
    not interactive, as a service's in session 0), a basic-UI run would wait
    for ever: for Cancel in the progress window left open after a failed
    pass, for the open-site message, for the restart question. It runs as a
    quiet run instead: no windows, the packages' quiet command lines, no web
    site opened; and the log says why."""
    setup = make_setup(prefix32)
    ship(setup, "package.exe")
    marker = setup.folder / "marker.txt"
    log = ui_config(setup, [
        {"DisplayName": "Missing Runtime", "Url": server.base + "/missing.exe", "Options": "m"},
        {"DisplayName": "Manual Tool", "OpenSite": "http://127.0.0.1:9/manual-download-page"},
        {"DisplayName": "Shipped", "SetupFile": "package.exe",
         "BasicUiCommandLine": f"0 {setup.win(marker)} basic", "NoUiCommandLine": f"0 {setup.win(marker)} quiet"},
    ])
    output = tmp_path / "runwait.out"
    proc = prefix32.popen([TOOLS / "runwait.exe", "--hidden-station", setup.win(setup.exe)], cwd=setup.cwd,
                          output=output)
    try:
        proc.wait(90)
    finally:
        if proc.running:
            proc.kill()
    assert re.search(r"^exit=1$", proc.text(), re.M), proc.text()  # the mandatory one is missing
    lines = read_log(log).lines
    assert lines[0] == ("No interactive desktop (no interactive window station): running as in silent mode, "
                        "without windows, web sites or restart questions."), lines
    assert "Starting installing prerequisites in silent mode." in lines
    assert not any(line.startswith("Launching URL:") for line in lines), lines
    runs = marker.read_text().splitlines()
    assert len(runs) == 1 and runs[0].endswith(" quiet"), runs
