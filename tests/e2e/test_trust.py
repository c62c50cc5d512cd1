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
    lines = ["[GeneralOptions]", "Options=q", f"DownloadFolder={setup.win(setup.folder / 'dl')}",
             f"ExtractionFolder={setup.win(setup.folder)}"]
    lines += [f"{k}={v}" for k, v in (general or {}).items()]
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


def test_file_url_of_a_share_runs_the_file_on_the_share(prefix, make_setup, share):
    """"file://server/share/x" is the share path everywhere: the launcher must
    not take it for the relative path server\\share\\x, which resolves in the
    setup's own folder (the working folder), where another file may lie."""
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
    assert launch == f"Launching file:\\\\{server}\\share\\package.exe", lines
    runs = marker_lines(marker)
    assert len(runs) == 1 and runs[0].endswith(" from-share"), runs  # not the decoy's "ran"
    assert "Return code of launched file:0" in lines, lines
    assert result.code == 0, (result, lines)
