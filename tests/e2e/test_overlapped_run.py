"""The overlapped run (general option "o") end to end: downloads from a paced
loopback server run ahead of the install loop, which installs in list order;
what stops the loop stops the downloads; each download's lines stand
together in the log, and every line is whole."""

from __future__ import annotations

import re
import time

import pytest

from conftest import own_prefix
from uihelp import (
    DIALOG_CLASS, IDCANCEL, PROGRESS_BAR, PROGRESS_STATUS, Paced, PacedServer, WinTool, control,
    progress_title, text_of, ui_config,
)
from winehelp import TOOLS, read_log, unique

STORE_KEY = r"HKCU\InterbootContext"
AHEAD_LINE = 1036  # the progress window's second line
CANCELLED = "Download failed. Error:-536870904"  # 0xE0000008


@pytest.fixture(scope="module")
def server():
    s = PacedServer()
    yield s
    s.close()


def package_bytes() -> bytes:
    return (TOOLS / "package.exe").read_bytes()


def serve(server, name: str, seconds: float = 0.0) -> str:
    """package.exe under a fresh path, sent in about `seconds` (at once for 0)."""
    data = package_bytes()
    chunk = 16384
    delay = seconds / max(1, len(data) // chunk) if seconds else 0
    return server.add(f"/{unique('o')}/{name}.exe", Paced(data, chunk=chunk, delay=delay))


def never_ending(server, name: str) -> str:
    """8 MiB at 160 KiB/s: still running when the test looks."""
    return server.add(f"/{unique('o')}/{name}.exe", Paced(bytes(8 << 20), chunk=16384, delay=0.1))


def path_of(url: str) -> str:
    return "/" + url.split("/", 3)[3]


def package(url: str, name: str, marker, setup, *, options: str = "", extra: str = "",
            field: str = "NoUiCommandLine", **keys) -> dict:
    return {"DisplayName": name, "Url": url, field: f"0 {setup.win(marker)} {name} {extra}".strip(),
            "Options": options, **keys}


def installed(marker) -> list[str]:
    if not marker.exists():
        return []
    return [re.search(r" (P\d)\b", line).group(1) for line in marker.read_text().splitlines()]


def blocks(lines: list[str]) -> dict[str, list[str]]:
    """Each download's lines, from its "Starting download of:" line up to its
    verdict; asserts that nothing else comes between them."""
    found = {}
    ends = ("Downloaded file was accepted.", "Downloaded file was rejected.", "Download failed. Error:")
    for i, line in enumerate(lines):
        if not line.startswith("Starting download of:"):
            continue
        name = line.split(":", 1)[1]
        j = i + 1
        while not lines[j].startswith(ends):
            assert not lines[j].startswith("Starting download of:"), lines[i:j + 1]
            assert not lines[j].startswith("Launching file:"), lines[i:j + 1]
            j += 1
        if lines[j].startswith("Download failed.") and j + 1 < len(lines) and \
                lines[j + 1] == "Download was canceled.":
            j += 1
        found[name] = lines[i:j + 1]
    return found


def wait_ended(server, url, timeout=10):
    answer = server.answers(path_of(url))[0]
    deadline = time.time() + timeout
    while answer.ended is None and time.time() < deadline:
        time.sleep(0.05)
    return answer


def test_installs_follow_the_list_while_a_later_download_ends_first(prefix32, make_setup, server):
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"
    urls = [serve(server, "p1", seconds=4), serve(server, "p2"), serve(server, "p3"), serve(server, "p4")]
    log = ui_config(setup, [package(u, f"P{i}", marker, setup) for i, u in enumerate(urls, 1)],
                    options="qo")
    result = setup.run(timeout=120)
    assert result.code == 0, result
    lines = read_log(log).lines  # every line whole, with its stamp
    assert installed(marker) == ["P1", "P2", "P3", "P4"]
    found = blocks(lines)
    assert set(found) == {"P1", "P2", "P3", "P4"}
    assert all(b[-1] == "Downloaded file was accepted." for b in found.values()), found
    # P2 ended (and was logged) while P1 still ran; P4 started before P1 ended.
    assert lines.index(found["P2"][0]) < lines.index(found["P1"][0])
    p1 = server.answers(path_of(urls[0]))[0]
    assert server.answers(path_of(urls[3]))[0].started < p1.ended
    # Each package ran after its own block, P1 first of all.
    launches = [i for i, line in enumerate(lines) if line.startswith("Launching file:")]
    assert len(launches) == 4 and launches[0] > lines.index(found["P1"][-1])
    assert "Starting installing prerequisites in silent mode." in lines


def test_rejected_mandatory_download_stops_the_loop_and_the_downloads(prefix32, make_setup, server):
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"
    slow = never_ending(server, "p3")
    log = ui_config(setup, [
        package(serve(server, "p1", seconds=1), "P1", marker, setup),
        package(serve(server, "p2"), "P2", marker, setup, options="m", MD5="0" * 32),
        package(slow, "P3", marker, setup),
        package(serve(server, "p4"), "P4", marker, setup),
    ], options="qo")
    result = setup.run(timeout=120)
    assert result.code == 1, result  # the mandatory P2 is still missing
    lines = read_log(log).lines
    found = blocks(lines)
    assert installed(marker) == ["P1"]
    assert found["P2"][-1] == "Downloaded file was rejected.(Invalid size or MD5)."
    # P3 ran beside the others and was stopped (P4 took P2's place at once).
    assert found["P3"][-2:] == [CANCELLED, "Download was canceled."]
    assert not wait_ended(server, slow).complete
    assert (setup.folder / "dl" / "p3.exe.part").exists()  # for the next run


@pytest.fixture(scope="module")
def reboot_prefix():
    # ExitWindowsEx ends every process of the prefix: a prefix of its own.
    yield from own_prefix("e2e-reboot-overlap")


def test_reboot_rule_on_package_2_stops_downloads_3_and_4(reboot_prefix, make_setup, server):
    prefix = reboot_prefix
    prefix.wine(["reg", "delete", STORE_KEY, "/f"])
    setup = make_setup(prefix)
    marker = setup.folder / "marker.txt"
    slow3, slow4 = never_ending(server, "p3"), never_ending(server, "p4")
    log = ui_config(setup, [
        package(serve(server, "p1"), "P1", marker, setup),
        package(serve(server, "p2"), "P2", marker, setup, options="r", RetValPropName="P2_RC"),
        package(slow3, "P3", marker, setup),
        package(slow4, "P4", marker, setup),
    ], options="qo")
    result = setup.run(timeout=120)
    assert result.code in (None, -1), result  # Wine may end the chainer with the prefix
    lines = read_log(log).lines
    assert installed(marker) == ["P1", "P2"]
    assert "Rebooting machine..." in lines
    assert not any(line.endswith("P3") or line.endswith("P4")
                   for line in lines if line.startswith("Launching file:"))
    for url in (slow3, slow4):
        answers = server.answers(path_of(url))
        assert len(answers) <= 1 and not (answers and wait_ended(server, url).complete)
    if result.code == -1:  # the chainer saw its loop to the end: the downloads were stopped
        found = blocks(lines)
        for name in ("P3", "P4"):
            if name in found:
                assert found[name][-1] == "Download was canceled.", found[name]


def test_cancel_in_basic_ui_stops_downloads_and_installs(prefix32, make_setup, server, tmp_path,
                                                         display):
    tool = WinTool(prefix32, tmp_path)
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"
    slow2, slow3 = never_ending(server, "p2"), never_ending(server, "p3")
    log = ui_config(setup, [
        package(serve(server, "p1"), "P1", marker, setup, extra="--sleep=3000", field="BasicUiCommandLine"),
        package(slow2, "P2", marker, setup, field="BasicUiCommandLine"),
        package(slow3, "P3", marker, setup, field="BasicUiCommandLine"),
    ], options="bo")
    proc = setup.start()
    try:
        window = tool.wait_for(
            lambda w: text_of(w, PROGRESS_STATUS) == "Installing P1"
            and text_of(w, AHEAD_LINE) == "Downloading 2 of 3..." and control(w, AHEAD_LINE)["visible"],
            title=progress_title(setup), cls=DIALOG_CLASS, child=PROGRESS_BAR, proc=proc,
            what="install of P1 with downloads ahead")
        assert control(window, PROGRESS_BAR)["visible"]
        assert tool.click(IDCANCEL, title=progress_title(setup))
        cancelled_at = time.time()
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 0, result
    for url in (slow2, slow3):
        answer = wait_ended(server, url)
        assert not answer.complete and answer.ended is not None and answer.ended - cancelled_at < 10
    lines = read_log(log).lines
    found = blocks(lines)
    assert found["P2"][-2:] == [CANCELLED, "Download was canceled."]
    assert found["P3"][-2:] == [CANCELLED, "Download was canceled."]
    assert installed(marker) == ["P1"]  # it was running; nothing started after the cancel
