"""Detection and decision of prerequisites, end to end: prereq.exe evaluates
the configured searches against the real Wine registry, files, Windows
Installer products and detection programs, and the log tells the outcome.

The runs use general Options without "q" and "b": the search runs (on the
search worker, behind the status window), nothing is obtained, and the exit
code is 0."""

from __future__ import annotations

import shutil
import uuid
from pathlib import Path

import pytest

from winehelp import BUILD, TOOLS, build_msi, read_log

FOUND = "Search result:An acceptable version was found."
DOWNLOAD = "Search result:No acceptable version found. It must be downloaded."
FROM_PACKAGE = "Search result:No acceptable version found. It must be installed from package."
OPEN_SITE = "Search result:No acceptable version found. It must be downloaded manually from a site."
NOTHING = "No prerequisite must be installed."
SUMMARY = "After running prerequisites we have:  Reboot was required=false"
VERSIONED_EXE = BUILD / "tests" / "prereq_unit_tests.exe"  # version 2.7.1.3


def config(setup, prereqs: list[dict], options: str = "", general: dict | None = None) -> Path:
    """Writes a configuration with these prerequisite sections and a log."""
    log = setup.folder / "run.log"
    lines = ["[GeneralOptions]", f"Options={options}", f"ExtractionFolder={setup.win(setup.folder)}"]
    lines += [f"{k}={v}" for k, v in (general or {}).items()]
    lines.append("[PREREQUISITES]")
    lines += [f"App{i}=id{i}" for i in range(1, len(prereqs) + 1)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={setup.win(log)}"]
    for i, p in enumerate(prereqs, 1):
        lines.append(f"[App{i}]")
        body = dict(p)
        searches = body.pop("searches", [])
        if not any(k in body for k in ("Url", "SetupFile", "OpenSite")):
            body["Url"] = "http://127.0.0.1:9/none.exe"
        lines += [f"{k}={v}" for k, v in body.items()]
        for k, entry in enumerate(searches, 1):
            for key, value in entry.items():
                lines.append(f"{key}{k}={value}")
    setup.write_config("\n".join(lines) + "\n")
    return log


def run_lines(setup, prereqs, **kw) -> list[str]:
    log = config(setup, prereqs, **kw)
    result = setup.run(timeout=120)
    assert result.code == 0, result
    return read_log(log).lines


def result_of(lines: list[str], name: str) -> str:
    """The "Search result:" line that follows "Searching for:<name>"."""
    i = lines.index("Searching for:" + name)
    return next(line for line in lines[i + 1:] if line.startswith("Search result:"))


@pytest.fixture
def regkey(prefix):
    """A registry key of the test's own under HKCU, removed afterwards."""
    key = rf"HKCU\Software\PrereqE2E\{uuid.uuid4().hex[:8]}"
    yield key
    prefix.wine(["reg", "delete", key, "/f"])


def reg_add(prefix, key, name, kind, data):
    prefix.reg_add(key, name, kind, data)


# --------------------------------------------------------------------------


@pytest.mark.parametrize("operator,location,expected", [
    (0, {"Url": "http://127.0.0.1:9/a.exe"}, FOUND),
    (1, {"Url": "http://127.0.0.1:9/a.exe"}, DOWNLOAD),
    (1, {"SetupFile": "a.exe"}, FROM_PACKAGE),
    (1, {"OpenSite": "http://127.0.0.1:9/"}, OPEN_SITE),
])
def test_no_searches_decide_by_operator(prefix, make_setup, display, operator, location, expected):
    setup = make_setup(prefix)
    lines = run_lines(setup, [{"DisplayName": "P", "Operator": operator, **location}])
    assert result_of(lines, "P") == expected
    if expected == FOUND:
        assert NOTHING in lines
        assert "Prerequisite selected for install:P" not in lines
    else:
        assert "Prerequisite selected for install:P" in lines
        # The run's summary, then what became of P, then the closing line.
        assert lines[-4:-1] == [SUMMARY, "Summary: exit code 0 (search-only)",
                                "  App1 P: missing; the run only searched"], lines


def test_registry_searches(prefix, make_setup, display, regkey):
    reg_add(prefix, regkey, "Version", "REG_SZ", "4.8.09032")
    reg_add(prefix, regkey, "Count", "REG_DWORD", 12)
    reg_add(prefix, regkey, "Text", "REG_SZ", "12a")
    reg_add(prefix, regkey, "2.5.1", "REG_SZ", "")
    reg_add(prefix, regkey + r"\3.1", "x", "REG_SZ", "")
    missing = regkey + r"\NoSuchKey"
    cases = {
        # name: (search entries, found?)
        "KeyExists": ([{"SearchType": 5, "SearchString": regkey}], True),
        "KeyExistsNot": ([{"SearchType": 5, "SearchString": missing}], False),
        "KeyMissing": ([{"SearchType": 6, "SearchString": missing}], True),
        "ValueExists": ([{"SearchType": 7, "SearchString": regkey + r"\Count"}], True),
        "ValueMissing": ([{"SearchType": 8, "SearchString": regkey + r"\Nope"}], True),
        "ValueMissingNot": ([{"SearchType": 8, "SearchString": regkey + r"\Count"}], False),
        "CompareDwordG10": ([{"SearchType": 9, "SearchString": regkey + r"\Count", "RefContent": "G10"}], True),
        "CompareTextG10": ([{"SearchType": 9, "SearchString": regkey + r"\Text", "RefContent": "G10"}], False),
        "CompareStarts": ([{"SearchType": 9, "SearchString": regkey + r"\Version", "RefContent": "S4.8"}], True),
        "VersionInRange": ([{"SearchType": 2, "SearchString": regkey + r"\Version",
                             "VerMin": "4.8", "VerMax": "4.8.9999"}], True),
        "VersionTooLow": ([{"SearchType": 2, "SearchString": regkey + r"\Version", "VerMin": "4.9"}], False),
        "SubkeyNames": ([{"SearchType": 1, "SearchString": regkey, "VerMin": "3.0"}], True),
        "SubkeyNamesAbove": ([{"SearchType": 1, "SearchString": regkey, "VerMin": "3.2"}], False),
        "ValueNames": ([{"SearchType": 12, "SearchString": regkey, "VerMin": "2.5", "VerMax": "2.6"}], True),
        "UnknownKind": ([{"SearchType": 99, "SearchString": "x"}], True),
    }
    setup = make_setup(prefix)
    prereqs = [{"DisplayName": name, "searches": entries} for name, (entries, _) in cases.items()]
    lines = run_lines(setup, prereqs)
    for name, (_, found) in cases.items():
        assert result_of(lines, name) == (FOUND if found else DOWNLOAD), name


def test_operators_stop_early(prefix, make_setup, display, regkey):
    """Entries after the deciding one are not run: the detection program that
    would come next leaves no mark."""
    setup = make_setup(prefix)
    shutil.copyfile(TOOLS / "detect.exe", setup.folder / "detect.exe")
    marks = {n: setup.folder / f"{n}.txt" for n in ("and", "or", "runs")}
    missing = {"SearchType": 5, "SearchString": regkey + r"\Missing"}
    present = {"SearchType": 6, "SearchString": regkey + r"\Missing"}

    def detect(code, mark):
        return {"SearchType": 10, "SearchString": "detect.exe",
                "SearchCmdLine": f"{code} {setup.win(mark)}", "RefContent": "WND_HIDE"}

    lines = run_lines(setup, [
        {"DisplayName": "And", "Operator": 0, "searches": [missing, detect(0, marks["and"])]},
        {"DisplayName": "Or", "Operator": 1, "searches": [present, detect(0, marks["or"])]},
        {"DisplayName": "Runs", "Operator": 0, "searches": [present, detect(0, marks["runs"])]},
        {"DisplayName": "ExitOne", "Operator": 0, "searches": [detect(1, marks["runs"])]},
    ])
    assert result_of(lines, "And") == DOWNLOAD
    assert result_of(lines, "Or") == FOUND
    assert result_of(lines, "Runs") == FOUND
    assert result_of(lines, "ExitOne") == DOWNLOAD
    assert not marks["and"].exists()
    assert not marks["or"].exists()
    assert marks["runs"].read_text().count("ran") == 2


def test_file_and_folder_searches(prefix, make_setup, display):
    setup = make_setup(prefix)
    tree = setup.folder / "tree"
    (tree / "a" / "b").mkdir(parents=True)
    shutil.copyfile(VERSIONED_EXE, tree / "a" / "b" / "tool.exe")
    shutil.copyfile(TOOLS / "detect.exe", tree / "plain.exe")
    for name in ("1.0", "2.5", "notes"):
        (tree / "versions" / name).mkdir(parents=True)
    w = setup.win(tree)
    cases = {
        "Depth2": ({"SearchType": 0, "SearchString": w + r"\tool.exe?2", "VerMin": "2.7.1"}, True),
        "Depth1": ({"SearchType": 0, "SearchString": w + r"\tool.exe?1"}, False),
        "TooNew": ({"SearchType": 0, "SearchString": w + r"\a\b\tool.exe", "VerMax": "2.7"}, False),
        "Exact": ({"SearchType": 0, "SearchString": w + r"\a\b\tool.exe",
                   "VerMin": "2.7.1.3", "VerMax": "2.7.1.3"}, True),
        "NoVersionNoBounds": ({"SearchType": 0, "SearchString": w + r"\plain.exe"}, True),
        "NoVersionBound": ({"SearchType": 0, "SearchString": w + r"\plain.exe", "VerMin": "0.1"}, False),
        "Subfolders": ({"SearchType": 14, "SearchString": w + r"\versions", "VerMin": "2.0"}, True),
        "SubfoldersAbove": ({"SearchType": 14, "SearchString": w + r"\versions", "VerMin": "3"}, False),
        "NoFolder": ({"SearchType": 14, "SearchString": w + r"\nothere"}, False),
    }
    lines = run_lines(setup, [{"DisplayName": n, "searches": [e]} for n, (e, _) in cases.items()])
    for name, (_, found) in cases.items():
        assert result_of(lines, name) == (FOUND if found else DOWNLOAD), name


def test_conditions_exclude_and_are_final(prefix, make_setup, display):
    """Exclusion lists name the system; a language list without the system's
    language excludes too. Excluded prerequisites are never searched."""
    general = "Windows 7 x64" if prefix.is64 else "Windows 7 x86"
    key = "WinNT64Versions" if prefix.is64 else "WinNTVersions"
    other = "WinNTVersions" if prefix.is64 else "WinNT64Versions"
    setup = make_setup(prefix)
    lines = run_lines(setup, [
        {"DisplayName": "Excluded", key: f"Windows 8.1 x64, {general}"},
        {"DisplayName": "OtherList", other: general},
        {"DisplayName": "Language", "LanguageList": "1;2"},
        {"DisplayName": "LanguageOk", "LanguageList": "1031;1033"},
    ])
    assert "Wrong OS or Os language for:Excluded" in lines
    assert "Searching for:Excluded" not in lines
    assert "Wrong OS or Os language for:Language" in lines
    assert result_of(lines, "OtherList") == FOUND
    assert result_of(lines, "LanguageOk") == FOUND
    assert any(line.startswith("SystemDefault LangID=1033-") for line in lines), lines


def test_ignore_detection_and_selection_follows_parents(prefix, make_setup, display, regkey):
    setup = make_setup(prefix)
    found = {"SearchType": 6, "SearchString": regkey + r"\Missing"}
    lines = run_lines(setup, [
        {"DisplayName": "Installed", "searches": [found]},
        {"DisplayName": "ChildOfInstalled", "ParentPrereq": "Installed", "Operator": 1},
        {"DisplayName": "Parent", "Operator": 1},
        {"DisplayName": "Child", "ParentPrereq": "Parent", "Operator": 1},
        {"DisplayName": "Ignored", "Options": "i", "searches": [found]},
        {"DisplayName": "Orphan", "ParentPrereq": "Nobody", "Operator": 1},
    ])
    assert result_of(lines, "Installed") == FOUND
    assert result_of(lines, "Ignored") == DOWNLOAD  # detection skipped
    selected = [line[len("Prerequisite selected for install:"):] for line in lines
                if line.startswith("Prerequisite selected for install:")]
    # An installed parent stays unselected; a parent that needs installing is
    # selected, and each prerequisite is reported once.
    assert sorted(selected) == sorted(["ChildOfInstalled", "Parent", "Child", "Ignored", "Orphan"])
    assert "Parent prerequisite not found:Nobody" in lines
    # The run's summary, a line for each of the six, then the closing line.
    assert lines[-9:-7] == [SUMMARY, "Summary: exit code 0 (search-only)"], lines
    assert lines[-2] == "  App6 Orphan: missing; the run only searched"


PRODUCT = "{5E1A7C2B-3D4F-4A6B-8C9D-0E1F2A3B4C5D}"
UPGRADE = "{A0B1C2D3-E4F5-4061-8293-A4B5C6D7E8F9}"
COMPONENT = "{0F1E2D3C-4B5A-4968-8776-655443322110}"


@pytest.fixture(scope="module")
def msi_package(tmp_path_factory):
    if not shutil.which("wixl"):
        pytest.skip("wixl is not installed")
    return build_msi(tmp_path_factory.mktemp("msi"), product=PRODUCT, upgrade=UPGRADE,
                     component=COMPONENT, name="PrereqE2E Product", version="1.2.3",
                     per_user=False)


def test_windows_installer_searches(prefix, make_setup, display, msi_package):
    rc, out = prefix.wine(["msiexec", "/i", prefix.to_windows(msi_package), "/qn"], timeout=180)
    assert rc == 0, out
    try:
        cases = {
            "Product": ({"SearchType": 3, "SearchString": PRODUCT, "VerMin": "1.2"}, True),
            "ProductTooOld": ({"SearchType": 3, "SearchString": PRODUCT, "VerMin": "1.3"}, False),
            "NoProduct": ({"SearchType": 3, "SearchString": "{00000000-0000-0000-0000-000000000001}"}, False),
            "Upgrade": ({"SearchType": 4, "SearchString": UPGRADE, "VerMax": "1.2.3"}, True),
            "Component": ({"SearchType": 11, "SearchString": COMPONENT}, True),
            "NoComponent": ({"SearchType": 11, "SearchString": "{00000000-0000-0000-0000-000000000002}"}, False),
        }
        setup = make_setup(prefix)
        lines = run_lines(setup, [{"DisplayName": n, "searches": [e]} for n, (e, _) in cases.items()])
        for name, (_, found) in cases.items():
            assert result_of(lines, name) == (FOUND if found else DOWNLOAD), name
    finally:
        prefix.wine(["msiexec", "/x", PRODUCT, "/qn"], timeout=180)
