"""The real program against hostile and broken servers: redirect loops,
redirects to other schemes and to shares, part files as long as or longer
than the resource, and resumed and dropped downloads whose digest is taken
while they are written.

Every case must end within seconds, with a defined exit code and the closing
log line, leave no file under a target name that was not accepted, and
launch nothing that was not accepted. Wine's reports of unhandled exceptions
are switched on (WINEDEBUG=-all,err+seh) and must stay silent: a crash inside
Wine's libraries would otherwise look like an ordinary exit with code 0 or 1.
"""

from __future__ import annotations

import hashlib

import pytest

from transfer_servers import FaultServer, Resource
from winehelp import END_OF_LOG, TOOLS, read_log

CRASH_REPORTING = {"WINEDEBUG": "-all,err+seh"}
SECONDS = 25  # a generous bound for one run under a loaded machine


@pytest.fixture(scope="module")
def http():
    server = FaultServer()
    yield server
    server.close()


@pytest.fixture(scope="module")
def package() -> bytes:
    """A real program (it appends a line to a marker file), so that a run
    whose download is accepted launches something that can tell."""
    return (TOOLS / "guipackage.exe").read_bytes()


class Run:
    def __init__(self, setup, result, lines):
        self.setup, self.result, self.lines = setup, result, lines

    @property
    def marker(self):
        return self.setup.folder / "launched.txt"

    @property
    def launched(self) -> bool:
        return self.marker.exists()

    def files_left(self) -> list[str]:
        dl = self.setup.folder / "dl"
        return sorted(p.name for p in dl.rglob("*")) if dl.exists() else []


def run_download(setup, url, *, md5=None, sha256=None, size=None, mandatory=True, keep=False,
                 part=None, name="pkg.exe") -> Run:
    dl = setup.folder / "dl"
    if part is not None:
        dl.mkdir(parents=True, exist_ok=True)
        (dl / (name + ".part")).write_bytes(part)
    log = setup.folder / "run.log"
    prereq = {"DisplayName": "Pkg", "Url": url, "Operator": 1, "Folder": f"?{name}",
              "NoUiCommandLine": f"0 {setup.win(setup.folder / 'launched.txt')}"}
    if mandatory:
        prereq["Options"] = "m"
    if md5:
        prereq["MD5"] = md5
    if sha256:
        prereq["SHA256"] = sha256
    if size is not None:
        prereq["ExactSize"] = size
    lines = ["[GeneralOptions]", "Options=q", f"DownloadFolder={setup.win(dl)}"]
    if keep:
        lines.append("KeepFiles=complete")
    lines += ["[PREREQUISITES]", "App1=id1", "[PREREQ_CHAINER]", f"LogFile={setup.win(log)}", "[App1]"]
    lines += [f"{k}={v}" for k, v in prereq.items()]
    setup.write_config("\n".join(lines) + "\n")
    result = setup.run(timeout=90, env=CRASH_REPORTING)
    assert log.exists(), f"no log: {result}"
    return Run(setup, result, read_log(log).lines)


def assert_ended_cleanly(run: Run, code: int):
    assert run.result.code == code, run.result
    assert run.result.seconds < SECONDS, run.result
    assert run.lines[-1] == END_OF_LOG, run.lines
    for report in ("err:seh", "Unhandled exception", "Unhandled page fault", "wine: "):
        assert report not in run.result.output, run.result.output


def assert_nothing_obtained(run: Run):
    """A failed download: nothing launched, nothing left in the download folder."""
    assert not any(line.startswith("Launching file:") for line in run.lines), run.lines
    assert not run.launched
    assert run.files_left() == []


# --------------------------------------------------------------------------
# Redirects


def test_redirect_loop_to_itself_ends_after_ten(prefix, make_setup, http):
    path = f"/{prefix.arch}/loop-self"
    url = http.url(path)
    http.add(path, Resource(status=302, headers={"Location": url}))
    before = len(http.requests_for(path))

    run = run_download(make_setup(prefix), url)

    assert_ended_cleanly(run, 1)
    assert_nothing_obtained(run)
    assert run.lines.count(f"Redirected to:{url}") == 10, run.lines
    assert f"Too many redirects (more than 10), the last to:{url}" in run.lines
    assert "Download failed. Error:12156" in run.lines
    assert len(http.requests_for(path)) - before == 11


def test_redirects_back_and_forth_and_ever_longer(prefix, make_setup, http):
    # Each test run (one per kind of prefix) has paths of its own.
    ping, pong, grow = (f"/{prefix.arch}/{name}" for name in ("ping", "pong", "grow"))
    http.add(ping, Resource(status=307, headers={"Location": pong}))
    http.add(pong, Resource(status=301, headers={"Location": http.url(ping)}))
    http.dynamic[grow] = lambda path: (308, {"Location": path + "/deeper"})
    for start in (ping, grow):
        before = len(http.requests_under(start)) + len(http.requests_under(pong))

        run = run_download(make_setup(prefix), http.url(start))

        assert_ended_cleanly(run, 1)
        assert_nothing_obtained(run)
        assert sum(line.startswith("Redirected to:") for line in run.lines) == 10, run.lines
        assert any(line.startswith("Too many redirects (more than 10)") for line in run.lines)
        assert "Download failed. Error:12156" in run.lines
        asked = len(http.requests_under(start)) + len(http.requests_under(pong)) - before
        assert asked == 11


@pytest.mark.parametrize("location", [
    "file:///C:/windows/system32/notepad.exe",
    "ftp://127.0.0.1:21/pkg.exe",
    "\\\\127.0.0.1\\share\\pkg.exe",
    "file://127.0.0.1/share/pkg.exe",
], ids=["file", "ftp", "unc", "file-share"])
def test_redirect_to_another_scheme_or_a_share_is_refused(prefix, make_setup, http, location):
    path = f"/{prefix.arch}/to-{abs(hash(location))}"
    http.add(path, Resource(status=302, headers={"Location": location}))

    run = run_download(make_setup(prefix), http.url(path))

    assert_ended_cleanly(run, 1)
    assert_nothing_obtained(run)
    assert f"Redirect refused (only http and https are followed):{location}" in run.lines, run.lines
    assert "Download failed. Error:12156" in run.lines
    assert not any(line.startswith("Redirected to:") for line in run.lines)


def test_ten_redirects_are_followed(prefix, make_setup, http, package):
    base = f"/{prefix.arch}"
    http.add(f"{base}/hop10/pkg.exe", Resource(package))
    for n in range(10):
        http.add(f"{base}/hop{n}/pkg.exe", Resource(status=(301, 302, 303, 307, 308)[n % 5],
                                                    headers={"Location": f"../hop{n + 1}/pkg.exe"}))
    md5 = hashlib.md5(package).hexdigest()

    run = run_download(make_setup(prefix), http.url(f"{base}/hop0/pkg.exe"), md5=md5, size=len(package),
                       mandatory=False)

    assert_ended_cleanly(run, 0)
    hops = [line for line in run.lines if line.startswith("Redirected to:")]
    assert hops == [f"Redirected to:{http.url(f'{base}/hop{n}/pkg.exe')}" for n in range(1, 11)]
    assert "Downloaded file was accepted." in run.lines
    assert run.launched


# --------------------------------------------------------------------------
# Part files


def test_part_longer_than_the_resource_starts_again(prefix, make_setup, http, package):
    path = f"/{prefix.arch}/oversize/pkg.exe"
    http.add(path, Resource(package))
    md5 = hashlib.md5(package).hexdigest()
    before = len(http.requests_for(path))

    run = run_download(make_setup(prefix), http.url(path), md5=md5, mandatory=False,
                       part=package + b"left over from another version")

    assert_ended_cleanly(run, 0)
    assert "Downloaded file was accepted." in run.lines
    assert run.launched
    ranges = [r.headers.get("range") for r in http.requests_for(path)[before:]]
    assert ranges == [f"bytes={len(package) + 30}-", None]  # 416, then the whole file


@pytest.mark.parametrize("ranges", [True, False], ids=["416", "200"])
def test_complete_part_is_put_in_place_and_checked(prefix, make_setup, http, package, ranges):
    path = f"/{prefix.arch}/complete-{ranges}/pkg.exe"
    http.add(path, Resource(package, ranges=ranges))
    md5 = hashlib.md5(package).hexdigest()

    # The part holds the whole file: put in place, accepted, launched, and
    # no body is read.
    run = run_download(make_setup(prefix), http.url(path), md5=md5, part=package)
    assert_ended_cleanly(run, 1)  # launched, but detection still finds it missing
    assert "Downloaded file was accepted." in run.lines, run.lines
    assert run.launched
    assert [r.headers.get("range") for r in http.requests_for(path)] == [f"bytes={len(package)}-"]

    # A part of the same length with other bytes: put in place, rejected by
    # its MD5, deleted, never launched. The next run downloads it afresh.
    wrong = bytes(len(package))
    setup = make_setup(prefix)
    run = run_download(setup, http.url(path), md5=md5, part=wrong)
    assert_ended_cleanly(run, 1)
    assert "Downloaded file was rejected.(Invalid size or MD5)." in run.lines, run.lines
    assert not run.launched and run.files_left() == []
    run = run_download(setup, http.url(path), md5=md5)
    assert "Downloaded file was accepted." in run.lines, run.lines
    assert run.launched


# --------------------------------------------------------------------------
# The digest taken while writing decides as reading the file would


@pytest.mark.parametrize("digest", ["MD5", "SHA256"])
@pytest.mark.parametrize("case", ["resumed", "resumed-wrong-bytes", "dropped", "dropped-reset",
                                  "range-ignored"])
def test_digest_while_writing_decides_as_reading_would(prefix, make_setup, http, package, case,
                                                       digest):
    data = package + bytes(range(256)) * 4000  # a program with a tail of data, ~1.3 MB
    checks = ({"md5": hashlib.md5(data).hexdigest()} if digest == "MD5"
              else {"sha256": hashlib.sha256(data).hexdigest().upper()})
    path = f"/{prefix.arch}/digest-{case}-{digest}/pkg.exe"
    part = None
    if case == "resumed":
        http.add(path, Resource(data))
        part = data[:700_000]
    elif case == "resumed-wrong-bytes":
        http.add(path, Resource(data))
        part = data[:300_000] + bytes(400_000)  # a part that is not the file's start
    elif case == "dropped":
        http.add(path, Resource(data, cut={0: 400_000, 1: 1_100_000}))
    elif case == "dropped-reset":
        http.add(path, Resource(data, cut={0: 600_000}, reset=True))
    else:
        http.add(path, Resource(data, ranges=False))
        part = b"\xee" * 500_000

    setup = make_setup(prefix)
    run = run_download(setup, http.url(path), size=len(data), keep=True, part=part, **checks)

    final = setup.folder / "dl" / "pkg.exe"
    if case == "resumed-wrong-bytes":
        # Reading the file would give the digest of what is in it: wrong.
        reason = "(Invalid size or MD5)." if digest == "MD5" else "(Invalid SHA256)."
        assert "Downloaded file was rejected." + reason in run.lines, run.lines
        assert not final.exists() and not run.launched
    else:
        assert "Downloaded file was accepted." in run.lines, run.lines
        assert final.read_bytes() == data
        assert run.launched
    assert_ended_cleanly(run, 1)
