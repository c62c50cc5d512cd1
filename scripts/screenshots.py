#!/usr/bin/env python3
"""Pictures of the program's windows for people to look at: runs the real
prereq.exe in a Wine prefix with a virtual desktop under an X server and
writes PNG files into build/screenshots/:

  status-window.png         the status window while a slow detection runs
  progress-download.png     the progress window during a download
  progress-install.png      the progress window while a package installs
  progress-overlapped.png   the overlapped run: a package installs, downloads run ahead
  progress-error.png        the progress window after a failed mandatory download (404)
  progress-rejected.png     the same after a download whose digest did not match
  progress-install-failed.png  the same after a package that ended with code 1603
  open-site-message.png     the message box of the open-site pass
  restart-question.png      the restart question of a package's reboot rule

Run under an X server with 24-bit colour (make screenshots does):
    xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 scripts/screenshots.py
"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from uihelp import (  # noqa: E402
    DIALOG_CLASS, IDCANCEL, IDNO, IDOK, PROGRESS_BAR, PROGRESS_STATUS, STATUS_TEXT, Paced,
    PacedServer, WinTool, control, installed_when_exists, progress_title, ship, text_of,
    ui_config,
)
from winehelp import BUILD, BUILD_ROOT, PREREQ_EXE, TOOLS, Setup, WinePrefix, pe_is_64bit  # noqa: E402

OUT = BUILD_ROOT / "screenshots"
AHEAD_LINE = 1036  # the progress window's second line (the overlapped run)
MARGIN = 16


def capture(name: str, rects: list[list[int]]) -> Path:
    """The part of the screen around the given window rectangles, as a PNG."""
    raw = OUT / f".{name}.raw.png"
    subprocess.run(["import", "-window", "root", str(raw)], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    left = max(0, min(r[0] for r in rects) - MARGIN)
    top = max(0, min(r[1] for r in rects) - MARGIN)
    right = max(r[2] for r in rects) + MARGIN
    bottom = max(r[3] for r in rects) + MARGIN
    path = OUT / f"{name}.png"
    subprocess.run(["convert", str(raw), "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                    "+repage", str(path)], check=True, stdin=subprocess.DEVNULL)
    raw.unlink()
    print(f"  {path.relative_to(REPO)}")
    return path


def settle():
    """Time for the window to draw what it was just told."""
    time.sleep(0.6)


class Scene:
    def __init__(self, prefix: WinePrefix, work: Path, name: str):
        self.setup = Setup(prefix, work / name, "setup.exe")
        self.tool = WinTool(prefix, work)
        self.proc = None

    def start(self):
        self.proc = self.setup.start()

    def wait(self, predicate, what: str, **selector) -> dict:
        return self.tool.wait_for(predicate, proc=self.proc, what=what, timeout=90, **selector)

    def progress(self, predicate, what: str) -> dict:
        return self.wait(predicate, what, title=progress_title(self.setup), child=PROGRESS_BAR)

    def end(self, timeout: float = 60):
        if self.proc is None:
            return
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            pass
        finally:
            if self.proc.running:
                self.proc.kill()


def status_window(prefix, work):
    scene = Scene(prefix, work, "status")
    release = scene.setup.folder / "release.txt"
    ui_config(scene.setup, [{"DisplayName": "Example Runtime", "searches": [
        installed_when_exists(scene.setup, release, 60000)]}])
    scene.start()
    window = scene.wait(lambda w: text_of(w, STATUS_TEXT) == "Searching for prerequisites...",
                        "status window", title=progress_title(scene.setup))
    settle()
    capture("status-window", [window["rect"]])
    release.write_text("found")
    scene.end()


def progress_download_and_install(prefix, work, server):
    scene = Scene(prefix, work, "download")
    data = (TOOLS / "package.exe").read_bytes()
    url = server.add("/download/example-runtime.exe", Paced(data, chunk=8192, delay=0.08))
    marker = scene.setup.folder / "marker.txt"
    release = scene.setup.folder / "release.txt"
    ship(scene.setup, "waitfile.exe", "installer.exe")
    ui_config(scene.setup, [
        {"DisplayName": "Example Runtime 4.8", "Url": url, "ExactSize": len(data),
         "BasicUiCommandLine": f"0 {scene.setup.win(marker)}"},
        # A package that takes its time, to show the install step.
        {"DisplayName": "Quillfeather Visual Components 2024", "SetupFile": "installer.exe",
         "BasicUiCommandLine": f"{scene.setup.win(release)} 60000"},
    ])
    scene.start()
    window = scene.progress(
        lambda w: text_of(w, PROGRESS_STATUS) == "Downloading Example Runtime 4.8"
        and 350 <= control(w, PROGRESS_BAR)["pos"] <= 800, "download at about half")
    capture("progress-download", [window["rect"]])
    window = scene.progress(
        lambda w: text_of(w, PROGRESS_STATUS) == "Installing Quillfeather Visual Components 2024",
        "install step")
    settle()
    capture("progress-install", [window["rect"]])
    release.write_text("done")
    scene.end()


def progress_overlapped(prefix, work, server):
    """The overlapped run: the first package installs while the downloads of
    the others run ahead of it."""
    scene = Scene(prefix, work, "overlapped")
    data = (TOOLS / "package.exe").read_bytes()
    marker = scene.setup.folder / "marker.txt"
    release = scene.setup.folder / "release.txt"
    ship(scene.setup, "waitfile.exe", "installer.exe")
    names = ["Example Runtime 4.8", "Quillfeather Fonts", "Quillfeather Sample Library"]
    prereqs = [{"DisplayName": "Quillfeather Visual Components 2024", "SetupFile": "installer.exe",
                "BasicUiCommandLine": f"{scene.setup.win(release)} 60000"}]
    for k, name in enumerate(names):
        url = server.add(f"/ahead/{k}/package.exe", Paced(data, chunk=4096, delay=0.2))
        prereqs.append({"DisplayName": name, "Url": url, "ExactSize": len(data),
                        "BasicUiCommandLine": f"0 {scene.setup.win(marker)}"})
    ui_config(scene.setup, prereqs, options="bo")
    scene.start()
    window = scene.progress(
        lambda w: text_of(w, PROGRESS_STATUS) == "Installing Quillfeather Visual Components 2024"
        and text_of(w, AHEAD_LINE) == "Downloading 1 of 3...", "install with downloads ahead")
    settle()
    capture("progress-overlapped", [window["rect"]])
    scene.tool.click(IDCANCEL, title=progress_title(scene.setup))
    release.write_text("done")
    scene.end()


def progress_error(prefix, work, server):
    """The progress window after each kind of failure of a mandatory step."""
    data = (TOOLS / "package.exe").read_bytes()
    rejected_url = server.add("/download/example-runtime-bad.exe", Paced(data, chunk=65536, delay=0))
    scenes = [
        ("progress-error", {"DisplayName": "Example Runtime 4.8",
                            "Url": server.base + "/download/missing-runtime.exe"},
         "The download of Example Runtime 4.8 failed: the server answered 404 (not found)."),
        ("progress-rejected", {"DisplayName": "Example Runtime 4.8", "Url": rejected_url,
                               "MD5": "0" * 32},
         "The download of Example Runtime 4.8 was rejected: its size or digest did not match."),
        ("progress-install-failed", {"DisplayName": "Quillfeather Visual Components 2024",
                                     "SetupFile": "package.exe", "BasicUiCommandLine": "1603"},
         "The installation of Quillfeather Visual Components 2024 ended with code 1603."),
    ]
    for name, prereq, line in scenes:
        scene = Scene(prefix, work, name)
        ship(scene.setup, "package.exe")
        ui_config(scene.setup, [{**prereq, "Options": "m"}])
        scene.start()
        window = scene.progress(lambda w: text_of(w, PROGRESS_STATUS) == line, "error")
        settle()  # after the flash
        capture(name, [window["rect"]])
        scene.tool.click(IDCANCEL, title=progress_title(scene.setup))
        scene.end()


def message_boxes(prefix, work):
    scene = Scene(prefix, work, "site")
    ui_config(scene.setup, [{"DisplayName": "Quillfeather Designer",
                             "OpenSite": "http://127.0.0.1:9/downloads/designer"}])
    scene.start()
    title = "Opening site of Quillfeather Designer"
    box = scene.wait(lambda w: True, "open-site message box", title=title, cls=DIALOG_CLASS)
    behind = scene.tool.windows(title=progress_title(scene.setup))
    settle()
    capture("open-site-message", [box["rect"]] + [w["rect"] for w in behind])
    scene.tool.click(IDOK, title=title)
    scene.end()

    scene = Scene(prefix, work, "restart")
    ship(scene.setup, "package.exe")
    marker = scene.setup.folder / "marker.txt"
    ui_config(scene.setup, [{"DisplayName": "Quillfeather Driver", "SetupFile": "package.exe",
                             "Options": "r", "BasicUiCommandLine": f"0 {scene.setup.win(marker)}"}])
    scene.start()
    box = scene.wait(lambda w: True, "restart question", title="Confirmation", cls=DIALOG_CLASS)
    behind = scene.tool.windows(title=progress_title(scene.setup))
    settle()
    capture("restart-question", [box["rect"]] + [w["rect"] for w in behind])
    scene.tool.click(IDNO, title="Confirmation")
    scene.end()


def main() -> int:
    if not os.environ.get("DISPLAY"):
        print("screenshots: no X display (run under xvfb-run)", file=sys.stderr)
        return 1
    for tool in ("import", "convert"):
        if not shutil.which(tool):
            print(f"screenshots: ImageMagick's {tool} is not installed", file=sys.stderr)
            return 1
    missing = [p for p in (PREREQ_EXE, TOOLS / "wintool.exe", TOOLS / "runwait.exe",
                           TOOLS / "waitfile.exe", TOOLS / "package.exe") if not p.exists()]
    if missing:
        print("screenshots: not built: " + ", ".join(map(str, missing)), file=sys.stderr)
        return 1
    arch = "win64" if pe_is_64bit(PREREQ_EXE) else "win32"
    OUT.mkdir(parents=True, exist_ok=True)
    prefix = WinePrefix(BUILD_ROOT / "wine" / f"screenshots-{arch}", arch)
    print(f"screenshots of {BUILD / 'prereq.exe'} in {prefix.path}:")
    prefix.start()
    server = PacedServer()
    try:
        with tempfile.TemporaryDirectory(prefix="prereq-shots-") as tmp:
            work = Path(tmp)
            status_window(prefix, work)
            progress_download_and_install(prefix, work, server)
            progress_overlapped(prefix, work, server)
            progress_error(prefix, work, server)
            message_boxes(prefix, work)
    finally:
        server.close()
        prefix.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
