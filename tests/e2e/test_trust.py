"""Faults a review found in what the design says, reproduced end to end:
percent signs in URLs, files found in the download folder, SHA-256 digests,
file URLs that name a share, long paths in the download pass, the log file
as a way in, and configuration values longer than Windows accepts."""

from __future__ import annotations

import hashlib
import re
import shutil

import pytest

from transfer_servers import FaultServer, Resource
from winehelp import END_OF_LOG, TOOLS, read_log


@pytest.fixture(scope="module")
def http():
    server = FaultServer()
    yield server
    server.close()


def write_config(setup, prereqs, general=None, log_name="run.log"):
    """A quiet run; without search entries, Operator 1 means "not installed"."""
    log = setup.folder / log_name
    options = {"Options": "q", "DownloadFolder": setup.win(setup.folder / "dl"),
               "ExtractionFolder": setup.win(setup.folder), **(general or {})}
    lines = ["[GeneralOptions]"] + [f"{k}={v}" for k, v in options.items()]
    lines.append("[PREREQUISITES]")
    lines += [f"App{i}=id{i}" for i in range(1, len(prereqs) + 1)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    for i, p in enumerate(prereqs, 1):
        lines.append(f"[App{i}]")
        lines += [f"{k}={v}" for k, v in {"Operator": 1, **p}.items()]
    setup.write_config("\n".join(lines) + "\n")
    return log


def run(setup, prereqs, timeout=180, **kw):
    log = write_config(setup, prereqs, **kw)
    result = setup.run(timeout=timeout)
    return result, read_log(log).lines


def package_bytes() -> bytes:
    return (TOOLS / "package.exe").read_bytes()


def marker_lines(path):
    return path.read_text().splitlines() if path.exists() else []


# --------------------------------------------------------------------------
# Percent signs


def test_percent_encoded_url_is_asked_for_as_written(prefix, make_setup, http):
    """"%20Setup%" is no variable: the URL keeps it. A defined variable in the
    same URL still expands."""
    data = package_bytes()
    for arch in ("x86", "AMD64"):
        http.add(f"/{arch}/My%20Setup%20v2.exe", Resource(body=data))
    setup = make_setup(prefix)
    marker = setup.folder / "marker.txt"
    result, lines = run(setup, [{
        "DisplayName": "Encoded", "Url": http.url("/%PROCESSOR_ARCHITECTURE%/My%20Setup%20v2.exe"),
        "MD5": hashlib.md5(data).hexdigest(), "ExactSize": len(data),
        "NoUiCommandLine": f"0 {setup.win(marker)} ran"}])

    asked = [r.path for r in http.requests if r.path.endswith("v2.exe")]
    assert asked and all(re.fullmatch(r"/(x86|AMD64)/My%20Setup%20v2\.exe", p) for p in asked), asked
    assert "Downloaded file was accepted." in lines, lines
    launch = next(line for line in lines if line.startswith("Launching file:"))
    assert launch.endswith("\\dl\\My%20Setup%20v2.exe"), launch
    assert [line.split(" ")[-1] for line in marker_lines(marker)] == ["ran"]
    assert result.code == 0, (result, lines)


# --------------------------------------------------------------------------
# File URLs that name a share


@pytest.fixture
def share(prefix, tmp_path):
    """A network share \\\\<server>\\share as Wine resolves it: a link under the
    prefix's dosdevices\\unc folder to a folder of this test."""
    import uuid
    server = f"trustsrv{uuid.uuid4().hex[:6]}"
    folder = tmp_path / "share"
    folder.mkdir()
    unc = prefix.path / "dosdevices" / "unc" / server
    unc.mkdir(parents=True)
    (unc / "share").symlink_to(folder)
    yield server, folder
    shutil.rmtree(unc)


def test_file_url_of_a_share_runs_the_file_from_the_share(prefix, make_setup, share):
    """"file://server/share/x" is the share path everywhere: it must not be
    taken for the relative path server\\share\\x, which resolves in the
    setup's own folder (the working folder), where another file may lie. The
    file is read from the share once, into the download folder, and that
    copy runs."""
    server, folder = share
    data = package_bytes()
    (folder / "package.exe").write_bytes(data)
    setup = make_setup(prefix)
    decoy = setup.folder / server / "share"
    decoy.mkdir(parents=True)
    shutil.copyfile(TOOLS / "exitcode.exe", decoy / "package.exe")  # writes "ran"
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [{
        "DisplayName": "Shared", "Url": f"file://{server}/share/package.exe",
        "MD5": hashlib.md5(data).hexdigest(), "ExactSize": len(data),
        "NoUiCommandLine": f"0 {setup.win(marker)} from-share"}])

    launch = next(line for line in lines if line.startswith("Launching file:"))
    assert launch == "Launching file:" + setup.win(setup.folder / "dl" / "package.exe"), lines
    runs = marker_lines(marker)
    assert len(runs) == 1 and runs[0].endswith(" from-share"), runs  # not the decoy's "ran"
    assert "Return code of launched file:0" in lines, lines
    assert result.code == 0, (result, lines)


# --------------------------------------------------------------------------
# Files already in the download folder


def same_size_programs():
    """package.exe (writes "show=.. cmd=..") and exitcode.exe (writes "ran"),
    padded with zeros to one size: a stale file that passes the size test."""
    good, stale = package_bytes(), (TOOLS / "exitcode.exe").read_bytes()
    size = max(len(good), len(stale))
    return good.ljust(size, b"\0"), stale.ljust(size, b"\0")


def test_present_file_that_fails_its_check_is_downloaded_again(prefix, make_setup, http):
    good, stale = same_size_programs()
    path = f"/present/{prefix.arch}/fresh.exe"
    http.add(path, Resource(body=good))
    setup = make_setup(prefix)
    (setup.folder / "dl").mkdir()
    (setup.folder / "dl" / "fresh.exe").write_bytes(stale)  # right size, wrong content
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [{
        "DisplayName": "Fresh", "Url": http.url(path),
        "MD5": hashlib.md5(good).hexdigest(), "ExactSize": len(good),
        "NoUiCommandLine": f"0 {setup.win(marker)} fresh"}])

    i = lines.index("Starting installing prerequisites in silent mode.")
    assert lines[i + 1:i + 7] == [
        "Checking present file:" + setup.win(setup.folder / "dl" / "fresh.exe"),
        "Present file was rejected.(Invalid size or MD5).",
        "Starting download of:Fresh", "Download completed succesfully.",
        "Downloaded file was accepted.",
        "Launching file:" + setup.win(setup.folder / "dl" / "fresh.exe")], lines
    runs = marker_lines(marker)
    assert len(runs) == 1 and runs[0].endswith(" fresh"), runs  # not the stale file's "ran"
    assert len(http.requests_for(path)) == 1
    assert result.code == 0, (result, lines)


def test_present_file_that_passes_its_check_runs_without_a_download(prefix, make_setup, http):
    good = package_bytes()
    path = f"/present/{prefix.arch}/kept.exe"
    http.add(path, Resource(body=good))
    setup = make_setup(prefix)
    (setup.folder / "dl").mkdir()
    (setup.folder / "dl" / "kept.exe").write_bytes(good)
    marker = setup.folder / "marker.txt"
    sha256 = hashlib.sha256(good).hexdigest()

    result, lines = run(setup, [{
        "DisplayName": "Kept", "Url": http.url(path),
        "MD5": hashlib.md5(good).hexdigest(), "SHA256": sha256, "ExactSize": len(good),
        "NoUiCommandLine": f"0 {setup.win(marker)} kept"}])

    i = lines.index("Starting installing prerequisites in silent mode.")
    assert lines[i + 1:i + 4] == [
        "Checking present file:" + setup.win(setup.folder / "dl" / "kept.exe"),
        "Present file was accepted.",
        "Launching file:" + setup.win(setup.folder / "dl" / "kept.exe")], lines
    assert http.requests_for(path) == []
    assert [line.split(" ")[-1] for line in marker_lines(marker)] == ["kept"]
    assert result.code == 0, (result, lines)


# --------------------------------------------------------------------------
# SHA-256


def sha256sum(path) -> str:
    import subprocess
    out = subprocess.run(["sha256sum", str(path)], check=True, capture_output=True, text=True).stdout
    return out.split()[0]


def test_sha256_of_large_random_files_agrees_with_sha256sum(prefix, make_setup, http, tmp_path):
    """Random files around the 64 KiB read blocks and one of 64 MiB: each is
    accepted with the digest that sha256sum gives (in upper case for one)."""
    import os
    sizes = [1, 65535, 65536, 65537, 3 * 65536 + 5, 64 * 1024 * 1024 + 7]
    prereqs = []
    for n, size in enumerate(sizes):
        data = os.urandom(size)
        (tmp_path / f"r{n}.bin").write_bytes(data)
        digest = sha256sum(tmp_path / f"r{n}.bin")
        http.add(f"/sha/{prefix.arch}/r{n}.bin", Resource(body=data))
        prereqs.append({"DisplayName": f"R{n}", "Url": http.url(f"/sha/{prefix.arch}/r{n}.bin"),
                        "SHA256": digest.upper() if n == 0 else digest,
                        "Options": "m"})  # mandatory: a rejection ends the pass
    setup = make_setup(prefix)

    result, lines = run(setup, prereqs, timeout=300)

    assert lines.count("Downloaded file was accepted.") == len(sizes), lines
    assert not any("rejected" in line for line in lines), lines


@pytest.mark.parametrize("value, reason", [
    ("0" * 64, "(Invalid SHA256)."),
    ("1" * 63, "(Invalid SHA256 value: 64 hexadecimal digits expected)."),
    ("", "(Invalid SHA256 value: 64 hexadecimal digits expected)."),
    ("g" + "0" * 63, "(Invalid SHA256 value: 64 hexadecimal digits expected)."),
])
def test_sha256_mismatch_or_malformed_value_rejects_the_download(prefix, make_setup, http, tmp_path,
                                                                 value, reason):
    import os
    data = os.urandom(300000)
    http.add(f"/sha/bad-{len(value)}-{value[:1]}.bin", Resource(body=data))
    setup = make_setup(prefix)
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [{
        "DisplayName": "Bad", "Url": http.url(f"/sha/bad-{len(value)}-{value[:1]}.bin"),
        "MD5": hashlib.md5(data).hexdigest(), "ExactSize": len(data), "SHA256": value,
        "Options": "m", "NoUiCommandLine": f"0 {setup.win(marker)}"}])

    i = lines.index("Download completed succesfully.")
    assert lines[i + 1] == "Downloaded file was rejected." + reason, lines
    assert not any(line.startswith("Launching file:") for line in lines), lines
    assert not (setup.folder / "dl" / f"bad-{len(value)}-{value[:1]}.bin").exists()
    assert result.code == 1, (result, lines)  # the mandatory prerequisite is missing
    assert lines[-1] == END_OF_LOG


# --------------------------------------------------------------------------
# Values longer than Windows accepts

HUGE = 1_000_000
# Wine's own report of a crash: a crash inside Wine's libraries can otherwise
# look like an ordinary exit.
CRASH_RE = re.compile(r"unhandled|stack overflow|page fault|err:seh|backtrace", re.I)


def run_seen(setup, prereqs, **kw):
    """A run with Wine's crash reports in its output."""
    log = write_config(setup, prereqs, **kw)
    result = setup.run(timeout=180, env={"WINEDEBUG": "err+seh"})
    crashes = [line for line in result.output.splitlines() if CRASH_RE.search(line)]
    return result, log, crashes


TOO_LONG_TEXT = "The filename or extension is too long."


@pytest.mark.parametrize("kind", ["setup-file", "command-line", "shipped-folder"])
def test_over_long_launch_values_fail_the_launch_cleanly(prefix, make_setup, kind):
    """A launch path or command line of a million characters never reaches
    the shell or CreateProcess: the launch fails with
    ERROR_FILENAME_EXCED_RANGE and the usual rules give the exit code."""
    setup = make_setup(prefix)
    shutil.copyfile(TOOLS / "package.exe", setup.folder / "package.exe")
    marker = setup.folder / "marker.txt"
    prereq = {"DisplayName": "Huge", "Options": "m", "SetupFile": "package.exe",
              "NoUiCommandLine": f"0 {setup.win(marker)}"}
    general = None
    if kind == "setup-file":
        prereq["SetupFile"] = "C:\\" + "a" * HUGE + ".exe"
    elif kind == "command-line":
        prereq["NoUiCommandLine"] += " " + "x" * HUGE
    else:
        general = {"ExtractionFolder": "C:\\" + "f" * HUGE}

    result, log, crashes = run_seen(setup, [prereq], general=general)

    assert crashes == [], crashes
    lines = read_log(log).lines
    failed = [line for line in lines if line.startswith("Launch failed. Error:")]
    assert len(failed) == 1, [line[:200] for line in lines]
    assert failed[0] != "Launch failed. Error:", failed
    assert "Return code of launched file:206" in lines
    assert not marker.exists()
    assert result.code == 1, result  # the mandatory prerequisite is missing
    assert lines[-1] == END_OF_LOG


def test_over_long_download_folder_fails_the_download_cleanly(prefix, make_setup, http):
    path = f"/long/{prefix.arch}/pkg.exe"
    http.add(path, Resource(body=package_bytes()))
    setup = make_setup(prefix)

    result, log, crashes = run_seen(
        setup, [{"DisplayName": "Huge", "Options": "m", "Url": http.url(path)}],
        general={"DownloadFolder": "C:\\" + "d" * HUGE})

    assert crashes == [], crashes
    lines = read_log(log).lines
    i = lines.index("Starting download of:Huge")
    assert lines[i + 1].startswith("Download failed. Error:") and lines[i + 1] != "Download failed. Error:"
    assert http.requests_for(path) == []
    assert result.code == 1, result
    assert lines[-1] == END_OF_LOG


def test_over_long_detection_program_is_not_found(prefix, make_setup):
    """The detection program's path reaches the shell too (search kind 10)."""
    setup = make_setup(prefix)
    shutil.copyfile(TOOLS / "package.exe", setup.folder / "package.exe")
    marker = setup.folder / "marker.txt"

    result, log, crashes = run_seen(setup, [{
        "DisplayName": "Detect", "SetupFile": "package.exe", "Operator": 0,
        "NoUiCommandLine": f"0 {setup.win(marker)}",
        "SearchType1": 10, "SearchString1": "p" * HUGE + ".exe"}])

    assert crashes == [], crashes
    lines = read_log(log).lines
    assert "Search result:No acceptable version found. It must be installed from package." in lines
    assert len(marker_lines(marker)) == 1  # not detected: installed
    assert result.code == 0, result
    assert lines[-1] == END_OF_LOG


# --------------------------------------------------------------------------
# The log file as a way in


@pytest.fixture
def program_data_logs(prefix):
    """ProgramData\\CORVANE_LOGS of the prefix, put back as it was after the
    test (other tests' fallback logs live there)."""
    import os
    folder = prefix.program_data / "CORVANE_LOGS"
    aside = folder.with_name("CORVANE_LOGS.aside")
    if aside.exists() or aside.is_symlink():
        shutil.rmtree(aside)
    moved = folder.exists() and not folder.is_symlink()
    if moved:
        folder.rename(aside)
    elif folder.is_symlink():
        folder.unlink()
    yield folder
    if folder.is_symlink():
        folder.unlink()
    elif folder.exists():
        shutil.rmtree(folder)
    if moved:
        aside.rename(folder)
    assert not os.path.islink(folder)


def victim_folder(tmp_path):
    folder = tmp_path / "protected"
    folder.mkdir()
    (folder / "system.cfg").write_bytes(b"untouched")
    return folder


@pytest.mark.parametrize("link", ["hard-link", "file-symlink", "folder-symlink"])
def test_configured_log_is_never_written_through_a_link(prefix, make_setup, tmp_path, link):
    """Someone who can write the log's folder puts a link where the log will
    be. The chainer (possibly LocalSystem) must not append to what it leads
    to: that candidate is refused and the log goes to the next one."""
    setup = make_setup(prefix)
    victim = victim_folder(tmp_path)
    logs = tmp_path / "logs"
    if link == "folder-symlink":
        logs.symlink_to(victim, target_is_directory=True)
        log = logs / "new.log"
    else:
        logs.mkdir()
        log = logs / "system.cfg"
        if link == "hard-link":
            import os
            os.link(victim / "system.cfg", log)
        else:
            log.symlink_to(victim / "system.cfg")
    setup.write_config("\n".join(["[GeneralOptions]", "Options=q", "[PREREQUISITES]",
                                  "[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]) + "\n")

    result = setup.run(timeout=60)

    assert result.code == 0, result
    assert (victim / "system.cfg").read_bytes() == b"untouched"
    assert sorted(p.name for p in victim.iterdir()) == ["system.cfg"]
    assert read_log(setup.fallback_log).lines[-1] == END_OF_LOG


def test_fallback_log_folder_made_a_link_is_refused(prefix, make_setup, tmp_path, program_data_logs):
    """ProgramData\\CORVANE_LOGS can be made by any user; made a link to a
    protected folder, it must not receive the log: the next fallback (beside
    the program) does."""
    setup = make_setup(prefix)
    victim = victim_folder(tmp_path)
    program_data_logs.symlink_to(victim, target_is_directory=True)
    missing = setup.folder / "no" / "such" / "x.log"
    setup.write_config("\n".join(["[GeneralOptions]", "Options=q", "[PREREQUISITES]",
                                  "[PREREQ_CHAINER]", f"LogFile={setup.win(missing)}"]) + "\n")

    result = setup.run(timeout=60)

    assert result.code == 0, result
    assert sorted(p.name for p in victim.iterdir()) == ["system.cfg"]
    beside = setup.folder / (setup.exe.stem + ".LOG")
    assert read_log(beside).lines[-1] == END_OF_LOG
