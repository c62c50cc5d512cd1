"""The file that was accepted is the file that runs: somebody who can write
the download folder (a folder under ProgramData, %TEMP% of an elevated run)
tries to swap a package between its check and its launch; a package on a
network share is read once, into the download folder; Cancel stops the check
of a large file at once."""

from __future__ import annotations

import hashlib
import shutil
import threading
import time
import uuid

import pytest

from transfer_servers import FaultServer, Resource
from uihelp import IDCANCEL, WinTool, progress_title, ui_config
from test_trust import share, write_config  # noqa: F401 (share: a fixture)
from winehelp import END_OF_LOG, TOOLS, read_log

ACCEPTED = "Downloaded file was accepted."


@pytest.fixture(scope="module")
def http():
    server = FaultServer()
    yield server
    server.close()


def package_bytes() -> bytes:
    return (TOOLS / "package.exe").read_bytes()


def marker_lines(path):
    return path.read_text().splitlines() if path.exists() else []


def slow_download(http, arch, seconds=4.0):
    """A second download that keeps the pass busy for a few seconds after the
    first was accepted."""
    data = bytes(range(256)) * 400
    path = f"/accepted/{arch}/{uuid.uuid4().hex[:6]}/slow.bin"
    http.add(path, Resource(body=data, stall={0: (1000, seconds)}))
    return {"DisplayName": "Slow", "Url": http.url(path), "ExactSize": len(data)}


def test_accepted_download_cannot_be_swapped_before_it_runs(prefix, make_setup, http, tmp_path):
    """A program in the same Windows watches the log and, as soon as the
    download is accepted, tries every way to put other bytes in its place.
    Each fails while the file is held, and the accepted bytes run."""
    good = package_bytes()
    path = f"/accepted/{prefix.arch}/{uuid.uuid4().hex[:6]}/first.exe"
    http.add(path, Resource(body=good))
    setup = make_setup(prefix)
    marker = setup.folder / "marker.txt"
    log = write_config(setup, [
        {"DisplayName": "First", "Url": http.url(path), "MD5": hashlib.md5(good).hexdigest(),
         "ExactSize": len(good), "NoUiCommandLine": f"0 {setup.win(marker)} accepted-bytes"},
        slow_download(http, prefix.arch)])
    report = tmp_path / "replacer.txt"
    watcher = prefix.popen([TOOLS / "replacer.exe", setup.win(log), ACCEPTED,
                            setup.win(setup.folder / "dl" / "first.exe"), setup.win(TOOLS / "exitcode.exe"),
                            setup.win(report)], output=tmp_path / "replacer.out")
    try:
        result = setup.run(timeout=120)
        assert watcher.wait(60) == 0, watcher.text()
    finally:
        if watcher.running:
            watcher.kill()

    attempts = dict(line.split("=") for line in report.read_text().split())
    assert set(attempts) == {"write", "copy", "move", "rename", "delete"}, attempts
    assert all(error != "0" for error in attempts.values()), attempts
    runs = marker_lines(marker)
    assert len(runs) == 1 and runs[0].endswith(" accepted-bytes"), runs  # not exitcode.exe's "ran"
    lines = read_log(log).lines
    assert lines.count(ACCEPTED) == 2, lines
    assert result.code == 0, (result, lines)
    assert lines[-1] == END_OF_LOG


def test_package_on_a_share_is_read_once_into_the_download_folder(prefix, make_setup, http, share):
    """A share's server can serve other bytes when the file is read a second
    time to be run. The file is copied into the download folder, the copy is
    checked and held, and the copy runs: other bytes on the share afterwards
    change nothing."""
    server, folder = share
    good = package_bytes()
    (folder / "package.exe").write_bytes(good)
    setup = make_setup(prefix)
    marker = setup.folder / "marker.txt"
    log = write_config(setup, [
        {"DisplayName": "Shared", "Url": f"file://{server}/share/package.exe",
         "MD5": hashlib.md5(good).hexdigest(), "ExactSize": len(good),
         "NoUiCommandLine": f"0 {setup.win(marker)} from-copy"},
        slow_download(http, prefix.arch)])

    def swap_on_the_share():
        end = time.time() + 60
        while time.time() < end:
            if log.exists() and "accepted." in log.read_bytes().decode("utf-16-le", "replace"):
                shutil.copyfile(TOOLS / "exitcode.exe", folder / "package.exe")
                return
            time.sleep(0.02)
    swapper = threading.Thread(target=swap_on_the_share, daemon=True)
    swapper.start()
    result = setup.run(timeout=120)
    swapper.join(5)

    lines = read_log(log).lines
    copy = setup.win(setup.folder / "dl" / "package.exe")
    i = lines.index("Starting installing prerequisites in silent mode.")
    assert lines[i + 1:i + 4] == ["Starting download of:Shared", "Download completed succesfully.", ACCEPTED], lines
    assert f"Launching file:{copy}" in lines, lines
    runs = marker_lines(marker)
    assert len(runs) == 1 and runs[0].endswith(" from-copy"), runs
    assert (folder / "package.exe").read_bytes() != good  # the swap did happen
    assert not (setup.folder / "dl" / "package.exe").exists()  # the copy goes at the end
    assert result.code == 0, (result, lines)


def test_cancel_stops_the_check_of_a_large_present_file(prefix32, make_setup, tmp_path, display):
    """A present file of several GiB is read for its digest behind the
    progress window. Cancel closes the window at once; the check must stop
    at its next block too, and not keep an invisible process running."""
    setup = make_setup(prefix32)
    dl = setup.folder / "dl"
    dl.mkdir()
    big = dl / "big.exe"
    with open(big, "wb") as f:  # sparse: no room on disk, zeros to read
        f.truncate(6 << 30)
    log = ui_config(setup, [{"DisplayName": "Big", "Url": "http://127.0.0.1:9/big.exe",
                             "MD5": "0" * 32}])
    tool = WinTool(prefix32, tmp_path)
    proc = setup.start()
    try:
        tool.wait_for(lambda w: True, title=progress_title(setup), proc=proc, what="progress window")
        end = time.time() + 60
        while not (log.exists() and "Checking present file:" in log.read_bytes().decode("utf-16-le", "replace")):
            assert time.time() < end and proc.running, "the check did not start"
            time.sleep(0.05)
        time.sleep(0.5)  # well inside the check
        assert tool.click(IDCANCEL, title=progress_title(setup))
        cancelled_at = time.time()
        result = setup.finish(proc, timeout=120)
    finally:
        if proc.running:
            proc.kill()
    assert result.ended - cancelled_at < 5, result
    lines = read_log(log).lines
    assert "Download was canceled." in lines, lines
    assert not any(line.startswith("Present file was") for line in lines), lines
    assert big.exists()  # no verdict, nothing deleted
    assert result.code == 0, result
