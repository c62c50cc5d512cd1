"""The install loop end to end: quiet runs that install Windows Installer
packages downloaded from a loopback server and shipped programs, the
mandatory rules and exit codes, and the reboot rules with the result store
that must survive a restart."""

from __future__ import annotations

import functools
import hashlib
import http.server
import shutil
import threading

import pytest

from conftest import own_prefix
from winehelp import TOOLS, build_msi, read_log

STORE_KEY = r"HKCU\InterbootContext"
PRODUCT = "{3B0D6E1F-58A2-4C37-9E41-2F6A8D0C7B15}"
COMPONENT = "{3B0D6E1F-58A2-4C37-9E41-2F6A8D0C7B16}"
UPGRADE = "{3B0D6E1F-58A2-4C37-9E41-2F6A8D0C7B17}"


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    root = tmp_path_factory.mktemp("www")
    httpd = http.server.ThreadingHTTPServer(
        ("127.0.0.1", 0), functools.partial(QuietHandler, directory=str(root)))
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    yield root, f"http://127.0.0.1:{httpd.server_address[1]}"
    httpd.shutdown()
    httpd.server_close()


@pytest.fixture(scope="module")
def msi(server, tmp_path_factory):
    if not shutil.which("wixl"):
        pytest.skip("wixl is not installed")
    path = build_msi(tmp_path_factory.mktemp("msi"), product=PRODUCT, upgrade=UPGRADE,
                     component=COMPONENT, name="PrereqE2E Loop Product", version="2.0.1",
                     per_user=True)
    root, base = server
    data = path.read_bytes()
    (root / "loop.msi").write_bytes(data)
    return f"{base}/loop.msi", data


def write_config(setup, prereqs, options="q"):
    log = setup.folder / "run.log"
    # Shipped files are taken from the extraction folder: the setup's own.
    lines = ["[GeneralOptions]", f"Options={options}",
             f"DownloadFolder={setup.win(setup.folder / 'dl')}",
             f"ExtractionFolder={setup.win(setup.folder)}", "[PREREQUISITES]"]
    lines += [f"App{i}=id{i}" for i in range(1, len(prereqs) + 1)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    for i, p in enumerate(prereqs, 1):
        lines.append(f"[App{i}]")
        searches = p.pop("searches", [])
        fields = {"Operator": 1, **p}
        for k, entry in enumerate(searches, 1):
            fields.update({f"{key}{k}": value for key, value in entry.items()})
        lines += [f"{k}={v}" for k, v in fields.items()]
    setup.write_config("\n".join(lines) + "\n")
    return log


def run(setup, prereqs, **kw):
    log = write_config(setup, prereqs, **kw)
    result = setup.run(timeout=180)
    return result, read_log(log).lines


def shipped(setup):
    """package.exe shipped beside the setup; returns the marker file path."""
    shutil.copyfile(TOOLS / "package.exe", setup.folder / "package.exe")
    return setup.folder / "marker.txt"


def marker_lines(path):
    return path.read_text().splitlines() if path.exists() else []


def test_downloaded_msi_is_installed_and_detected(prefix, make_setup, msi):
    url, data = msi
    setup = make_setup(prefix)
    detect = {"SearchType1": 3, "SearchString1": PRODUCT, "VerMin1": "2.0"}
    try:
        result, lines = run(setup, [{
            "DisplayName": "Loop MSI", "Url": url, "MD5": hashlib.md5(data).hexdigest(),
            "ExactSize": len(data), "NoUiCommandLine": "/qn REBOOT=ReallySuppress",
            "Options": "m", "RetValPropName": "LOOP_RESULT", **detect}])
        assert result.code == 0, (result, lines)
        i = lines.index("Downloaded file was accepted.")
        launch = lines[i + 1]
        assert launch.startswith("Launching file:") and launch.endswith("\\dl\\loop.msi"), lines
        assert lines[i + 2] == "Return code of launched file:0", lines
        # Detected again after the loop: installed now.
        assert lines.count("Searching for:Loop MSI") == 2, lines
        assert "After running prerequisites we have:  Reboot was required=false" in lines
        rc, out = prefix.wine(["reg", "query", STORE_KEY])
        assert rc != 0, out  # the store key is gone after a run without reboot
    finally:
        prefix.wine(["msiexec", "/x", PRODUCT, "/qn"], timeout=180)


@pytest.mark.parametrize("codes, options, exit_code, ran", [
    # An optional failure lets the loop go on; the run still ends with 0.
    (["0", "1", "0"], ["", "", ""], 0, ["P1", "P2", "P3"]),
    # A mandatory failure ends the loop: the later package never starts, and
    # the prerequisite still not installed makes the exit code 1.
    (["0", "1", "0"], ["", "m", ""], 1, ["P1", "P2"]),
    # 3010 without "r" restarts nothing; mandatory, it ends the loop.
    (["3010", "0"], ["", ""], 0, ["P1", "P2"]),
    (["3010", "0"], ["m", ""], 1, ["P1"]),
])
def test_shipped_packages_and_mandatory_rules(prefix, make_setup, codes, options, exit_code, ran):
    setup = make_setup(prefix)
    marker = shipped(setup)
    prereqs = [{"DisplayName": f"P{i}", "SetupFile": "package.exe", "Options": opt,
                "NoUiCommandLine": f"{code} {setup.win(marker)} P{i} /qn",
                "CommandLine": "unused"}
               for i, (code, opt) in enumerate(zip(codes, options), 1)]
    result, lines = run(setup, prereqs)
    assert result.code == exit_code, (result, lines)
    started = [line.split(" ")[-2] for line in marker_lines(marker)]
    assert started == ran
    assert all(line.startswith("show=0 ") for line in marker_lines(marker))  # /qn: hidden
    returns = [line for line in lines if line.startswith("Return code of launched file:")]
    assert returns == [f"Return code of launched file:{c}" for c in codes[:len(ran)]]
    assert "  Reboot was required=false" in lines[-3] or any(
        line.endswith("Reboot was required=false") for line in lines)


def test_failed_launch_is_logged(prefix, make_setup):
    setup = make_setup(prefix)
    result, lines = run(setup, [{"DisplayName": "Gone", "SetupFile": "missing.exe",
                                 "Options": "m"}])
    assert result.code == 1, (result, lines)
    i = next(k for k, line in enumerate(lines) if line.startswith("Launching file:"))
    assert lines[i].endswith("\\missing.exe")
    assert lines[i + 1] == "Launch failed. Error:File not found.", lines
    assert lines[i + 2] == "Return code of launched file:2", lines


# --- reboot rules: ExitWindowsEx ends every process of the prefix, so they run
# in a prefix of their own.

@pytest.fixture(scope="module")
def reboot_prefix():
    yield from own_prefix("e2e-reboot")


def test_reboot_rule_keeps_the_store(reboot_prefix, make_setup):
    """A package of a prerequisite with "r" returns 0: the chainer restarts
    Windows. Wine ends every process of the prefix then, the chainer too, so
    the run ends with -1 or not at all; the store key and the return code
    recorded before the restart stay for the installation to read."""
    prefix = reboot_prefix
    prefix.wine(["reg", "delete", STORE_KEY, "/f"])
    setup = make_setup(prefix)
    marker = shipped(setup)
    prereqs = [
        {"DisplayName": "First", "SetupFile": "package.exe", "RetValPropName": "FIRST_RC",
         "NoUiCommandLine": f"0 {setup.win(marker)} First", "Options": "rm"},
        {"DisplayName": "Second", "SetupFile": "package.exe", "RetValPropName": "SECOND_RC",
         "NoUiCommandLine": f"0 {setup.win(marker)} Second"},
    ]
    result, lines = run(setup, prereqs)
    assert result.code in (None, -1), (result, lines)
    i = lines.index("Rebooting machine...")
    assert lines[i - 2:i] == ["Return code of launched file:0", "Return code means:success"]
    # A mandatory prerequisite that asked for a restart ends the loop.
    assert not any(line.endswith(" Second") for line in marker_lines(marker))
    if result.code == -1:
        assert "After running prerequisites we have:  Reboot was required=true" in lines
    # Boot the prefix again, as after the restart.
    prefix.stop()
    prefix.start()
    assert prefix.reg_query(STORE_KEY, "FIRST_RC") == ("REG_SZ", "0")
    assert prefix.reg_query(STORE_KEY, "SECOND_RC") is None
