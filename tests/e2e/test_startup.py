"""Start-up: finding and reading the configuration, and the wait for the
Windows Installer mutex."""

from __future__ import annotations

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
    """holdmutex.exe: owns "Global\\_MSIExecute" until released."""

    def __init__(self, prefix, folder, abandon=False):
        self.ready = folder / "mutex.ready"
        self.release_file = folder / "mutex.release"
        args = [TOOLS / "holdmutex.exe", to_windows(self.ready), to_windows(self.release_file),
                "120000"] + (["--abandon"] if abandon else [])
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

    def make(prefix, abandon=False):
        holder = MutexHolder(prefix, tmp_path, abandon)
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


def test_abandoned_installer_mutex_ends_the_wait_with_zero(prefix, make_setup, mutex_holder):
    setup = make_setup(prefix)
    log = setup.folder / "abandoned.log"
    setup.write_config(chainer_config(log=setup.win(log)))
    holder = mutex_holder(prefix, abandon=True)

    proc = setup.start()
    try:
        time.sleep(3)
        assert proc.running, f"prereq.exe did not wait for the mutex: {proc.text()}"
        holder.release()
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()

    assert holder.proc.wait(30) == 0, holder.proc.text()
    assert result.code == 0, result
    assert read_log(log).lines[-1] == END_OF_LOG

