"""Quiet chaining runs end to end: evaluation, the download pass against a
real HTTP server on 127.0.0.1, acceptance by size and MD5, manual-download
sites, the summary, the exit code and the result store key."""

from __future__ import annotations

import functools
import hashlib
import http.server
import threading
import uuid

import pytest

from winehelp import read_log

STORE_KEY = r"HKCU\InterbootContext"


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    """A plain HTTP server over a folder of files."""
    root = tmp_path_factory.mktemp("www")
    handler = functools.partial(QuietHandler, directory=str(root))
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=httpd.serve_forever, daemon=True)
    thread.start()
    yield root, f"http://127.0.0.1:{httpd.server_address[1]}"
    httpd.shutdown()
    httpd.server_close()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def write_config(setup, prereqs, options="q", general=None):
    log = setup.folder / "run.log"
    lines = ["[GeneralOptions]", f"Options={options}",
             f"DownloadFolder={setup.win(setup.folder / 'dl')}"]
    lines += [f"{k}={v}" for k, v in (general or {}).items()]
    lines.append("[PREREQUISITES]")
    lines += [f"App{i}=id{i}" for i in range(1, len(prereqs) + 1)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    for i, p in enumerate(prereqs, 1):
        lines.append(f"[App{i}]")
        # Without search entries, Operator 1 means "not installed".
        lines += [f"{k}={v}" for k, v in {"Operator": 1, **p}.items()]
    setup.write_config("\n".join(lines) + "\n")
    return log


def run(setup, prereqs, **kw):
    log = write_config(setup, prereqs, **kw)
    result = setup.run(timeout=120)
    return result, read_log(log).lines


@pytest.fixture
def payload(server):
    root, base = server
    name = f"pkg-{uuid.uuid4().hex[:8]}.exe"
    data = bytes(range(256)) * 700 + b"tail"
    (root / name).write_bytes(data)
    return f"{base}/{name}", name, data


def test_download_accepted_then_cleaned_up(prefix, make_setup, payload):
    url, name, data = payload
    setup = make_setup(prefix)
    md5 = hashlib.md5(data).hexdigest().upper()  # upper case is accepted
    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": url, "MD5": md5 + "ignored",
                                 "ExactSize": len(data), "Folder": "sub"}])
    assert result.code == 0, result
    i = lines.index("Starting installing prerequisites in silent mode.")
    assert lines[i + 1:i + 4] == ["Starting download of:Pkg", "Download completed succesfully.",
                                  "Downloaded file was accepted."], lines
    # The install loop then runs the accepted file (not a program: it fails),
    # and the prerequisite is searched for again.
    assert lines[i + 4].startswith("Launching file:") and lines[i + 4].endswith(name), lines
    assert "Searching for:Pkg" in lines[i + 5:], lines
    assert "After running prerequisites we have:  Reboot was required=false" in lines
    # The download and the folders it created are gone at the end of the run.
    assert not (setup.folder / "dl" / "sub" / name).exists()
    assert not (setup.folder / "dl").exists()


def test_kept_files_stay(prefix, make_setup, payload):
    url, name, data = payload
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": url, "Folder": "sub?saved.exe"}],
                        general={"KeepFiles": "complete"})
    assert result.code == 0, result
    assert (setup.folder / "dl" / "sub" / "saved.exe").read_bytes() == data


def test_rejected_download_is_deleted(prefix, make_setup, payload):
    url, name, data = payload
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": url, "MD5": "0" * 32},
                                {"DisplayName": "Later", "Url": url + "?later"}],
                        general={"KeepFiles": "complete"})
    assert result.code == 0, result  # not mandatory
    assert "Downloaded file was rejected.(Invalid size or MD5)." in lines
    assert "Starting download of:Later" not in lines  # the pass ends there
    assert not (setup.folder / "dl" / name).exists()


def test_size_announced_differently_fails_the_transfer(prefix, make_setup, payload):
    """The server announces another length than ExactSize: the transfer fails
    (0xE0000023), nothing is kept, and the pass goes on with the next item."""
    url, name, data = payload
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": url, "ExactSize": 12},
                                {"DisplayName": "Later", "Url": url, "Folder": "later"}],
                        general={"KeepFiles": "complete"})
    assert result.code == 0, result
    assert "Download failed. Error:-536870877" in lines
    assert "Starting download of:Later" in lines
    assert not (setup.folder / "dl" / name).exists()
    assert not (setup.folder / "dl" / (name + ".part")).exists()
    assert (setup.folder / "dl" / "later" / name).read_bytes() == data


def test_mandatory_download_failure_gives_1(prefix, make_setup, server):
    root, base = server
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Must", "Url": f"{base}/missing.exe",
                                 "Options": "m"}])
    assert result.code == 1, result
    assert "Download failed. Error:-536870888" in lines  # 0xE0000018, HTTP 404


# "B" is not "b": the letters are compared with case. Basic-UI runs ("b") are
# tested in test_basic_ui.py.
@pytest.mark.parametrize("options", ["", "B"])
def test_without_quiet_nothing_is_obtained(prefix, make_setup, display, payload, options):
    url, name, data = payload
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": url}], options=options)
    assert result.code == 0, result
    assert "Starting download of:Pkg" not in lines
    assert lines[-4:-1] == ["After running prerequisites we have:  Reboot was required=false",
                            "Summary: exit code 0 (search-only)",
                            "  App1 Pkg: missing; the run only searched"], lines


def test_store_key_is_deleted_and_empty_list_logs_nothing(prefix, make_setup):
    prefix.reg_add(STORE_KEY, "Old", "REG_SZ", "5")
    setup = make_setup(prefix)
    result, lines = run(setup, [])
    assert result.code == 0, result
    assert prefix.reg_query(STORE_KEY, "Old") is None
    assert lines == ["=====================End of Log====================="]


def test_nothing_to_install(prefix, make_setup):
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Here", "Url": "http://127.0.0.1:9/x.exe",
                                 "Operator": 0}])
    assert result.code == 0, result
    assert "No prerequisite must be installed." in lines
    assert not any(line.startswith("After running") for line in lines)


def test_open_site_writes_an_internet_shortcut(prefix, make_setup):
    setup = make_setup(prefix)
    site = "http://127.0.0.1:9/manual-download-page"
    result, lines = run(setup, [{"DisplayName": "Site", "OpenSite": site}])
    assert result.code == 0, result
    assert f"Launching URL:{site}" in lines
    shortcuts = [p for p in prefix.drive_c.glob("users/*/Temp/URL*.url")
                 if p.read_bytes() == f"[InternetShortcut]\r\nURL={site}\r\n".encode()]
    assert shortcuts, "no internet shortcut with the site's URL"
    for p in shortcuts:
        p.unlink()
