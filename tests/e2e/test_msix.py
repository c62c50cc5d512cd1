"""Packaged applications, end to end: prereq.exe detects an installed package
with the package search (SearchType 13) through the Windows Runtime package
manager. Wine has none, so tools/msixstub.dll stands in for it: it is
registered in the prefix for the package manager and Uri classes, lists the
packages the test gives it and records every request."""

from __future__ import annotations

import pytest

from test_evaluation import DOWNLOAD, FOUND, result_of, run_lines
from winehelp import CURRENT_VERSION, PREREQ_EXE, TOOLS, pe_is_64bit, read_log, to_windows

CLASS_KEY = r"HKLM\Software\Microsoft\WindowsRuntime\ActivatableClassId"
CLASSES = ("Windows.Management.Deployment.PackageManager", "Windows.Foundation.Uri")
STUB_KEY = r"HKCU\Software\PrereqTest\MsixStub"
STUB = TOOLS / "msixstub.dll"


class MsixStub:
    def __init__(self, prefix, log):
        self.prefix = prefix
        self.log = log
        # The classes are looked up in the registry view of prereq.exe's own
        # bitness, which is also the stub's.
        self.view = "/reg:64" if pe_is_64bit(PREREQ_EXE) else "/reg:32"

    def reg(self, *args):
        rc, out = self.prefix.wine(["reg", *args])
        assert rc == 0, f"reg {args}: {out}"

    def register(self):
        for cls in CLASSES:
            key = rf"{CLASS_KEY}\{cls}"
            self.reg("add", key, "/v", "DllPath", "/t", "REG_SZ", "/d", to_windows(STUB), "/f",
                     self.view)
            self.reg("add", key, "/v", "ActivationType", "/t", "REG_DWORD", "/d", "0", "/f",
                     self.view)
        self.reg("add", STUB_KEY, "/v", "Log", "/t", "REG_SZ", "/d", to_windows(self.log), "/f")

    def set_packages(self, entries):
        self.reg("add", STUB_KEY, "/v", "Packages", "/t", "REG_MULTI_SZ", "/d",
                 "\\0".join(entries), "/f")

    def set_text(self, name, text):
        self.reg("add", STUB_KEY, "/v", name, "/t", "REG_SZ", "/d", text, "/f")

    def unregister(self):
        for cls in CLASSES:
            self.prefix.wine(["reg", "delete", rf"{CLASS_KEY}\{cls}", "/f", self.view])
        self.prefix.wine(["reg", "delete", STUB_KEY, "/f"])

    def requests(self):
        if not self.log.exists():
            return []
        return self.log.read_text(encoding="utf-8").splitlines()


@pytest.fixture
def msix_stub(prefix, tmp_path):
    if not STUB.exists():
        pytest.fail(f"not built: {STUB}", pytrace=False)
    stub = MsixStub(prefix, tmp_path / "msix-requests.txt")
    stub.register()
    yield stub
    stub.unregister()


@pytest.fixture
def windows10(prefix, registry):
    registry(prefix, CURRENT_VERSION, "CurrentMajorVersionNumber", "REG_DWORD", 10)
    registry(prefix, CURRENT_VERSION, "CurrentMinorVersionNumber", "REG_DWORD", 0)
    registry(prefix, CURRENT_VERSION, "CurrentBuildNumber", "REG_SZ", "19045")


@pytest.fixture
def windows7(prefix, registry):
    registry(prefix, CURRENT_VERSION, "CurrentMajorVersionNumber", None)
    registry(prefix, CURRENT_VERSION, "CurrentMinorVersionNumber", None)
    registry(prefix, CURRENT_VERSION, "CurrentVersion", "REG_SZ", "6.1")
    registry(prefix, CURRENT_VERSION, "CurrentBuildNumber", "REG_SZ", "7601")


def msix_search(text, **bounds):
    return {"searches": [{"SearchType": 13, "SearchString": text, **bounds}]}


def test_package_search_detects_installed_packages(prefix, make_setup, display, windows10,
                                                   msix_stub):
    msix_stub.set_packages([
        "Quillfeather.Tools|CN=Quillfeather|0|1.0.0.0",
        "Quillfeather.App|CN=Quillfeather|9|2.5.3.0",
        "Quillfeather.App|CN=Other|11|8.0.0.0",
    ])
    cases = {
        "NameOnly": (msix_search("Quillfeather.App", VerMin="2.5.3", VerMax="2.5.3"), True),
        "AllFields": (msix_search("Quillfeather.App?x64?CN=Quillfeather", VerMin="2.0"), True),
        "SecondPublisher": (msix_search("Quillfeather.App?neutral?CN=Other", VerMin="8"), True),
        "TooOld": (msix_search("Quillfeather.App", VerMin="3"), False),
        "UpperCaseArch": (msix_search("Quillfeather.App?X64"), False),
        "ToolsOnePointZero": (msix_search("Quillfeather.Tools", VerMin="1.0", VerMax="1.0"), True),
        "Missing": (msix_search("Quillfeather.Gone"), False),
    }
    setup = make_setup(prefix)
    lines = run_lines(setup, [{"DisplayName": n, **e} for n, (e, _) in cases.items()])
    for name, (_, found) in cases.items():
        assert result_of(lines, name) == (FOUND if found else DOWNLOAD), name
    requests = msix_stub.requests()
    assert len(requests) == len(cases), requests
    for request in requests:
        kind, sid, apartment, _thread = request.split("|")
        assert (kind, sid, apartment) == ("FindPackagesByUserSecurityId", "", "mta"), request


def test_package_search_before_windows10_asks_nothing(prefix, make_setup, display, windows7,
                                                      msix_stub):
    msix_stub.set_packages(["Quillfeather.App|CN=Quillfeather|9|2.5.3.0"])
    setup = make_setup(prefix)
    lines = run_lines(setup, [{"DisplayName": "App", **msix_search("Quillfeather.App")}])
    assert result_of(lines, "App") == DOWNLOAD
    assert msix_stub.requests() == []


def test_shipped_packages_are_deployed_for_the_current_user(prefix, make_setup, msix_stub):
    """Quiet run: both packages come with the setup and go to the package
    manager; the one it rejects gets the return code 1627."""
    msix_stub.set_text("FailWhere", "rejected")
    setup = make_setup(prefix)
    for name in ("app.msix", "rejected.appx"):
        (setup.folder / name).write_bytes(b"PK\x03\x04")
    log = setup.folder / "run.log"
    setup.write_config("\n".join([
        "[GeneralOptions]", "Options=q", f"ExtractionFolder={setup.win(setup.folder)}",
        "[PREREQUISITES]", "App1=id1", "App2=id2",
        "[PREREQ_CHAINER]", f"LogFile={setup.win(log)}",
        "[App1]", "DisplayName=Good", "SetupFile=app.msix", "Operator=1",
        "[App2]", "DisplayName=Bad", "SetupFile=rejected.appx", "Operator=1",
    ]) + "\n")

    result = setup.run(timeout=120)

    assert result.code == 0, result
    lines = read_log(log).lines
    launches = [i for i, line in enumerate(lines) if line.startswith("Launching file:")]
    assert [lines[i] for i in launches] == [
        "Launching file:" + setup.win(setup.folder / "app.msix"),
        "Launching file:" + setup.win(setup.folder / "rejected.appx")], lines
    good, bad = launches
    assert lines[good + 1] == "Return code of launched file:0", lines
    assert lines[bad + 1].startswith("Launch failed. Error:"), lines
    assert lines[bad + 2] == "Return code of launched file:1627", lines
    added = [r.split("|") for r in msix_stub.requests() if r.startswith("AddPackageAsync|")]
    assert [(uri, deps, options, apartment) for _, uri, deps, options, apartment, _ in added] == [
        (setup.win(setup.folder / "app.msix"), "null", "0", "mta"),
        (setup.win(setup.folder / "rejected.appx"), "null", "0", "mta")]
