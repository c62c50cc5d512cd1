"""Helpers for running prereq.exe and the test tools under Wine.

Everything here talks to real components: a real Wine prefix (its own
wineserver, registry and C: drive), real files in temporary folders and real
Windows processes. Output of Wine processes always goes to files or
/dev/null, never to pipes: wineserver and the helper processes Wine starts
would inherit a pipe and keep it open long after the program ended.
"""

from __future__ import annotations

import datetime as dt
import functools
import os
import re
import shutil
import signal
import subprocess
import time
import uuid
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD_ROOT = REPO / "build"
PREFIX_SCRIPT = REPO / "scripts" / "wine-prefix.sh"
WINE64_LOADER = "/usr/lib/wine/wine64"


@functools.lru_cache(maxsize=None)
def x86_runs() -> bool:
    """Whether this machine executes 32-bit x86 code. Wine's i386 loader (and
    with it every 32-bit Windows program, also under WOW64) needs it; some
    virtual machines run 64-bit user code only. PREREQ_NO_X86=1 answers no
    (scripts/runs-x86.sh)."""
    return subprocess.call([str(REPO / "scripts" / "runs-x86.sh"), "--wine"],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL) == 0


def pe_is_64bit(path: Path) -> bool:
    data = Path(path).read_bytes()[:4096]
    offset = int.from_bytes(data[0x3C:0x40], "little")
    return data[offset + 4:offset + 6] == b"\x64\x86"  # IMAGE_FILE_MACHINE_AMD64


def choose_build() -> Path:
    """build/ holds the shipped 32-bit program; build/x64/ a 64-bit build of the
    same sources for machines that cannot execute 32-bit code.
    PREREQ_E2E_BUILD=<dir> chooses explicitly."""
    if os.environ.get("PREREQ_E2E_BUILD"):
        return Path(os.environ["PREREQ_E2E_BUILD"]).absolute()
    if not x86_runs() and (BUILD_ROOT / "x64" / "prereq.exe").exists():
        return BUILD_ROOT / "x64"
    return BUILD_ROOT


BUILD = choose_build()
PREREQ_EXE = BUILD / "prereq.exe"
TOOLS = BUILD / "tools"

BOM = b"\xff\xfe"

# Log file layout.
BANNER = "\r\n<< Corvane (x86) Log >>\r\n"
END_OF_LOG = "=====================End of Log====================="
STAMP_RE = re.compile(r"^(\d{4})-(\d{2})-(\d{2}) (\d{2})-(\d{2})-(\d{2})-(.*)$", re.S)
LOG_FOLDER = "CORVANE_LOGS"

# Registry keys of the Windows version.
CURRENT_VERSION = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion"
PRODUCT_OPTIONS = r"HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions"


def unique(stem: str) -> str:
    """A name no other test uses (logs under ProgramData are shared)."""
    return f"{stem}-{uuid.uuid4().hex[:8]}"


def base_name(exe_name: str) -> str:
    """The executable's name cut at its last "."."""
    return exe_name.rsplit(".", 1)[0] if "." in exe_name else exe_name


def to_windows(path: os.PathLike | str) -> str:
    """Linux path -> Windows path on Wine's Z: drive (the Linux root)."""
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


# --------------------------------------------------------------------------
# Wine prefix


class WinePrefix:
    """A Wine prefix with its own persistent wineserver."""

    def __init__(self, path: Path, arch: str):
        if arch not in ("win32", "win64"):
            raise ValueError(arch)
        self.path = Path(path).absolute()
        self.arch = arch
        self.started = False

    def __repr__(self) -> str:
        return f"WinePrefix({self.path}, {self.arch})"

    @property
    def is64(self) -> bool:
        return self.arch == "win64"

    @property
    def loader(self) -> str:
        # The "wine" script prefers the i386 loader; where that cannot run, a
        # 64-bit prefix works with the 64-bit loader alone.
        return WINE64_LOADER if self.is64 and not x86_runs() else "wine"

    @property
    def env(self) -> dict[str, str]:
        env = dict(os.environ)
        env.update(
            WINEPREFIX=str(self.path),
            WINEARCH=self.arch,
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        return env

    @property
    def drive_c(self) -> Path:
        return self.path / "drive_c"

    @property
    def program_data(self) -> Path:
        return self.drive_c / "ProgramData"

    # -- life cycle --------------------------------------------------------

    def start(self) -> None:
        """Creates the prefix when needed and starts its server. The prefix
        gets a virtual desktop (scripts/wine-prefix.sh): without one, under
        Xvfb, every closed window costs 2 s and windows have no title bars."""
        self.path.parent.mkdir(parents=True, exist_ok=True)
        out = self.path.parent / f"{self.path.name}.start.txt"
        with open(out, "wb") as sink:
            rc = subprocess.call(
                [str(PREFIX_SCRIPT), "start", str(self.path), self.arch],
                stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT,
                timeout=600,
            )
        if rc != 0:
            raise RuntimeError(
                f"cannot start the {self.arch} prefix {self.path} (rc {rc}):\n"
                + out.read_text(errors="replace"))
        self.started = True

    def stop(self) -> None:
        subprocess.call(
            [str(PREFIX_SCRIPT), "stop", str(self.path), self.arch],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, timeout=120,
        )
        self.started = False

    # -- paths ---------------------------------------------------------------

    to_windows = staticmethod(to_windows)

    def to_linux(self, windows_path: str) -> Path:
        """Windows path of this prefix -> Linux path (drive letters only)."""
        m = re.match(r"^(?:\\\\\?\\)?([A-Za-z]):(.*)$", windows_path)
        if not m:
            raise ValueError(f"not a drive path: {windows_path!r}")
        letter, rest = m.group(1).lower(), m.group(2).replace("\\", "/").lstrip("/")
        if letter == "z":
            root = Path("/")
        elif letter == "c":
            root = self.drive_c
        else:
            root = (self.path / "dosdevices" / f"{letter}:").resolve()
        return root / rest

    # -- processes -----------------------------------------------------------

    def popen(self, args: list[str], *, cwd: Path | None = None,
              output: Path | None = None, env: dict[str, str] | None = None) -> "WineProcess":
        """Starts `wine <args>` in the background, output into a file. `env`
        adds to or replaces variables of the prefix's environment (for
        example WINEDEBUG, to see Wine's crash reports)."""
        sink = open(output, "wb") if output else subprocess.DEVNULL
        try:
            proc = subprocess.Popen(
                [self.loader, *map(str, args)], env={**self.env, **(env or {})}, cwd=cwd,
                stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT,
                start_new_session=True,
            )
        finally:
            if output:
                sink.close()
        return WineProcess(self, proc, output, [str(a) for a in args])

    def wine(self, args: list[str], *, cwd: Path | None = None,
             timeout: float = 60, output: Path | None = None) -> tuple[int, str]:
        """Runs `wine <args>` to its end; returns (Linux exit status, output)."""
        if output is None:
            output = Path(os.environ.get("TMPDIR", "/tmp")) / f"wine-{uuid.uuid4().hex}.out"
            remove = True
        else:
            remove = False
        try:
            proc = self.popen(args, cwd=cwd, output=output)
            rc = proc.wait(timeout)
            return rc, output.read_bytes().decode("utf-8", "replace")
        finally:
            if remove:
                output.unlink(missing_ok=True)

    def kill_matching(self, marker: str) -> list[int]:
        """Kills this prefix's Wine processes whose command line contains
        `marker` (case-insensitive). Used after a time-out: Wine may put a
        Windows child process into a session of its own."""
        killed = []
        marker = marker.lower()
        me = str(self.path)
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                environ = (entry / "environ").read_bytes().split(b"\0")
                if f"WINEPREFIX={me}".encode() not in environ:
                    continue
                cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ")
            except OSError:
                continue
            if marker in cmdline.decode("utf-8", "replace").lower():
                try:
                    os.kill(int(entry.name), signal.SIGKILL)
                    killed.append(int(entry.name))
                except OSError:
                    pass
        return killed

    # -- registry ------------------------------------------------------------

    def _reg(self, args: list[str]) -> tuple[int, str]:
        view = ["/reg:64"] if self.is64 else []
        return self.wine(["reg", *args, *view], timeout=60)

    def reg_query(self, key: str, name: str):
        """(type, data) of a registry value, or None when it does not exist.
        REG_DWORD data is an int, everything else text. A query that fails for
        another reason is tried again, then raises: taken for a missing value,
        it would make the registry fixture delete the value afterwards."""
        for _ in range(3):
            rc, out = self._reg(["query", key, "/v", name])
            if rc == 0 or "Unable to find" in out:
                break
        else:
            raise RuntimeError(f"reg query {key} {name} failed ({rc}): {out!r}")
        if rc != 0:
            return None
        for line in out.splitlines():
            parts = line.strip("\r\n").split("    ")
            parts = [p for p in parts if p != ""]
            if len(parts) >= 2 and parts[0].strip() == name and parts[1].startswith("REG_"):
                kind = parts[1]
                data = parts[2] if len(parts) > 2 else ""
                if kind in ("REG_DWORD", "REG_QWORD"):
                    return kind, int(data, 0)
                return kind, data
        return None

    def reg_add(self, key: str, name: str, kind: str, data) -> None:
        rc, out = self._reg(["add", key, "/v", name, "/t", kind, "/d", str(data), "/f"])
        if rc != 0:
            raise RuntimeError(f"reg add {key} {name} failed: {out}")

    def reg_delete(self, key: str, name: str) -> None:
        self._reg(["delete", key, "/v", name, "/f"])


class WineProcess:
    """A `wine ...` process started in the background."""

    def __init__(self, prefix: WinePrefix, proc: subprocess.Popen,
                 output: Path | None, args: list[str]):
        self.prefix = prefix
        self.proc = proc
        self.output = output
        self.args = args
        self.started_at = time.time()

    def poll(self):
        return self.proc.poll()

    @property
    def running(self) -> bool:
        return self.proc.poll() is None

    def wait(self, timeout: float) -> int:
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise

    def kill(self) -> None:
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except OSError:
            pass
        for arg in self.args:
            if "\\" in arg or "/" in arg:
                self.prefix.kill_matching(to_windows(arg) if arg.startswith("/") else arg)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            pass

    def text(self) -> str:
        return self.output.read_bytes().decode("utf-8", "replace") if self.output else ""


# --------------------------------------------------------------------------
# Log file


@dataclass
class LogSession:
    """One opening of the log: header and time-stamped lines."""
    os_version: str
    cpu: str
    lines: list[tuple[dt.datetime, str]] = field(default_factory=list)
    body: str = ""


@dataclass
class Log:
    raw: bytes
    text: str  # without the byte-order mark
    sessions: list[LogSession]

    @property
    def lines(self) -> list[str]:
        return [t for s in self.sessions for _, t in s.lines]


def decode_log(raw: bytes) -> str:
    assert raw.startswith(BOM), f"log does not start with FF FE: {raw[:64]!r}"
    assert len(raw) % 2 == 0, f"log has an odd number of bytes ({len(raw)}): {raw!r}"
    return raw[2:].decode("utf-16-le")


def parse_log(raw: bytes) -> Log:
    """Checks the layout of a log file and splits it into sessions. A layout
    fault raises AssertionError with the text that did not fit."""
    text = decode_log(raw)
    assert "\ufeff" not in text, f"byte-order mark inside the log: {text!r}"
    assert text.startswith(BANNER), f"log does not start with the banner: {text[:200]!r}"
    sessions = []
    for chunk in text.split(BANNER)[1:]:
        m = re.match(r"OS Version: ([^\r\n]*)\r\nCPU: ([^\r\n]*)\r\n\r\n", chunk)
        assert m, f"bad header after the banner: {chunk[:300]!r}"
        session = LogSession(os_version=m.group(1), cpu=m.group(2), body=chunk[m.end():])
        body = session.body
        assert body == "" or body.endswith("\r\n"), f"log text does not end with CR LF: {body[-200:]!r}"
        for line in body.split("\r\n")[:-1]:
            if line == "" and session.lines and session.lines[-1][1] == END_OF_LOG:
                continue  # the closing line ends with two line ends
            sm = STAMP_RE.match(line)
            assert sm, f"line without time stamp: {line!r} in {body!r}"
            y, mo, d, h, mi, s = (int(x) for x in sm.groups()[:6])
            session.lines.append((dt.datetime(y, mo, d, h, mi, s), sm.group(7)))
        sessions.append(session)
    return Log(raw=raw, text=text, sessions=sessions)


def read_log(path: Path) -> Log:
    return parse_log(Path(path).read_bytes())


# --------------------------------------------------------------------------
# Configuration files


MARKS = {"utf-16-le": BOM, "utf-16-be": b"\xfe\xff", "utf-8": b"\xef\xbb\xbf"}


def encode_config(text: str, *, bom: bool = True, eol: str = "\r\n",
                  encoding: str = "utf-16-le") -> bytes:
    """A configuration file, UTF-16 LE unless another encoding is named (with
    its byte-order mark, if it has one, when `bom`); "\n" in `text` becomes
    `eol`."""
    data = text.replace("\r\n", "\n").replace("\n", eol).encode(encoding)
    return (MARKS.get(encoding, b"") if bom else b"") + data


def chainer_config(log: str | None = None, options: str | None = "q", extra: str = "") -> str:
    """A configuration without prerequisites."""
    lines = []
    if options is not None:
        lines += ["[GeneralOptions]", f"Options={options}"]
    lines += ["[PREREQUISITES]"]
    if log is not None:
        lines += ["[PREREQ_CHAINER]", f"LogFile={log}"]
    text = "\n".join(lines) + "\n"
    return text + extra


# --------------------------------------------------------------------------
# prereq.exe in a setup folder


@dataclass
class RunResult:
    code: int | None        # signed 32-bit exit code; None when it could not be read
    status: int             # Linux exit status of the Wine process (low 8 bits)
    seconds: float
    started: float          # time.time() at start
    ended: float
    output: str = ""


class Setup:
    """A copy of prereq.exe under a chosen name in a folder of its own,
    optionally with a configuration file beside it."""

    def __init__(self, prefix: WinePrefix, folder: Path, name: str = "prereq.exe"):
        self.prefix = prefix
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.name = name
        self.exe = self.folder / name
        shutil.copyfile(PREREQ_EXE, self.exe)
        self.ini = self.folder / (base_name(name) + ".ini")
        # Started from another folder: the configuration must be found by the
        # executable's own path, not by the working folder.
        self.cwd = self.folder.parent / (self.folder.name + "-cwd")
        self.cwd.mkdir(exist_ok=True)

    def win(self, path: os.PathLike | str) -> str:
        return to_windows(path)

    @property
    def fallback_log(self) -> Path:
        """Where the log goes when the configured one cannot be opened."""
        return self.prefix.program_data / LOG_FOLDER / (base_name(self.name) + ".LOG")

    def write_config(self, text: str, *, bom: bool = True, eol: str = "\r\n",
                     name: str | None = None, encoding: str = "utf-16-le") -> Path:
        return self.write_config_bytes(encode_config(text, bom=bom, eol=eol, encoding=encoding),
                                       name=name)

    def write_config_bytes(self, raw: bytes, *, name: str | None = None) -> Path:
        path = self.folder / name if name else self.ini
        path.write_bytes(raw)
        return path

    def start(self, output: Path | None = None, env: dict[str, str] | None = None) -> WineProcess:
        """Starts prereq.exe through runwait.exe (full exit code) in the background."""
        output = output or self.folder.parent / f"{self.folder.name}-{uuid.uuid4().hex[:6]}.out"
        return self.prefix.popen([TOOLS / "runwait.exe", self.win(self.exe)],
                                 cwd=self.cwd, output=output, env=env)

    def finish(self, proc: WineProcess, timeout: float = 60) -> RunResult:
        status = proc.wait(timeout)
        ended = time.time()
        out = proc.text()
        m = re.search(r"exit=(-?\d+)", out)
        code = int(m.group(1)) if m else None
        return RunResult(code=code, status=status, seconds=ended - proc.started_at,
                         started=proc.started_at, ended=ended, output=out)

    def run(self, timeout: float = 60, env: dict[str, str] | None = None) -> RunResult:
        return self.finish(self.start(env=env), timeout)


# -- Windows Installer packages -------------------------------------------

def build_msi(folder: Path, *, product: str, upgrade: str, component: str, name: str,
              version: str, per_user: bool) -> Path:
    """Builds with wixl a product with one file component: per user into the
    local application data, or per machine into Program Files."""
    folder = Path(folder)
    scope, root = ("perUser", "LocalAppDataFolder") if per_user else \
        ("perMachine", "ProgramFilesFolder")
    (folder / "payload.txt").write_text("payload\n")
    (folder / "p.wxs").write_text(f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{product}" Name="{name}" Language="1033" Version="{version}"
           Manufacturer="Tests" UpgradeCode="{upgrade}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="{scope}"/>
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="{root}">
        <Directory Id="INSTALLDIR" Name="{name.replace(' ', '')}">
          <Component Id="Main" Guid="{component}">
            <File Id="payload" Source="payload.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
""")
    subprocess.run(["wixl", "-o", str(folder / "p.msi"), str(folder / "p.wxs")], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return folder / "p.msi"


# --------------------------------------------------------------------------
# Stand-in PowerShell


class PowerShellStandIn:
    """build/tools/psstandin.exe as powershell.exe in the prefix, where
    prereq.exe looks for PowerShell: <System folder>\\WindowsPowerShell\\v1.0.
    A 32-bit program in a 64-bit prefix sees syswow64 as its System folder
    (file-system redirection), so the stand-in goes there and not into
    system32. Every start writes a record (command line, working folder, show
    command) into the "records" folder beside it. install() keeps Wine's own
    file and restore() puts it back."""

    SUBPATH = Path("WindowsPowerShell") / "v1.0"

    def __init__(self, prefix: WinePrefix):
        self.prefix = prefix
        program_is_64bit = pe_is_64bit(PREREQ_EXE)
        system = "syswow64" if prefix.is64 and not program_is_64bit else "system32"
        self.folder = prefix.drive_c / "windows" / system / self.SUBPATH
        self.exe = self.folder / "powershell.exe"
        self.saved = self.folder / "powershell.exe.wine"
        self.records_folder = self.folder / "records"

    def install(self) -> "PowerShellStandIn":
        self.folder.mkdir(parents=True, exist_ok=True)
        if self.exe.exists() and not self.saved.exists():
            shutil.copyfile(self.exe, self.saved)
        shutil.copyfile(TOOLS / "psstandin.exe", self.exe)
        self.clear()
        return self

    def restore(self) -> None:
        if self.saved.exists():
            shutil.copyfile(self.saved, self.exe)
            self.saved.unlink()
        else:
            self.exe.unlink(missing_ok=True)
        shutil.rmtree(self.records_folder, ignore_errors=True)

    def clear(self) -> None:
        shutil.rmtree(self.records_folder, ignore_errors=True)

    def records(self) -> list[dict[str, str]]:
        """The records written so far, oldest first: {"cmdline", "cwd", "show"}."""
        if not self.records_folder.exists():
            return []
        out = []
        files = sorted(self.records_folder.glob("*.rec"), key=lambda p: p.stat().st_mtime_ns)
        for path in files:
            fields = {}
            for line in path.read_text(encoding="utf-8").split("\n"):
                if "=" in line:
                    key, value = line.split("=", 1)
                    fields[key] = value
            out.append(fields)
        return out

    def wait_for(self, count: int = 1, timeout: float = 30) -> list[dict[str, str]]:
        """Waits until `count` records exist (the chainer does not wait for
        the script, so the record may come after its exit)."""
        end = time.time() + timeout
        while True:
            found = self.records()
            if len(found) >= count or time.time() > end:
                return found
            time.sleep(0.1)
