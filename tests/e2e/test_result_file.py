"""For deployment tools, end to end: the result file (checked against the
guide's JSON schema every time), what package return codes mean with and
without ExitCodes (1638, 1641, 1618 and the retry that waits for the
Windows Installer), the exit codes of general option "e", and the summary at
the end of the log. Packages are package.exe (exits with given codes, holds
the installer's mutex on request) and a Windows Installer package built by
wixl, downloaded from a loopback server."""

from __future__ import annotations

import hashlib
import json
import shutil
from pathlib import Path

import pytest

from uihelp import (IDCANCEL, PROGRESS_BAR, PROGRESS_STATUS, Paced, PacedServer, WinTool, control,
                    installed_when_exists, progress_title, ship, text_of, ui_config)
from winehelp import END_OF_LOG, REPO, TOOLS, build_msi, read_log, unique

jsonschema = pytest.importorskip("jsonschema")

SCHEMA = json.loads((REPO / "docs" / "result-file.schema.json").read_text(encoding="utf-8"))
STORE_KEY = r"HKCU\InterbootContext"
HOOKS_EXE = TOOLS / "prereq-testhooks.exe"


def read_result(path: Path) -> dict:
    """The result file: UTF-8 without a byte-order mark, valid by the schema."""
    raw = path.read_bytes()
    assert not raw.startswith(b"\xef\xbb\xbf"), raw[:16]
    data = json.loads(raw.decode("utf-8"))
    jsonschema.Draft202012Validator(SCHEMA).validate(data)
    assert data["start"] <= data["end"], data
    return data


def leftovers(folder: Path) -> list[str]:
    return sorted(p.name for p in folder.iterdir() if p.name.endswith(".tmp"))


def markers(setup, count: int) -> list[Path]:
    return [setup.folder / f"marker{i}.txt" for i in range(1, count + 1)]


def run_packages(setup, codes: list[str], *, options: str = "q", exit_codes=None, mandatory=None,
                 detected=None, extra=None, timeout=180):
    """A run of shipped package.exe prerequisites P1, P2, ... exiting with
    `codes` (comma lists: one code per run); each is detected once its marker
    exists (or, where `detected` says False, never). Returns (result, log
    lines, result file)."""
    ship(setup, "package.exe")
    result_path = setup.folder / "out" / "result.json"
    result_path.parent.mkdir(exist_ok=True)
    prereqs = []
    for i, (code, marker) in enumerate(zip(codes, markers(setup, len(codes))), 1):
        seen = marker if (detected or [True] * len(codes))[i - 1] else setup.folder / "never.txt"
        p = {"DisplayName": f"P{i}", "SetupFile": "package.exe", "RetValPropName": f"E2E_RC{i}",
             "NoUiCommandLine": f"{code} {setup.win(marker)} {(extra or [''] * len(codes))[i - 1]}",
             "Options": (mandatory or [""] * len(codes))[i - 1],
             "searches": [installed_when_exists(setup, seen)]}
        if exit_codes and exit_codes[i - 1]:
            p["ExitCodes"] = exit_codes[i - 1]
        prereqs.append(p)
    log = ui_config(setup, prereqs, options=options,
                    chainer={"ResultFile": setup.win(result_path)})
    result = setup.run(timeout=timeout)
    return result, read_log(log).lines, read_result(result_path)


def ran(marker: Path) -> int:
    return len(marker.read_text().splitlines()) if marker.exists() else 0


@pytest.fixture
def clean_store(prefix32):
    prefix32.wine(["reg", "delete", STORE_KEY, "/f"])
    yield
    prefix32.wine(["reg", "delete", STORE_KEY, "/f"])


# --------------------------------------------------------------------------
# What return codes mean


@pytest.mark.parametrize("code, exit_codes, meaning, outcome, attempts, second_runs, exit_code", [
    # Another version already installed: success, not a failure.
    ("1638", None, "success", "installed", [1638], True, 0),
    ("1638", "1638:failure", "failure", "failed", [1638], True, 0),
    # The package started a restart: nothing more starts, the run ends as
    # with a restart in progress.
    ("1641", None, "restarted", "installed", [1641], False, -1),
    ("1641", "1641:success", "success", "installed", [1641], True, 0),
    # Another installation ran: the package runs again.
    ("1618,0", None, "success", "installed", [1618, 0], True, 0),
    ("1618,0", "1618:failure", "failure", "failed", [1618], True, 0),
], ids=["1638", "1638-as-failure", "1641", "1641-as-success", "1618", "1618-as-failure"])
def test_return_codes_with_and_without_exit_codes(prefix32, make_setup, clean_store, code,
                                                  exit_codes, meaning, outcome, attempts,
                                                  second_runs, exit_code):
    setup = make_setup(prefix32)
    result, lines, data = run_packages(setup, [code, "0"], exit_codes=[exit_codes, None])
    first, second = data["prerequisites"]
    assert result.code == exit_code == data["exitCode"], (result, lines)
    assert first["launch"]["meaning"] == meaning and first["outcome"] == outcome, first
    assert first["launch"]["returnCodes"] == attempts
    assert f"Return code means:{meaning}" in lines
    assert ran(markers(setup, 2)[1]) == (1 if second_runs else 0)
    # The result store keeps the package's own code (the last attempt's).
    stored = prefix32.reg_query(STORE_KEY, "E2E_RC1")
    if exit_code == -1:
        assert data["reason"] == "restart-started" and data["reboot"]["inProgress"] is True
        assert second["outcome"] == "skipped-after-restart", second
        assert stored == ("REG_SZ", str(attempts[-1]))
        assert "The package has started a restart: no further package is started." in lines
    else:
        assert data["reason"] == "installed"
        assert second["outcome"] == "installed", second
        assert stored is None  # deleted at the end of a run without a restart


def test_retry_waits_for_the_installer_to_end(prefix32, make_setup):
    """The first run of the package finds another installation running (it
    leaves a copy of itself holding the installer's mutex for 3 s) and says
    1618; the run waits for the mutex as at its start, then runs it again."""
    setup = make_setup(prefix32)
    result, lines, data = run_packages(setup, ["1618,0"], mandatory=["m"],
                                       extra=["--hold-installer=3000"])
    assert result.code == 0, (result, lines)
    launch = data["prerequisites"][0]["launch"]
    assert launch["returnCodes"] == [1618, 0] and launch["meaning"] == "success", launch
    assert launch["seconds"] >= 2.5, launch
    waiting = "Another installation is running: waiting for the Windows Installer before attempt 2 of 4."
    assert waiting in lines
    # The second run found the installer free: the wait lasted until the holder let go.
    installer = Path(str(markers(setup, 1)[0]) + ".installer").read_text().split()
    assert installer == ["installer=free", "installer=free"], installer


@pytest.mark.parametrize("options, codes, mandatory, detected, exit_code, reason", [
    ("qe", ["0"], [""], [True], 0, "installed"),
    ("qe", ["3010"], [""], [True], 3010, "reboot-needed"),
    ("qe", ["1641"], [""], [True], 1641, "restart-started"),
    ("qe", ["1603"], ["m"], [False], 1603, "mandatory-missing"),
    # Busy at every attempt (nothing holds the mutex, so nothing is waited for).
    ("qe", ["1618"], ["m"], [False], 1603, "installer-busy"),
    ("q", ["1618"], ["m"], [False], 1, "installer-busy"),
    ("q", ["3010"], [""], [True], 0, "reboot-needed"),
])
def test_option_e_gives_installer_exit_codes(prefix32, make_setup, clean_store, options, codes,
                                            mandatory, detected, exit_code, reason):
    setup = make_setup(prefix32)
    result, lines, data = run_packages(setup, codes, options=options, mandatory=mandatory,
                                       detected=detected)
    assert result.code == exit_code == data["exitCode"], (result, lines)
    assert data["reason"] == reason
    assert data["installerExitCodes"] == ("e" in options)
    assert lines[-2 - len(codes)] == f"Summary: exit code {exit_code} ({reason})"
    if reason == "installer-busy":
        assert data["prerequisites"][0]["launch"]["returnCodes"] == [1618] * 4
        assert "Another installation was still running after 4 attempts: the package counts " \
               "as failed." in lines


# --------------------------------------------------------------------------
# Result files of whole runs


@pytest.fixture(scope="module")
def server():
    s = PacedServer()
    yield s
    s.close()


def test_result_file_of_a_run_that_installs(prefix32, make_setup, server, tmp_path):
    if not shutil.which("wixl"):
        pytest.skip("wixl is not installed")
    product = "{6A1E58B2-0C94-4F1B-9D2A-3B7E5C8F1A21}"
    msi = build_msi(tmp_path, product=product, upgrade="{6A1E58B2-0C94-4F1B-9D2A-3B7E5C8F1A22}",
                    component="{6A1E58B2-0C94-4F1B-9D2A-3B7E5C8F1A23}", name="PrereqE2E Result",
                    version="1.2.3", per_user=True)
    data = msi.read_bytes()
    url = server.add(f"/{unique('r')}/result.msi", Paced(data, chunk=65536, delay=0))
    setup = make_setup(prefix32)
    result_path = setup.folder / "result.json"
    result_path.write_text("an older run's file")  # replaced
    log = ui_config(setup, [{"DisplayName": "Result MSI", "Url": url, "ExactSize": len(data),
                             "MD5": hashlib.md5(data).hexdigest(), "Options": "m",
                             "NoUiCommandLine": "/qn", "SearchType1": 3, "SearchString1": product,
                             "VerMin1": "1.0", "Operator": 0}],
                    options="q", chainer={"ResultFile": "result.json"})  # beside the program
    try:
        result = setup.run(timeout=180)
    finally:
        prefix32.wine(["msiexec", "/x", product, "/qn"], timeout=180)
    lines = read_log(log).lines
    assert result.code == 0, (result, lines)
    out = read_result(result_path)
    assert out["exitCode"] == 0 and out["reason"] == "installed" and out["mode"] == "quiet"
    assert out["program"]["path"] == setup.win(setup.exe)
    assert out["configuration"] == setup.win(setup.ini)
    machine = out["machine"]
    assert (machine["majorVersion"], machine["minorVersion"], machine["buildNumber"]) == (6, 1, 7601)
    assert machine["is64BitWindows"] == prefix32.is64
    assert machine["detailedName"] == f"Windows 7 SP1 {'x64' if prefix32.is64 else 'x86'}", machine
    (p,) = out["prerequisites"]
    assert (p["key"], p["displayName"], p["mandatory"]) == ("App1", "Result MSI", True)
    assert p["applies"] is True and p["selected"] is True
    assert p["decision"] == "No acceptable version found. It must be downloaded."
    d = p["download"]
    assert (d["url"], d["bytes"], d["resultCode"], d["accepted"], d["checks"]) == \
        (url, len(data), 0, True, ["size", "md5"]), d
    assert p["launch"]["file"].endswith("\\dl\\result.msi") and p["launch"]["returnCode"] == 0
    assert p["installedAfter"] is True and p["outcome"] == "installed"
    assert out["reboot"] == {"required": False, "refused": False, "inProgress": False}
    # The summary closes the log, after the result file's line.
    assert lines[-4:] == [f"Result file written:{setup.win(result_path)}",
                          "Summary: exit code 0 (installed)",
                          "  App1 Result MSI: installed, return code 0 (success)", END_OF_LOG]
    assert leftovers(setup.folder) == []


def test_result_file_of_a_failed_mandatory_download(prefix32, make_setup, server):
    setup = make_setup(prefix32)
    ship(setup, "package.exe")
    marker = setup.folder / "marker.txt"
    result_path = setup.folder / "result.json"
    log = ui_config(setup, [
        {"DisplayName": "Missing Runtime", "Url": server.base + f"/{unique('gone')}.exe", "Options": "m"},
        {"DisplayName": "Shipped", "SetupFile": "package.exe",
         "NoUiCommandLine": f"0 {setup.win(marker)}", "searches": [installed_when_exists(setup, marker)]},
        # No searches with Operator 0: found at once.
        {"DisplayName": "Present", "SetupFile": "package.exe", "Operator": 0},
        {"DisplayName": "Excluded", "SetupFile": "package.exe", "LanguageList": "1"},
    ], options="qe", chainer={"ResultFile": setup.win(result_path)})
    result = setup.run(timeout=120)
    lines = read_log(log).lines
    assert result.code == 1603, (result, lines)
    out = read_result(result_path)
    assert out["exitCode"] == 1603 and out["reason"] == "mandatory-missing"
    gone, shipped, present, excluded = out["prerequisites"]
    assert (present["outcome"], present["selected"], present["installedAfter"]) == \
        ("already-present", False, True), present
    assert (excluded["outcome"], excluded["applies"], excluded["installedAfter"]) == \
        ("not-applicable", False, None), excluded
    assert gone["outcome"] == "download-failed" and gone["launch"] is None, gone
    assert gone["download"]["resultCode"] == 0xE0000018 and not gone["download"]["accepted"]
    assert gone["installedAfter"] is False
    # Quiet runs go on after a failed download: the shipped package still ran.
    assert shipped["outcome"] == "installed", shipped
    assert "  App1 Missing Runtime: download failed: -536870888 (code 3758096408 (0xE0000018))" in lines


def test_result_file_of_a_cancelled_basic_ui_run(prefix32, make_setup, server, tmp_path, display):
    tool = WinTool(prefix32, tmp_path)
    setup = make_setup(prefix32)
    ship(setup, "package.exe")
    marker = setup.folder / "marker.txt"
    result_path = setup.folder / "result.json"
    url = server.add(f"/{unique('slow')}.exe", Paced(bytes(4 << 20), chunk=16384, delay=0.05))
    log = ui_config(setup, [
        {"DisplayName": "Slow", "Url": url, "BasicUiCommandLine": f"0 {setup.win(marker)}"},
        {"DisplayName": "Shipped", "SetupFile": "package.exe",
         "BasicUiCommandLine": f"0 {setup.win(marker)}"},
    ], options="be", chainer={"ResultFile": setup.win(result_path)})
    proc = setup.start()
    try:
        tool.wait_for(lambda w: text_of(w, PROGRESS_STATUS) == "Downloading Slow"
                      and control(w, PROGRESS_BAR)["pos"] > 0,
                      title=progress_title(setup), proc=proc, what="download under way")
        assert tool.click(IDCANCEL, title=progress_title(setup))
        result = setup.finish(proc, timeout=60)
    finally:
        if proc.running:
            proc.kill()
    assert result.code == 1602, (result, read_log(log).lines)
    out = read_result(result_path)
    assert out["exitCode"] == 1602 and out["reason"] == "cancelled" and out["mode"] == "basic-ui"
    slow, shipped = out["prerequisites"]
    assert slow["download"]["resultCode"] == 0xE0000008, slow  # the transfer was cancelled
    assert shipped["outcome"] == "skipped-after-cancel" and shipped["launch"] is None, shipped
    assert not marker.exists()


@pytest.mark.parametrize("failure", ["run:throw", "run:av-read"])
def test_result_file_of_a_run_that_crashes(prefix32, make_setup, monkeypatch, failure):
    """An exception caught at the top (the account is written from the
    record) and a fault that ends the process in the last-chance handler
    (the account prepared before it is written as it is)."""
    if not HOOKS_EXE.exists():
        pytest.fail(f"not built: {HOOKS_EXE}", pytrace=False)
    setup = make_setup(prefix32)
    shutil.copyfile(HOOKS_EXE, setup.exe)
    monkeypatch.setenv("PREREQ_TEST_FAILURE", failure)
    result_path = setup.folder / "result.json"
    log = ui_config(setup, [{"DisplayName": "Never Reached", "Url": "http://127.0.0.1:9/x.exe"}],
                    options="qe", chainer={"ResultFile": setup.win(result_path)})
    result = setup.run(timeout=120)
    lines = read_log(log).lines
    assert result.code == 1603, (result, lines)
    out = read_result(result_path)
    assert out["exitCode"] == 1603 and out["reason"] == "crashed"
    assert out["prerequisites"][0]["outcome"] == "not-evaluated"
    assert out["prerequisites"][0]["applies"] is None
    assert lines[-1] == END_OF_LOG
    # After a fault nothing new is built: no summary then.
    summarised = "Summary: exit code 1603 (crashed)" in lines
    assert summarised == (failure == "run:throw"), lines
    assert leftovers(setup.folder) == []


@pytest.mark.parametrize("target", [
    "missing\\result.json",  # the folder is not created
    "taken",                  # a folder there: the rename fails
    "taken\\",                # a folder's name: refused at once
    "linked\\result.json",   # a link on the way: nothing is written through it
])
def test_result_file_that_cannot_be_written(prefix32, make_setup, target):
    setup = make_setup(prefix32)
    taken = setup.folder / "taken"
    taken.mkdir()
    (setup.folder / "linked").symlink_to(taken, target_is_directory=True)
    log = ui_config(setup, [], options="q",
                    chainer={"ResultFile": setup.win(setup.folder) + "\\" + target})
    result = setup.run()
    lines = read_log(log).lines
    assert result.code == 0, (result, lines)
    assert any(line.startswith("The result file cannot be written:") or
               line.startswith("The result file could not be written:") for line in lines), lines
    assert not (setup.folder / "missing").exists() and list(taken.iterdir()) == []
    assert leftovers(setup.folder) == []
