"""No link in any part of a path the program writes or deletes: the log, the
clean-up's deletions and folder removals, the ".part" file of a download.
Unix symbolic links in the prefix stand in for junctions and symbolic links
(Wine shows a link to a folder as a reparse point, and follows a link to a
file)."""

from __future__ import annotations

import hashlib
import uuid

import pytest

from transfer_servers import FaultServer, Resource
from winehelp import END_OF_LOG, TOOLS, read_log, unique


@pytest.fixture(scope="module")
def http():
    server = FaultServer()
    yield server
    server.close()


def victim_folder(tmp_path, name="protected"):
    """A folder the program must never write into: stands for C:\\Windows."""
    folder = tmp_path / name
    folder.mkdir()
    (folder / "system.cfg").write_bytes(b"untouched")
    return folder


def log_only_config(setup, log, extra=""):
    setup.write_config("\n".join(["[GeneralOptions]", "Options=q", "[PREREQUISITES]",
                                  "[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]) + "\n" + extra)


# --------------------------------------------------------------------------
# The log


def test_log_below_a_linked_folder_higher_up_is_refused(prefix, make_setup, tmp_path):
    """C:\\T\\X\\Tasks\\s.log with X a link to C:\\Windows: the log's own
    folder (Tasks) is no link, one above it is. The log goes to the next
    candidate, never into the protected folder."""
    setup = make_setup(prefix, unique("linkup") + ".exe")
    victim = victim_folder(tmp_path)
    (victim / "Tasks").mkdir()
    (tmp_path / "T").mkdir()
    (tmp_path / "T" / "X").symlink_to(victim, target_is_directory=True)
    log_only_config(setup, tmp_path / "T" / "X" / "Tasks" / "s.log")

    result = setup.run(timeout=60)

    assert result.code == 0, result
    assert list((victim / "Tasks").iterdir()) == []
    assert sorted(p.name for p in victim.iterdir()) == ["Tasks", "system.cfg"]
    fallback = setup.fallback_log
    try:
        assert read_log(fallback).lines[-1] == END_OF_LOG
    finally:
        fallback.unlink(missing_ok=True)


def test_log_in_a_drive_root_is_written_there(prefix, make_setup):
    """The root's final path ends with a backslash, the file's folder part
    does not: the log there must not be refused (leaving an empty file)."""
    setup = make_setup(prefix, unique("rootlog") + ".exe")
    name = unique("root") + ".log"
    log = prefix.drive_c / name
    setup.write_config("\n".join(["[GeneralOptions]", "Options=q", "[PREREQUISITES]",
                                  "[PREREQ_CHAINER]", f"LogFile=C:\\{name}"]) + "\n")
    try:
        result = setup.run(timeout=60)
        assert result.code == 0, result
        assert read_log(log).lines == [END_OF_LOG]
        assert not setup.fallback_log.exists()
    finally:
        log.unlink(missing_ok=True)
        setup.fallback_log.unlink(missing_ok=True)


# --------------------------------------------------------------------------
# The clean-up


def test_cleanup_never_deletes_through_a_linked_subfolder(prefix, make_setup, tmp_path):
    """"Inside the clean-up root" is a judgement on the text: root\\sub is a
    link to a folder elsewhere. Neither the file there nor its emptied folder
    may go; what really lies inside the root does."""
    setup = make_setup(prefix)
    root = tmp_path / "root"
    root.mkdir()
    outside = tmp_path / "outside"
    (outside / "deeper").mkdir(parents=True)
    (outside / "deeper" / "victim.txt").write_bytes(b"keep me")
    (root / "sub").symlink_to(outside, target_is_directory=True)
    (root / "own").mkdir()
    (root / "own" / "mine.txt").write_bytes(b"delete me")
    files = "\x01".join([setup.win(root / "sub" / "deeper" / "victim.txt"), setup.win(root / "own" / "mine.txt")])
    setup.write_config("\n".join(["[GeneralOptions]", "Options=q", "[PREREQUISITES]", "[PREREQ_CHAINER]",
                                  f"CleanupFolders={setup.win(root)}", f"CleanupFiles={files}"]) + "\n")

    result = setup.run(timeout=60)

    assert result.code == 0, result
    assert (outside / "deeper" / "victim.txt").read_bytes() == b"keep me"
    assert (root / "sub").is_symlink()
    assert not (root / "own").exists()  # deleted, and its folder removed
    assert not setup.ini.exists()


# --------------------------------------------------------------------------
# The part file of a download


def test_part_file_that_is_a_link_is_never_written_through(prefix, make_setup, http, tmp_path):
    """A ".part" planted as a link to a protected file: resuming would append
    the download to that file. The download fails instead, and the file is
    untouched."""
    data = (TOOLS / "package.exe").read_bytes()
    path = f"/links/{prefix.arch}/{uuid.uuid4().hex[:6]}/pkg.exe"
    http.add(path, Resource(body=data))
    setup = make_setup(prefix)
    victim = victim_folder(tmp_path)
    dl = setup.folder / "dl"
    dl.mkdir()
    (dl / "pkg.exe.part").symlink_to(victim / "system.cfg")
    log = setup.folder / "run.log"
    setup.write_config("\n".join([
        "[GeneralOptions]", "Options=q", f"DownloadFolder={setup.win(dl)}", "[PREREQUISITES]", "App1=id1",
        "[PREREQ_CHAINER]", f"LogFile={setup.win(log)}", "[App1]", "DisplayName=Pkg", "Operator=1",
        f"Url={http.url(path)}", "Options=m", f"MD5={hashlib.md5(data).hexdigest()}"]) + "\n")

    result = setup.run(timeout=60)

    lines = read_log(log).lines
    assert (victim / "system.cfg").read_bytes() == b"untouched"
    assert any(line.startswith("Download failed. Error:") for line in lines), lines
    assert not any(line.startswith("Launching file:") for line in lines), lines
    assert result.code == 1, (result, lines)  # the mandatory prerequisite is missing
    assert lines[-1] == END_OF_LOG
