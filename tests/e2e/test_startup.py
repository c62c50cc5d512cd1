"""Start-up: finding and reading the configuration, and the wait for the
Windows Installer mutex."""

from __future__ import annotations

import shutil
import time

import pytest

from winehelp import END_OF_LOG, TOOLS, chainer_config, read_log, to_windows, unique


def files_in(folder):
    return sorted(p.name for p in folder.iterdir())


def test_without_configuration_exits_at_once_with_zero_and_no_log(prefix, make_setup):
    setup = make_setup(prefix, unique("nocfg") + ".exe")

    result = setup.run()

    assert result.code == 0, result
    assert files_in(setup.folder) == [setup.name]
    assert files_in(setup.cwd) == []
    assert not setup.fallback_log.exists()


@pytest.mark.parametrize("exe, ini, found", [
    ("prereq.exe", "prereq.ini", True),
    ("my.setup.exe", "my.setup.ini", True),
    # Cut at the last "." only.
    ("my.setup.exe", "my.ini", False),
    ("my.setup.exe", "my.setup.exe.ini", False),
])
def test_configuration_is_the_executables_base_name_with_ini(prefix32, make_setup, exe, ini, found):
    setup = make_setup(prefix32, exe)
    log = setup.folder / "chain.log"
    setup.write_config(chainer_config(log=setup.win(log)), name=ini)

    result = setup.run()

    assert result.code == 0, result
    assert log.exists() == found, files_in(setup.folder)
    if found:
        assert read_log(log).lines[-1] == END_OF_LOG


@pytest.mark.parametrize("raw", [b"", b"\xff", b"\xff\xfe"], ids=["0-bytes", "1-byte", "bom-only"])
def test_configuration_without_text_is_an_empty_configuration(prefix32, make_setup, raw):
    setup = make_setup(prefix32, unique("short") + ".exe")
    setup.write_config_bytes(raw)

    result = setup.run()

    assert result.code == 0, result
    assert files_in(setup.folder) == sorted([setup.name, setup.ini.name])
    assert not setup.fallback_log.exists()


def test_odd_trailing_byte_is_not_part_of_the_text(prefix32, make_setup):
    setup = make_setup(prefix32)
    log = setup.folder / "odd.log"
    # The LogFile line is the last one, without a line end: a trailing byte
    # taken as a character would change the path.
    text = chainer_config(log=setup.win(log)).rstrip("\n")
    raw = b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le") + b"A"
    setup.write_config_bytes(raw)

    result = setup.run()

    assert result.code == 0, result
    # [PREREQ_CHAINER] was read: the clean-up at exit deleted the configuration.
    assert files_in(setup.folder) == sorted([setup.name, "odd.log"])
    assert read_log(log).lines[-1] == END_OF_LOG


# --------------------------------------------------------------------------
# Windows Installer mutex


class MutexHolder:
    """holdmutex.exe: owns "Global\\_MSIExecute" until released. `mode` "abandon"
    ends it without releasing; "deny" makes the mutex unopenable; "event" puts
    an event under the name."""

    def __init__(self, prefix, folder, mode=None):
        self.ready = folder / "mutex.ready"
        self.release_file = folder / "mutex.release"
        args = [TOOLS / "holdmutex.exe", to_windows(self.ready), to_windows(self.release_file),
                "120000"] + ([f"--{mode}"] if mode else [])
        self.proc = prefix.popen(args, output=folder / "holdmutex.out")

    def wait_ready(self, timeout=60):
        end = time.time() + timeout
        while not self.ready.exists():
            code = self.proc.poll()
            assert code is None, f"holdmutex ended with {code}: {self.proc.text()}"
            assert time.time() < end, "holdmutex did not get ready"
            time.sleep(0.05)

    def release(self):
        self.released_at = time.time()
        self.release_file.write_text("release")

    def kill(self):
        if self.proc.running:
            self.proc.kill()


def visible_windows(prefix, folder):
    rc, out = prefix.wine([TOOLS / "listwindows.exe"], output=folder / "windows.txt")
    assert rc == 0, out
    return [tuple(line.split("\t", 1)) for line in out.splitlines() if "\t" in line]


def status_windows(windows):
    return [w for w in windows if w[0].endswith(" Setup") or "Preparing..." in w[1]]


@pytest.fixture
def mutex_holder(tmp_path):
    holders = []

    def make(prefix, mode=None):
        holder = MutexHolder(prefix, tmp_path, mode)
        holders.append(holder)
        holder.wait_ready()
        return holder

    yield make
    for holder in holders:
        holder.kill()


@pytest.mark.parametrize("quiet", [True, False], ids=["quiet", "full-ui"])
def test_waits_for_installer_mutex_and_shows_status_window_unless_quiet(
        prefix, make_setup, mutex_holder, tmp_path, quiet, request):
    if not quiet:
        request.getfixturevalue("display")
    setup = make_setup(prefix, unique("wait") + ".exe")
    log = setup.folder / "wait.log"
    setup.write_config(chainer_config(log=setup.win(log), options="q" if quiet else ""))
    holder = mutex_holder(prefix)

    proc = setup.start()
    try:
        if quiet:
            time.sleep(4)
            windows = visible_windows(prefix, tmp_path)
            assert status_windows(windows) == [], windows
        else:
            end = time.time() + 30
            while True:
                windows = visible_windows(prefix, tmp_path)
                shown = [w for w in windows if w[1] == "Preparing..."]
                if shown or time.time() > end or not proc.running:
                    break
                time.sleep(0.5)
            assert shown, f"no \"Preparing...\" window; visible: {windows}"
            assert all(title.endswith(" Setup") for title, _ in shown), shown
        assert proc.running, f"prereq.exe did not wait for the mutex: {proc.text()}"
        assert not log.exists() or END_OF_LOG not in log.read_bytes().decode("utf-16-le", "replace")

        holder.release()
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()

    assert holder.proc.wait(30) == 0, holder.proc.text()
    assert result.code == 0, result
    closing = read_log(log).sessions[-1].lines[-1]
    assert closing[1] == END_OF_LOG
    # Written after the release, not before (the stamp has whole seconds).
    assert closing[0].timestamp() >= int(holder.released_at) - 1


class MutexWaiter:
    """waitmutex.exe: another program that needs the mutex (a second setup).
    Its result file says "wait=0" when it got the mutex in order, "wait=128"
    when it got it abandoned, "wait=258" when it timed out."""

    def __init__(self, prefix, folder, name, timeout_ms=60000):
        self.result = folder / f"{name}.result"
        self.proc = prefix.popen([TOOLS / "waitmutex.exe", to_windows(self.result), str(timeout_ms)],
                                 output=folder / f"{name}.out")

    def outcome(self, timeout=60):
        self.proc.wait(timeout)
        return self.result.read_text().strip() if self.result.exists() else None


# Long enough for a started chainer to be waiting on the mutex (a 64-bit
# prefix starts a 32-bit program more slowly).
CHAINER_WAITING = 8


def mutex_config(setup, package_args):
    """A quiet run whose one prerequisite (never detected) is waitmutex.exe,
    shipped beside the setup: the package itself needs the installer mutex
    (creating it when nobody has it), as an msiexec started by the install
    loop does."""
    shutil.copyfile(TOOLS / "waitmutex.exe", setup.folder / "waitmutex.exe")
    log = setup.folder / "run.log"
    setup.write_config("\n".join([
        "[GeneralOptions]", "Options=q", f"ExtractionFolder={setup.win(setup.folder)}",
        "[PREREQUISITES]", "App1=waiter", "[PREREQ_CHAINER]", f"LogFile={setup.win(log)}",
        "[App1]", "DisplayName=Waiter", "SetupFile=waitmutex.exe", "Operator=1",
        f"NoUiCommandLine={package_args}"]) + "\n")
    return log


def test_installer_mutex_goes_back_right_after_the_wait(prefix, make_setup, mutex_holder, tmp_path):
    """Three programs: one holds the mutex, the chainer waits for it, a third
    program waits too. When the holder lets go, the chainer takes the mutex and
    must give it back at once: the third program gets it in order (not
    abandoned when the chainer exits), and the package that the install loop
    starts gets it too instead of timing out."""
    setup = make_setup(prefix)
    package_result = tmp_path / "package.result"
    log = mutex_config(setup, f"{setup.win(package_result)} 15000 --create")
    holder = mutex_holder(prefix)

    proc = setup.start()
    try:
        time.sleep(CHAINER_WAITING)  # the chainer is the first waiter
        assert proc.running, f"prereq.exe did not wait for the mutex: {proc.text()}"
        third = MutexWaiter(prefix, tmp_path, "third")
        time.sleep(1)
        holder.release()
        result = setup.finish(proc, timeout=90)
    finally:
        if proc.running:
            proc.kill()

    assert holder.proc.wait(30) == 0, holder.proc.text()
    assert third.outcome() == "wait=0"
    assert package_result.read_text().strip() == "wait=0"
    lines = read_log(log).lines
    assert "Return code of launched file:0" in lines, lines
    assert result.code == 0, (result, lines)
    assert lines[-1] == END_OF_LOG


def test_abandoned_installer_mutex_is_released_logged_and_the_run_goes_on(
        prefix, make_setup, mutex_holder, tmp_path):
    """The holder ends without releasing: its transaction is over. The chainer
    gets the mutex abandoned, logs it, gives it back and installs: the
    package, which needs the mutex too, gets it in order."""
    setup = make_setup(prefix)
    package_result = tmp_path / "package.result"
    log = mutex_config(setup, f"{setup.win(package_result)} 15000 --create")
    holder = mutex_holder(prefix, "abandon")

    proc = setup.start()
    try:
        time.sleep(CHAINER_WAITING)
        assert proc.running, f"prereq.exe did not wait for the mutex: {proc.text()}"
        holder.release()
        result = setup.finish(proc, timeout=90)
    finally:
        if proc.running:
            proc.kill()

    assert holder.proc.wait(30) == 0, holder.proc.text()
    lines = read_log(log).lines
    assert "The Windows Installer mutex was abandoned by its owner; the run goes on." in lines, lines
    assert lines.index("The Windows Installer mutex was abandoned by its owner; the run goes on.") \
        < lines.index("Launching file:" + setup.win(setup.folder / "waitmutex.exe"))
    assert package_result.read_text().strip() == "wait=0"
    assert result.code == 0, (result, lines)
    assert lines[-1] == END_OF_LOG


@pytest.mark.parametrize("mode", ["event", "deny"])
def test_installer_mutex_that_cannot_be_waited_for_ends_the_run_with_one(
        prefix, make_setup, mutex_holder, tmp_path, mode):
    """The name belongs to another kind of object, or the mutex refuses us:
    nothing was done, so the run must not report success."""
    setup = make_setup(prefix)
    package_result = tmp_path / "package.result"
    log = mutex_config(setup, f"{setup.win(package_result)} 1000 --create")
    mutex_holder(prefix, mode)
    probe = MutexWaiter(prefix, tmp_path, "probe", timeout_ms=0)
    opened = probe.outcome()
    if mode == "deny" and not opened.startswith("open="):
        pytest.skip(f"this Wine does not enforce the mutex's access list ({opened})")

    result = setup.run(timeout=60)

    lines = read_log(log).lines
    failure = [line for line in lines if line.startswith("Waiting for the Windows Installer failed. Error:")]
    assert len(failure) == 1 and len(failure[0]) > len("Waiting for the Windows Installer failed. Error:"), lines
    assert not package_result.exists()
    assert not any(line.startswith("Launching file:") for line in lines), lines
    assert result.code == 1, (result, lines)
    assert lines[-1] == END_OF_LOG
