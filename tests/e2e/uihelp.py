"""Helpers for the tests of the program's windows: wintool.exe (lists the
visible windows and their controls, clicks buttons, sends messages), an HTTP
server that sends at a set pace, and configurations for user-interface runs.
"""

from __future__ import annotations

import json
import shutil
import threading
import time
import uuid
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

from winehelp import TOOLS, WinePrefix, to_windows

WM_COMMAND = 0x0111
WM_ENDSESSION = 0x0016
VK_ESCAPE = 0x1B
IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
STATUS_TEXT, PROGRESS_STATUS, PROGRESS_BAR = 1001, 1034, 1035
MESSAGE_TEXT = 0xFFFF  # the text of a message box
DIALOG_CLASS = "#32770"


class WinTool:
    """wintool.exe in a prefix. Selectors: title=, title_contains=, cls=,
    pid=, child= (see tests/tools/wintool.cpp)."""

    def __init__(self, prefix: WinePrefix, folder: Path):
        self.prefix = prefix
        self.folder = Path(folder)

    @staticmethod
    def _selector(title=None, title_contains=None, cls=None, pid=None, child=None) -> list[str]:
        args = []
        for flag, value in (("--title", title), ("--title-contains", title_contains),
                            ("--class", cls), ("--pid", pid), ("--child", child)):
            if value is not None:
                args += [flag, str(value)]
        return args

    def run(self, args: list[str], timeout: float = 60) -> tuple[int, str]:
        output = self.folder / f"wintool-{uuid.uuid4().hex[:8]}.out"
        try:
            return self.prefix.wine([TOOLS / "wintool.exe", *args], output=output, timeout=timeout)
        finally:
            output.unlink(missing_ok=True)

    def windows(self, **selector) -> list[dict]:
        # Listing changes nothing, so a listing that the host's loader ended
        # as it exited (an assertion in dl-fini.c, exit code 127, seen now
        # and then under Wine here) is simply taken again.
        for _ in range(3):
            rc, out = self.run(["list", *self._selector(**selector)])
            if not (rc == 127 and "Inconsistency detected by ld.so" in out):
                break
        assert rc == 0, out
        return [json.loads(line) for line in out.splitlines() if line.startswith("{")]

    def click(self, control_id: int, **selector) -> bool:
        rc, out = self.run(["click", *self._selector(**selector), "--id", str(control_id)])
        return rc == 0

    def key(self, vk: int, **selector) -> bool:
        rc, _ = self.run(["key", *self._selector(**selector), "--vk", str(vk)])
        return rc == 0

    def send(self, message: int, wparam: int = 0, lparam: int = 0, **selector) -> str:
        rc, out = self.run(["send", *self._selector(**selector), "--msg", str(message),
                            "--wparam", str(wparam), "--lparam", str(lparam)])
        return out.strip()

    def wait_for(self, predicate, *, timeout: float = 60, proc=None, what: str = "window",
                 **selector) -> dict:
        """Polls until a listed window satisfies predicate(window); returns it.
        Fails with the last listing on time-out or when `proc` ends first."""
        end = time.time() + timeout
        seen: list[dict] = []
        while True:
            seen = self.windows(**selector)
            for window in seen:
                if predicate(window):
                    return window
            if proc is not None and not proc.running:
                raise AssertionError(f"the program ended before the {what} appeared "
                                     f"(exit {proc.poll()}): {proc.text()}; windows: {seen}")
            if time.time() > end:
                raise AssertionError(f"no {what} after {timeout} s; windows: {seen}")
            time.sleep(0.2)


def control(window: dict, control_id: int) -> dict | None:
    for c in window["controls"]:
        if c["id"] == control_id:
            return c
    return None


def text_of(window: dict, control_id: int) -> str | None:
    c = control(window, control_id)
    return None if c is None else c["text"]


# --------------------------------------------------------------------------
# A paced HTTP server


@dataclass
class Served:
    """One answer of the paced server."""
    path: str
    started: float
    sent: int = 0
    ended: float | None = None   # when the answer stopped (complete or client gone)
    complete: bool = False


@dataclass
class Paced:
    body: bytes
    chunk: int = 16384
    delay: float = 0.05          # seconds between chunks
    status: int = 200


class PacedServer:
    """HTTP/1.0 on 127.0.0.1 that sends each body in chunks with a pause after
    each, so that a download takes a known time; records what each answer
    sent and when the client went away."""

    def __init__(self):
        self.resources: dict[str, Paced] = {}
        self.served: list[Served] = []
        self.lock = threading.Lock()
        owner = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *args):
                pass

            def do_GET(self):  # noqa: N802
                path = self.path.split("?", 1)[0]
                res = owner.resources.get(path)
                if res is None or res.status != 200:
                    status = 404 if res is None else res.status
                    self.send_response(status)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                record = Served(path, time.time())
                with owner.lock:
                    owner.served.append(record)
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(res.body)))
                self.end_headers()
                try:
                    for start in range(0, len(res.body), res.chunk):
                        self.wfile.write(res.body[start:start + res.chunk])
                        self.wfile.flush()
                        record.sent = start + len(res.body[start:start + res.chunk])
                        time.sleep(res.delay)
                    record.complete = True
                except OSError:
                    pass
                finally:
                    record.ended = time.time()

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever,
                                       kwargs={"poll_interval": 0.1}, daemon=True)
        self.thread.start()
        self.base = f"http://127.0.0.1:{self.httpd.server_address[1]}"

    def add(self, path: str, resource: Paced) -> str:
        self.resources[path] = resource
        return self.base + path

    def answers(self, path: str) -> list[Served]:
        with self.lock:
            return [s for s in self.served if s.path == path]

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


# --------------------------------------------------------------------------
# Configurations


def ui_config(setup, prereqs: list[dict], options: str = "b", general: dict | None = None,
              chainer: dict | None = None) -> Path:
    """Writes the configuration of a run with these prerequisites (each a dict
    of keys; "searches" a list of search entries; without searches, Operator
    1 means "not installed") and returns the log path. Shipped files come from
    the setup's own folder. `general` and `chainer` add keys to
    [GeneralOptions] and [PREREQ_CHAINER]."""
    log = setup.folder / "run.log"
    lines = ["[GeneralOptions]", f"Options={options}",
             f"DownloadFolder={setup.win(setup.folder / 'dl')}",
             f"ExtractionFolder={setup.win(setup.folder)}"]
    lines += [f"{k}={v}" for k, v in (general or {}).items()]
    lines.append("[PREREQUISITES]")
    lines += [f"App{i}=id{i}" for i in range(1, len(prereqs) + 1)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    lines += [f"{k}={v}" for k, v in (chainer or {}).items()]
    for i, p in enumerate(prereqs, 1):
        p = dict(p)
        lines.append(f"[App{i}]")
        searches = p.pop("searches", [])
        if not any(k in p for k in ("Url", "SetupFile", "OpenSite")):
            p["Url"] = "http://127.0.0.1:9/none.exe"  # a prerequisite needs a location
        fields = {"Operator": 1, **p}
        for k, entry in enumerate(searches, 1):
            fields.update({f"{key}{k}": value for key, value in entry.items()})
        lines += [f"{k}={v}" for k, v in fields.items()]
    setup.write_config("\n".join(lines) + "\n")
    return log


def ship(setup, tool: str, name: str | None = None) -> Path:
    """Copies a test tool beside the setup (a shipped file)."""
    target = setup.folder / (name or tool)
    shutil.copyfile(TOOLS / tool, target)
    return target


def installed_when_exists(setup, marker: Path, wait_ms: int = 0) -> dict:
    """A search entry whose detection program (waitfile.exe, shipped) finds
    the prerequisite when `marker` exists (waiting up to wait_ms for it)."""
    ship(setup, "waitfile.exe")
    return {"SearchType": 10, "SearchString": "waitfile.exe",
            "SearchCmdLine": f"{setup.win(marker)} {wait_ms}", "RefContent": "WND_HIDE"}


def progress_title(setup) -> str:
    """The title of the setup's windows: its full path and " Setup" (the
    test copy has no product name)."""
    return to_windows(setup.exe) + " Setup"
