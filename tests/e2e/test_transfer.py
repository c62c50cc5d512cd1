"""The transfer engine under Wine (tools/fetch.exe) against real servers on
127.0.0.1: HTTP with injected faults, HTTPS with a self-signed certificate,
FTP (pyftpdlib) and file URLs.

After every case the data is checked: the target is complete and correct or
absent, and a failed transfer leaves its ".part" file for the next attempt.
"""

from __future__ import annotations

import hashlib
import random
import re
import threading
import time
from dataclasses import dataclass, field
from pathlib import Path

import pytest

from transfer_servers import FaultServer, FtpServer, Resource, self_signed_certificate
from winehelp import TOOLS, to_windows

FETCH = TOOLS / "fetch.exe"
BLOCK = 51200

CANCELLED = 0xE0000008
DATA_ENDED_EARLY = 0xE000000F
RESUME_BEYOND_END = 0xE0000010
CREDENTIALS_REQUIRED = 0xE0000012
NOT_MODIFIED = 0xE0000013
FORBIDDEN = 0xE0000016
NOT_FOUND = 0xE0000018
SIZE_MISMATCH = 0xE0000023
PATH_NOT_ABSOLUTE = 0xE0000005


def payload(size: int, seed: int = 1) -> bytes:
    return random.Random(seed).randbytes(size)


@dataclass
class Fetch:
    result: int
    lines: list[str]
    errors: list[dict] = field(default_factory=list)
    progress: list[int] = field(default_factory=list)

    def has(self, prefix: str) -> bool:
        return any(line.startswith(prefix) for line in self.lines)

    def __str__(self):
        return "\n".join(self.lines)


def fetch(prefix, url: str, target, *options, timeout: float = 120) -> Fetch:
    target = to_windows(target) if isinstance(target, Path) else target
    rc, out = prefix.wine([FETCH, *map(str, options), url, target], timeout=timeout)
    lines = [line.rstrip("\r") for line in out.splitlines()]
    m = [re.fullmatch(r"result=0x([0-9A-F]{8})", line) for line in lines]
    results = [int(x.group(1), 16) for x in m if x]
    assert results, f"fetch.exe (exit status {rc}) printed no result:\n{out}"
    run = Fetch(results[-1], lines)
    for line in lines:
        em = re.fullmatch(r"error text=(.*) code=0x([0-9A-F]{8}) extra=(\w+) answer=0x([0-9A-F]{8})", line)
        if em:
            run.errors.append({"text": em.group(1), "code": int(em.group(2), 16), "extra": em.group(3),
                               "answer": int(em.group(4), 16)})
        pm = re.fullmatch(r"progress (\d+)", line)
        if pm:
            run.progress.append(int(pm.group(1)))
    return run


def part_of(target: Path) -> Path:
    return target.with_name(target.name + ".part")


def assert_complete(target: Path, data: bytes, run: Fetch):
    assert run.result == 0, str(run)
    assert target.read_bytes() == data
    assert not part_of(target).exists()
    assert run.has("done")
    assert sum(run.progress) == len(data), str(run)


def assert_failed(target: Path, run: Fetch, code: int, part: bytes | None = None):
    """Failed with `code`: no target; the part file holds exactly `part`
    (None: there is no part file)."""
    assert run.result == code, f"0x{run.result:08X} != 0x{code:08X}\n{run}"
    assert not target.exists()
    assert not run.has("done")
    if part is None:
        assert not part_of(target).exists()
    else:
        assert part_of(target).read_bytes() == part


@pytest.fixture(scope="module")
def http():
    server = FaultServer()
    yield server
    server.close()


@pytest.fixture(scope="module")
def https(tmp_path_factory):
    server = FaultServer(self_signed_certificate(tmp_path_factory.mktemp("cert")))
    yield server
    server.close()


@pytest.fixture(scope="module")
def ftp(tmp_path_factory):
    server = FtpServer(tmp_path_factory.mktemp("ftproot"))
    yield server
    server.close()


@pytest.fixture
def unique_path(request):
    counter = [0]

    def make(stem: str = "r") -> str:
        counter[0] += 1
        return f"/{request.node.name}-{stem}{counter[0]}".replace("[", "-").replace("]", "")
    return make


# --------------------------------------------------------------------------
# HTTP: complete downloads and what goes over the wire


def test_download_reports_start_progress_and_done(prefix, http, tmp_path, unique_path):
    data = payload(1_500_000)
    path = unique_path()
    url = http.add(path, Resource(data))
    target = tmp_path / "sub" / "dir" / "setup.exe"  # missing folders are created

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    assert run.lines[0] == f"start kind=1 total={len(data)} path={to_windows(target)}"
    assert run.progress[0] == 0  # the resume offset comes first
    assert all(0 < p <= BLOCK for p in run.progress[1:])
    assert run.errors == []
    (request,) = http.requests_for(path)
    assert request.request_line == f"GET {path} HTTP/1.0"
    assert request.headers["user-agent"] == "Corvane"
    assert request.headers["accept"] == "*/*"
    assert "range" not in request.headers


@pytest.mark.parametrize("encoding", [None, "*"])
def test_accept_encoding_header_only_when_set(prefix, http, tmp_path, unique_path, encoding):
    data = payload(10_000)
    path = unique_path()
    url = http.add(path, Resource(data))
    options = ["--accept-encoding", encoding] if encoding else []

    run = fetch(prefix, url, tmp_path / "x.bin", *options)

    assert_complete(tmp_path / "x.bin", data, run)
    (request,) = http.requests_for(path)
    assert request.headers.get("accept-encoding") == encoding


# --------------------------------------------------------------------------
# HTTP: resuming


def test_part_file_is_continued_with_range(prefix, http, tmp_path, unique_path):
    data = payload(1_000_000, 2)
    path = unique_path()
    url = http.add(path, Resource(data))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(data[:300_000])

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    assert run.progress[0] == 300_000
    assert run.lines[0].startswith(f"start kind=1 total={len(data)} ")
    (request,) = http.requests_for(path)
    assert request.headers["range"] == "bytes=300000-"


@pytest.mark.parametrize("reset", [False, True], ids=["fin", "rst"])
def test_dropped_connection_is_resumed_where_it_stopped(prefix, http, tmp_path, unique_path, reset):
    data = payload(1_200_000, 4)
    path = unique_path()
    url = http.add(path, Resource(data, cut={0: 400_000, 1: 900_000}, reset=reset))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    ranges = [r.headers.get("range") for r in http.requests_for(path)]
    if reset:
        # A reset may discard data the client had not read yet: each resumed
        # request starts at or before the cut, never after it.
        starts = [int(r[6:-1]) for r in ranges[1:]]
        assert ranges[0] is None and len(starts) == 2
        assert 0 < starts[0] <= 400_000 and starts[0] < starts[1] <= 900_000
    else:
        assert ranges == [None, "bytes=400000-", "bytes=900000-"]
    assert run.errors == []


def test_server_ignoring_range_restarts_the_part_file(prefix, http, tmp_path, unique_path):
    data = payload(700_000, 5)
    path = unique_path()
    url = http.add(path, Resource(data, ranges=False))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(b"\xff" * 250_000)  # not the resource's bytes

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    assert run.progress[0] == 0
    assert http.requests_for(path)[0].headers["range"] == "bytes=250000-"


@pytest.mark.parametrize("status", [400, 500])
def test_ranged_request_refused_drops_the_part_and_fetches_from_zero(prefix, http, tmp_path, unique_path,
                                                                     status):
    """A server that answers any Range with 400 or 500: kept, the part would
    be asked for with the same range by every later run, and fail the same
    way. It is dropped and the resource fetched once, whole, in the same
    attempt; failing that too, no part is left to be asked for again."""
    data = payload(300_000, 31)
    path = unique_path()
    url = http.add(path, Resource(data, range_status=status))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(data[:120_000])

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    assert run.progress[0] == 0
    assert [r.headers.get("range") for r in http.requests_for(path)] == ["bytes=120000-", None]

    gone = unique_path("gone")
    url = http.add(gone, Resource(status=404 if status == 400 else 503))
    target = tmp_path / "gone.bin"
    part_of(target).write_bytes(data[:120_000])
    run = fetch(prefix, url, target)
    assert_failed(target, run, NOT_FOUND if status == 400 else 12152, part=None)
    assert [r.headers.get("range") for r in http.requests_for(gone)] == ["bytes=120000-", None]


def test_body_without_length_stops_once_beyond_the_expected_size(prefix, http, tmp_path, unique_path):
    """No Content-Length and a body that never ends: with an expected size
    the data is not read to its end (filling the disk), but only until it is
    larger; the part goes, and the size is what failed."""
    path = unique_path()
    resource = Resource(endless=True)
    url = http.add(path, resource)
    target = tmp_path / "x.bin"
    started = time.time()

    run = fetch(prefix, url, target, "--expected", 100_000, "--quiet")

    assert_failed(target, run, SIZE_MISMATCH, part=None)
    assert [e["code"] for e in run.errors] == [SIZE_MISMATCH]
    assert time.time() - started < 30
    assert resource.sent and max(resource.sent) < 16 << 20, resource.sent


def test_drop_without_range_support_keeps_the_part_for_later(prefix, http, tmp_path, unique_path):
    data = payload(800_000, 6)
    path = unique_path()
    url = http.add(path, Resource(data, ranges=False, cut={0: 300_000}))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target)

    # The second answer starts from 0 again and cannot continue the part file.
    assert_failed(target, run, 12002, part=data[:300_000])
    assert [e["code"] for e in run.errors] == [12002]

    # The next attempt, once the server resumes, continues the part file.
    http.resources[path] = Resource(data)
    run = fetch(prefix, url, target)
    assert_complete(target, data, run)
    assert http.requests_for(path)[-1].headers["range"] == "bytes=300000-"


def test_body_shorter_than_announced_is_never_a_success(prefix, http, tmp_path, unique_path):
    # Content-Length 1000 bytes beyond the data; the server resumes, but has
    # nothing after its real end (416).
    data = payload(500_000, 7)
    path = unique_path()
    url = http.add(path, Resource(data, length=len(data) + 1000, cut={0: len(data)}))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target)

    assert_failed(target, run, RESUME_BEYOND_END, part=data)


def test_server_that_keeps_dropping_without_data_gives_up(prefix, http, tmp_path, unique_path):
    data = payload(300_000, 8)
    path = unique_path()
    cuts = {0: 100_000}
    cuts.update({n: 100_000 for n in range(1, 40)})  # every resumed answer ends at once
    url = http.add(path, Resource(data, cut=cuts))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target)

    assert_failed(target, run, DATA_ENDED_EARLY, part=data[:100_000])
    assert 2 <= len(http.requests_for(path)) <= 9


@pytest.mark.parametrize("ranges", [False, True], ids=["200", "416"])
def test_part_as_long_as_the_resource_is_put_in_place(prefix, http, tmp_path, unique_path, ranges):
    # The server answers 200 with that Content-Length, or 416 with
    # "bytes */<length>": the part is complete. It is put in place without
    # reading a body, and the acceptance check (size, MD5) decides; its
    # digest covers the part's bytes.
    data = payload(100_000, 9)
    for stem, part in (("same", data), ("other", payload(len(data), 99))):
        path = unique_path(stem)
        url = http.add(path, Resource(data, ranges=ranges))
        target = tmp_path / f"{stem}.bin"
        part_of(target).write_bytes(part)

        run = fetch(prefix, url, target, "--md5")

        assert run.result == 0 and run.errors == [], str(run)
        assert target.read_bytes() == part and not part_of(target).exists()
        assert f"written-md5={hashlib.md5(part).hexdigest()} bytes={len(part)}" in run.lines
        assert run.progress == [len(part)]
        assert [r.headers.get("range") for r in http.requests_for(path)] == [f"bytes={len(part)}-"]


@pytest.mark.parametrize("ranges", [False, True], ids=["200", "416"])
def test_part_longer_than_the_resource_starts_again(prefix, http, tmp_path, unique_path, ranges):
    data = payload(100_000, 25)
    path = unique_path()
    url = http.add(path, Resource(data, ranges=ranges))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(data + b"stale tail")

    run = fetch(prefix, url, target, "--md5")

    assert_complete(target, data, run)
    assert f"written-md5={hashlib.md5(data).hexdigest()} bytes={len(data)}" in run.lines
    # 416 (bytes */100000): asked again without a range; 200: read from 0.
    ranges_asked = [r.headers.get("range") for r in http.requests_for(path)]
    assert ranges_asked == ([f"bytes={len(data) + 10}-", None] if ranges else [f"bytes={len(data) + 10}-"])


def test_part_longer_than_the_expected_size_is_not_resumed(prefix, http, tmp_path, unique_path):
    data = payload(60_000, 26)
    path = unique_path()
    url = http.add(path, Resource(data))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(b"\0" * (len(data) + 1))

    assert_complete(target, data, fetch(prefix, url, target, "--expected", len(data)))
    assert [r.headers.get("range") for r in http.requests_for(path)] == [None]


def test_partial_answer_from_elsewhere_is_fetched_again_whole(prefix, http, tmp_path, unique_path):
    data = payload(400_000, 10)
    path = unique_path()
    url = http.add(path, Resource(data, content_range=f"bytes 1000-{len(data) - 1}/{len(data)}"))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(data[:200_000])

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    assert [r.headers.get("range") for r in http.requests_for(path)] == ["bytes=200000-", None]


# --------------------------------------------------------------------------
# HTTP: redirects, followed by the engine


@pytest.mark.parametrize("status", [301, 302, 303, 307, 308])
def test_redirect_is_followed_with_the_range(prefix, http, tmp_path, unique_path, status):
    data = payload(300_000, 30)
    path = unique_path("target")
    http.add(path, Resource(data))
    start = unique_path("start")
    url = http.add(start, Resource(status=status, headers={"Location": path}))
    target = tmp_path / "x.bin"
    part_of(target).write_bytes(data[:100_000])

    run = fetch(prefix, url, target, "--md5")

    assert_complete(target, data, run)
    assert run.progress[0] == 100_000
    assert [r.headers.get("range") for r in http.requests_for(start)] == ["bytes=100000-"]
    assert [r.headers.get("range") for r in http.requests_for(path)] == ["bytes=100000-"]
    assert f"log Redirected to:{http.url(path)}" in run.lines
    assert f"written-md5={hashlib.md5(data).hexdigest()} bytes={len(data)}" in run.lines


@pytest.mark.parametrize("location,code", [
    ("/{self}", 12156), ("file:///C:/x.exe", 12156), ("\\\\srv\\share\\x.exe", 12156),
    ("", 12156), ("ftp://127.0.0.1/x", 12156),
], ids=["loop", "file", "share", "empty", "ftp"])
def test_redirects_that_end_the_transfer(prefix, http, tmp_path, unique_path, location, code):
    path = unique_path()
    url = http.add(path, Resource(status=302, headers={"Location": location.replace("/{self}", path)}))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target, timeout=30)

    assert_failed(target, run, code)
    assert [e["code"] for e in run.errors] == [code]
    assert len(http.requests_for(path)) == (11 if "{self}" in location else 1)


def test_https_to_http_redirect_needs_a_digest(prefix, http, https, tmp_path, unique_path):
    # Without a digest to check the file afterwards, a file that would come
    # in the clear is refused (12040, logged); with one, the redirect is
    # followed and logged as a downgrade.
    data = payload(80_000, 31)
    plain = http.add(unique_path("plain"), Resource(data))
    url = https.add(unique_path("secure"), Resource(status=302, headers={"Location": plain}))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target, "--answer-cert", "0")
    assert_failed(target, run, 12040)
    assert "log Redirect refused (from https to http, and no digest checks the file):" + plain in run.lines

    run = fetch(prefix, url, target, "--answer-cert", "0", "--allow-downgrade")
    assert_complete(target, data, run)
    assert "log Redirected from https to http:" + plain in run.lines


# --------------------------------------------------------------------------
# The digest taken while writing


@pytest.mark.parametrize("case", ["fresh", "resumed", "resumed-other-bytes", "dropped-fin", "dropped-rst",
                                  "range-ignored", "complete-part", "ftp-resumed", "ftp-dropped"])
def test_written_digest_is_the_digest_of_the_file(prefix, http, ftp, tmp_path, unique_path, case):
    """Whatever way the file came together, the digest taken while writing is
    the digest of the file as it lies there (what the acceptance check would
    compute by reading it)."""
    data = payload(2_500_000, 32)  # more than two write pieces
    target = tmp_path / "x.bin"
    name = f"d-{case}.bin"
    if case.startswith("ftp"):
        (ftp.root / name).write_bytes(data)
        if case == "ftp-resumed":
            part_of(target).write_bytes(data[:1_300_000])
        else:
            ftp.cuts[name] = [900_000]
        url = ftp.url(name)
    else:
        resource = Resource(data)
        if case in ("resumed", "complete-part"):
            part_of(target).write_bytes(data if case == "complete-part" else data[:1_300_000])
        elif case == "resumed-other-bytes":
            part_of(target).write_bytes(b"\x5a" * 1_300_000)
        elif case == "dropped-fin":
            resource = Resource(data, cut={0: 1_000_000, 1: 2_200_000})
        elif case == "dropped-rst":
            resource = Resource(data, cut={0: 1_700_000}, reset=True)
        elif case == "range-ignored":
            resource = Resource(data, ranges=False)
            part_of(target).write_bytes(b"\x5a" * 700_000)
        url = http.add(unique_path(), resource)

    run = fetch(prefix, url, target, "--md5", "--sha256", "--quiet")

    assert run.result == 0, str(run)
    written = target.read_bytes()
    assert f"written-md5={hashlib.md5(written).hexdigest()} bytes={len(written)}" in run.lines, str(run)
    assert f"written-sha256={hashlib.sha256(written).hexdigest()}" in run.lines, str(run)
    expected = b"\x5a" * 1_300_000 + data[1_300_000:] if case == "resumed-other-bytes" else data
    assert written == expected


def test_written_digest_unknown_for_a_file_url_copy(prefix, tmp_path):
    source = tmp_path / "src.bin"
    source.write_bytes(payload(10_000, 33))
    url = "file:///" + to_windows(source).replace("\\", "/")
    run = fetch(prefix, url, tmp_path / "x.bin", "--md5", "--sha256")
    assert run.result == 0 and "written-md5=unknown" in run.lines, str(run)
    assert "written-sha256=unknown" in run.lines, str(run)


# --------------------------------------------------------------------------
# HTTP: answers that end the transfer


@pytest.mark.parametrize("status,code", [
    (304, NOT_MODIFIED), (400, NOT_FOUND), (404, NOT_FOUND), (410, NOT_FOUND), (403, FORBIDDEN),
    (401, CREDENTIALS_REQUIRED), (407, CREDENTIALS_REQUIRED), (500, 12152), (503, 12152),
])
def test_status_codes(prefix, http, tmp_path, unique_path, status, code):
    headers = {"WWW-Authenticate": 'Basic realm="r"'} if status == 401 else {}
    if status == 407:
        headers = {"Proxy-Authenticate": 'Basic realm="p"'}
    url = http.add(unique_path(), Resource(status=status, headers=headers))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target)

    assert_failed(target, run, code)
    # Every failure but 304 is reported once, with the target's file name.
    expected = [] if status == 304 else [{"text": "x.bin", "code": code, "extra": "none", "answer": code}]
    assert run.errors == expected
    assert not run.has("start")


def test_expected_size_differing_from_the_announced_length(prefix, http, tmp_path, unique_path):
    data = payload(50_000, 11)
    path = unique_path()
    url = http.add(path, Resource(data))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target, "--expected", len(data) + 1)
    assert_failed(target, run, SIZE_MISMATCH)  # before any data is written
    assert [e["code"] for e in run.errors] == [SIZE_MISMATCH]

    assert_complete(target, data, fetch(prefix, url, target, "--expected", len(data)))


def test_relative_target_never_touches_the_network(prefix, http, unique_path):
    path = unique_path()
    url = http.add(path, Resource(b"x"))

    run = fetch(prefix, url, "relative\\x.bin")

    assert run.result == PATH_NOT_ABSOLUTE
    assert run.errors == [{"text": "", "code": PATH_NOT_ABSOLUTE, "extra": "none", "answer": PATH_NOT_ABSOLUTE}]
    assert http.requests_for(path) == []


@pytest.mark.parametrize("url,code,attempts", [
    ("http://prereq-test-host.invalid/x.bin", 12007, 7),  # name not resolved: 1 + 6 retries
    ("http://127.0.0.1:1/x.bin", 12029, 7),               # nothing listens
    ("gopher://127.0.0.1/x.bin", 12006, 0),
    ("no url at all", None, 0),                           # the library's cracking error
])
def test_unreachable_and_unusable_urls(prefix, tmp_path, url, code, attempts):
    target = tmp_path / "x.bin"
    run = fetch(prefix, url, target, "--provider")
    if code is not None:
        assert run.result == code, str(run)
    else:
        assert run.result != 0
    assert_failed(target, run, run.result)
    assert [e["code"] for e in run.errors] == [run.result]
    # The provider hears "begin" once per connect and once before each send.
    begins = run.lines.count("credentials begin")
    assert begins == (1 + attempts if attempts else 0), str(run)


# --------------------------------------------------------------------------
# HTTP: stalls and cancellation


def test_stalled_body_continues(prefix, http, tmp_path, unique_path):
    data = payload(600_000, 12)
    url = http.add(unique_path(), Resource(data, stall={0: (200_000, 2.0)}))
    target = tmp_path / "x.bin"
    assert_complete(target, data, fetch(prefix, url, target))


def test_cancel_during_a_stall_then_resume(prefix, http, tmp_path, unique_path):
    # The server holds the body until the test releases it: a read is pending
    # when the observer cancels, and the engine must not wait for it.
    data = payload(900_000, 13)
    release = threading.Event()
    path = unique_path()
    url = http.add(path, Resource(data, stall={0: (300_000, release)}))
    target = tmp_path / "x.bin"
    try:
        run = fetch(prefix, url, target, "--cancel-after-ms", 1500, "--quiet", timeout=60)
    finally:
        release.set()
    assert run.result == CANCELLED, str(run)
    assert not target.exists() and run.errors == []  # cancelling is not an error
    part = part_of(target).read_bytes()
    assert 0 < len(part) <= 300_000 and part == data[:len(part)]

    run = fetch(prefix, url, target)
    assert_complete(target, data, run)
    assert http.requests_for(path)[-1].headers["range"] == f"bytes={len(part)}-"


@pytest.mark.parametrize("cancel_ms", [0, 20, 150, 400])
def test_cancel_at_any_moment_leaves_a_usable_part(prefix, http, tmp_path, unique_path, cancel_ms):
    # A body that trickles in pieces, so that the cancellation meets the
    # connect, the send, a pending read or a write, depending on the moment.
    data = payload(400_000, 22)
    path = unique_path()
    stalls = {n: (100_000 * (n % 3 + 1), 0.05) for n in range(4)}
    url = http.add(path, Resource(data, stall=stalls))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target, "--cancel-after-ms", cancel_ms)

    assert run.result in (0, CANCELLED), str(run)
    assert run.errors == []
    if run.result == 0:
        assert_complete(target, data, run)
    else:
        assert not target.exists()
        part = part_of(target).read_bytes() if part_of(target).exists() else b""
        assert part == data[:len(part)]
        assert_complete(target, data, fetch(prefix, url, target))


def test_read_completing_after_the_transfer_gave_up(prefix, http, tmp_path, unique_path):
    # The first download is cancelled while its read waits for a stalled
    # server; the stall ends while the process goes on, so the library
    # completes that read after the transfer is gone. A second transfer in
    # the same process must neither see that completion nor be disturbed.
    data = payload(600_000, 23)
    path = unique_path()
    url = http.add(path, Resource(data, stall={0: (200_000, 1.5)}))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target, "--cancel-after-ms", 700, "--again", 2500, "--quiet")

    results = [line for line in run.lines if line.startswith("result=")]
    assert results == ["result=0xE0000008", "result=0x00000000"], str(run)
    assert target.read_bytes() == data and not part_of(target).exists()
    assert run.errors == []


def test_cancel_after_some_blocks(prefix, http, tmp_path, unique_path):
    data = payload(1_000_000, 14)
    url = http.add(unique_path(), Resource(data))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target, "--cancel-after", 200_000)

    assert run.result == CANCELLED
    assert not target.exists() and run.errors == []
    part = part_of(target).read_bytes()
    # Cancellation is seen after the block that crossed the mark.
    assert 200_000 <= len(part) < 200_000 + BLOCK and part == data[:len(part)]
    assert sum(run.progress) == len(part)


# --------------------------------------------------------------------------
# HTTP: credentials


def test_credentials_required_without_provider(prefix, http, tmp_path, unique_path):
    path = unique_path()
    url = http.add(path, Resource(b"secret data", credentials=("user", "pw", "Setup files")))
    run = fetch(prefix, url, tmp_path / "x.bin")
    assert_failed(tmp_path / "x.bin", run, CREDENTIALS_REQUIRED)
    assert [e["code"] for e in run.errors] == [CREDENTIALS_REQUIRED]


@pytest.mark.parametrize("case", ["entered", "stored", "stored-wrong-then-entered", "refused", "wrong"])
def test_credentials_through_the_observer(prefix, http, tmp_path, unique_path, case):
    data = payload(120_000, 15)
    path = unique_path()
    url = http.add(path, Resource(data, credentials=("user", "p@ss", "Setup files")))
    target = tmp_path / "x.bin"
    options = {
        "entered": ["--entered", "user:p@ss", "--answer-credentials", "1237"],
        "stored": ["--stored", "user:p@ss"],
        "stored-wrong-then-entered": ["--stored", "user:bad", "--entered", "user:p@ss",
                                      "--answer-credentials", "1237"],
        "refused": ["--entered", "user:p@ss"],          # the observer answers with the code itself
        "wrong": ["--entered", "user:bad", "--answer-credentials", "1237"],
    }[case]

    run = fetch(prefix, url, target, *options)

    prompts = [e for e in run.errors if e["extra"] == "provider"]
    if case in ("refused", "wrong"):
        assert_failed(target, run, CREDENTIALS_REQUIRED)
        assert run.errors[-1] == {"text": "x.bin", "code": CREDENTIALS_REQUIRED, "extra": "none",
                                  "answer": CREDENTIALS_REQUIRED}
        assert 1 <= len(prompts) <= 3  # bounded, never a loop
    else:
        assert_complete(target, data, run)
        auth = [r.headers.get("authorization") for r in http.requests_for(path)]
        assert auth[-1] == "Basic dXNlcjpwQHNz"  # user:p@ss
    if prompts:
        assert prompts[0]["text"] == url and prompts[0]["code"] == CREDENTIALS_REQUIRED
        assert "credentials description=Setup files" in run.lines
        assert "credentials server=" in run.lines
        assert f"credentials url={url}" in run.lines
    else:
        assert case == "stored"


def test_proxy_credentials(prefix, http, tmp_path, unique_path, monkeypatch):
    # Wine's WinINet takes the proxy from http_proxy; the test server serves
    # as the proxy and asks for its own credentials.
    data = payload(90_000, 24)
    path = unique_path()
    http.add(path, Resource(data))
    monkeypatch.setenv("http_proxy", f"http://127.0.0.1:{http.port}")
    http.proxy_credentials = ("proxyuser", "proxypw", "Proxy realm")
    target = tmp_path / "x.bin"
    url = f"http://prereq-test-origin.invalid{path}"
    try:
        refused = fetch(prefix, url, target, "--provider")
        assert_failed(target, refused, CREDENTIALS_REQUIRED)
        run = fetch(prefix, url, target, "--entered", "proxyuser:proxypw", "--answer-credentials", "1237")
    finally:
        http.proxy_credentials = None

    assert_complete(target, data, run)
    assert "credentials description=Proxy realm" in run.lines
    server_lines = [line for line in run.lines if line.startswith("credentials server=")]
    assert server_lines and f"127.0.0.1:{http.port}" in server_lines[0], str(run)
    auth = [r.headers.get("proxy-authorization") for r in http.requests_for(path)]
    assert auth == ["Basic cHJveHl1c2VyOnByb3h5cHc="]  # proxyuser:proxypw


# --------------------------------------------------------------------------
# HTTPS


def test_https_certificate_error_goes_to_the_observer(prefix, https, tmp_path, unique_path):
    data = payload(300_000, 16)
    url = https.add(unique_path(), Resource(data))
    target = tmp_path / "x.bin"

    run = fetch(prefix, url, target)  # the observer answers with the code: give up
    certificate = [e for e in run.errors if e["extra"] == "request"]
    assert len(certificate) == 1, str(run)
    code = certificate[0]["code"]
    assert code in (12037, 12038, 12044, 12045)
    assert_failed(target, run, code)

    run = fetch(prefix, url, target, "--answer-cert", "0x1234")  # any other answer is the result
    assert_failed(target, run, 0x1234)

    run = fetch(prefix, url, target, "--answer-cert", "0")  # send again, accepting it
    assert_complete(target, data, run)


# --------------------------------------------------------------------------
# FTP


def test_ftp_passive_download(prefix, ftp, tmp_path):
    data = payload(900_000, 17)
    (ftp.root / "f1.bin").write_bytes(data)
    target = tmp_path / "f1.bin"

    run = fetch(prefix, ftp.url("f1.bin"), target)

    assert_complete(target, data, run)
    assert run.lines[0].startswith(f"start kind=1 total={len(data)} ")
    assert any(c.startswith("PASV") for c in ftp.commands)


@pytest.mark.parametrize("refuse", [False, True], ids=["rest", "rest-refused"])
def test_ftp_resume(prefix, ftp, tmp_path, refuse):
    data = payload(700_000, 18)
    name = f"f2-{refuse}.bin"
    (ftp.root / name).write_bytes(data)
    target = tmp_path / name
    part_of(target).write_bytes(data[:250_000] if not refuse else b"\xee" * 250_000)
    ftp.refuse_rest = refuse
    before = len(ftp.commands)
    try:
        run = fetch(prefix, ftp.url(name), target)
    finally:
        ftp.refuse_rest = False

    assert_complete(target, data, run)
    assert "REST 250000" in ftp.commands[before:]
    assert run.progress[0] == (0 if refuse else 250_000)


def test_ftp_restart_point_beyond_the_end_fetches_from_zero(prefix, ftp, tmp_path):
    """A server that does not tell the size (SIZE refused) takes REST beyond
    the file's end and then refuses the retrieval ("554 Invalid REST
    parameter"): the part is dropped and the file fetched from its start,
    instead of every run failing the same way."""
    data = payload(500_000, 32)
    (ftp.root / "f5.bin").write_bytes(data)
    target = tmp_path / "f5.bin"
    part_of(target).write_bytes(b"\xee" * 600_000)
    ftp.refuse_size = True
    before = len(ftp.commands)
    try:
        run = fetch(prefix, ftp.url("f5.bin"), target)
    finally:
        ftp.refuse_size = False

    assert_complete(target, data, run)
    assert run.progress[0] == 0
    sent = ftp.commands[before:]
    assert "REST 600000" in sent
    retrievals = [i for i, c in enumerate(sent) if c.startswith("RETR")]
    assert len(retrievals) == 2, sent
    assert not any(c.startswith("REST") for c in sent[retrievals[0] + 1:]), sent


def test_ftp_transfer_ending_early_is_resumed(prefix, ftp, tmp_path):
    data = payload(800_000, 19)
    (ftp.root / "f3.bin").write_bytes(data)
    ftp.cuts["f3.bin"] = [300_000]
    target = tmp_path / "f3.bin"
    before = len(ftp.commands)

    run = fetch(prefix, ftp.url("f3.bin"), target)

    assert_complete(target, data, run)
    assert "REST 300000" in ftp.commands[before:]


def test_ftp_login(prefix, ftp, tmp_path):
    data = payload(10_000, 20)
    (ftp.root / "f4.bin").write_bytes(data)
    target = tmp_path / "f4.bin"

    run = fetch(prefix, ftp.url("f4.bin", "user", "wrong"), target)
    assert run.result in (12013, 12014, 12015), str(run)
    assert_failed(target, run, run.result)

    run = fetch(prefix, ftp.url("f4.bin", "user", "wrong"), target,
                "--entered", "user:secret", "--answer-credentials", "1237")
    assert_complete(target, data, run)
    assert "credentials description=FTP Server" in run.lines

    assert_complete(target, data, fetch(prefix, ftp.url("f4.bin", "user", "secret"), target))


def test_ftp_missing_file(prefix, ftp, tmp_path):
    target = tmp_path / "none.bin"
    run = fetch(prefix, ftp.url("none.bin"), target)
    assert run.result in (12003, 2, 12028), str(run)
    assert_failed(target, run, run.result)


# --------------------------------------------------------------------------
# file URLs


def test_file_url_copy(prefix, tmp_path):
    data = payload(2_000_000, 21)
    source = tmp_path / "src dir" / "pkg.bin"
    source.parent.mkdir()
    source.write_bytes(data)
    target = tmp_path / "out" / "pkg.bin"
    url = "file:///" + to_windows(source).replace("\\", "/").replace(" ", "%20")

    run = fetch(prefix, url, target)

    assert_complete(target, data, run)
    assert run.lines[0].startswith(f"start kind=1 total={len(data)} ")
