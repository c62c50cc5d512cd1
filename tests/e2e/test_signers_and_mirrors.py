"""Acceptance by publisher (Signer) and further addresses (Url2, ...), end to
end: files signed here with a test root (signing.py), judged by the system's
trust functions under Wine; downloads from servers on 127.0.0.1 whose first
address fails in each way a real one does."""

from __future__ import annotations

import hashlib
import shutil
import uuid

import pytest

import signing
from signing import Signing, tamper
from test_authoring import plan
from test_trust import run, write_config
from transfer_servers import FaultServer, Resource
from winehelp import TOOLS, build_msi

EXAMPLE = "Example Corporation"
NOT_FOUND = -536870888  # 0xE0000018 in signed decimal, as the log gives it
MSI_NAME = "Signer Probe"  # in the MSI's summary information, which its signature covers


@pytest.fixture(scope="module")
def http():
    server = FaultServer()
    yield server
    server.close()


def ran(marker) -> list[str]:
    return marker.read_text().splitlines() if marker.exists() else []


def left_in(folder) -> list[str]:
    return sorted(p.name for p in folder.rglob("*")) if folder.exists() else []


# --------------------------------------------------------------------------
# Signed files


class Kit:
    def __init__(self, files, thumbprints, trusted: str | None):
        self.files = files              # (kind, case) -> path
        self.thumbprints = thumbprints  # leaf -> thumbprint
        self.untrusted_reason = trusted  # why the test root is not trusted, or None

    def need_trusted_root(self):
        if self.untrusted_reason:
            pytest.skip(self.untrusted_reason)


@pytest.fixture(scope="module")
def kit(tmp_path_factory):
    reason = signing.tools_missing() or (None if shutil.which("wixl") else "wixl is not installed")
    if reason:
        pytest.skip(reason)
    folder = tmp_path_factory.mktemp("signing")
    s = Signing(folder)
    tag = uuid.uuid4().hex[:6]
    trusted = s.root(f"Prereq E2E Root {tag}")
    stranger_root = s.root(f"Prereq E2E Untrusted Root {tag}")
    leaves = {"example": s.leaf(EXAMPLE, trusted), "other": s.leaf("Other Publisher", trusted),
              "stranger": s.leaf(EXAMPLE, stranger_root)}
    (folder / "msi").mkdir()
    sources = {
        "exe": TOOLS / "package.exe",
        "msi": build_msi(folder / "msi", product="{5E1D2C3B-4A59-4687-9A0B-1C2D3E4F5061}",
                         upgrade="{5E1D2C3B-4A59-4687-9A0B-1C2D3E4F5062}",
                         component="{5E1D2C3B-4A59-4687-9A0B-1C2D3E4F5063}", name=MSI_NAME,
                         version="1.0.0", per_user=True),
    }
    files = {}
    for kind, source in sources.items():
        out = folder / kind
        out.mkdir(exist_ok=True)
        files[kind, "unsigned"] = shutil.copyfile(source, out / f"unsigned.{kind}")
        good = s.sign(source, out / f"good.{kind}", leaves["example"])
        files[kind, "good"] = good
        files[kind, "tampered"] = tamper(good, out / f"tampered.{kind}",
                                         MSI_NAME.encode() if kind == "msi" else None)
        files[kind, "wrong-signer"] = s.sign(source, out / f"other.{kind}", leaves["other"])
        files[kind, "untrusted-root"] = s.sign(source, out / f"stranger.{kind}", leaves["stranger"])
    # The same publisher's next version: other bytes, another size.
    files["exe", "republished"] = s.sign(TOOLS / "exitcode.exe", folder / "exe" / "next.exe",
                                         leaves["example"])
    thumbprints = {name: leaf.thumbprint for name, leaf in leaves.items()}
    s.forget_keys()
    untrusted = signing.can_trust_roots()
    if untrusted is None:
        signing.trust_root(trusted)
    try:
        yield Kit(files, thumbprints, untrusted)
    finally:
        if untrusted is None:
            signing.untrust_roots()


def expected_verdict(kit, kind, case, listed=True):
    """(accepted, start of the "Signature check:" line after its prefix, end
    of it)."""
    t = kit.thumbprints
    if case == "unsigned":
        return False, "no signer: not accepted, no valid signature. Error:", "(0x800B0100)"
    if case == "tampered" and kind == "msi":
        # Wine 8 does not check an MSI's digest: its trust provider answers
        # 0 for a changed MSI. Windows rejects it with TRUST_E_BAD_DIGEST, as
        # Wine does the changed exe.
        return True, f'"{EXAMPLE}" sha256:{t["example"]}: accepted.', ""
    if case == "tampered":
        return False, "no signer: not accepted, no valid signature. Error:", "(0x80096010)"
    if case == "wrong-signer":
        return False, f'"Other Publisher" sha256:{t["other"]}: not accepted, no Signer entry names this signer.', ""
    if case == "untrusted-root":
        return (False, f'"{EXAMPLE}" sha256:{t["stranger"]}: not accepted, the signer\'s certificate '
                "chain is not trusted. Error:", "(0x800B0109)")
    if not listed:
        return False, f'"{EXAMPLE}" sha256:{t["example"]}: not accepted, no Signer entry names this signer.', ""
    return True, f'"{EXAMPLE}" sha256:{t["example"]}: accepted.', ""


def test_signature_verdicts_of_exe_and_msi_files(prefix32, make_setup, kit):
    """Every case, for an exe and an MSI, as the plan judges the present file
    a run would run (a file URL): one line per file, with name, thumbprint
    and verdict, and the error code of a rejection."""
    kit.need_trusted_root()
    setup = make_setup(prefix32)
    rows = [(kind, case, f"CN={EXAMPLE}", True) for kind in ("exe", "msi")
            for case in ("unsigned", "tampered", "wrong-signer", "untrusted-root", "good")]
    rows += [("exe", "good", f"sha256:{kit.thumbprints['example'].upper()}", True),
             ("exe", "good", f"CN=Other Publisher, sha256:{kit.thumbprints['other']}", False)]
    prereqs = [{"DisplayName": f"{kind} {case} {n}", "Signer": signer,
                "Url": "file:///" + setup.win(kit.files[kind, case]).replace("\\", "/")}
               for n, (kind, case, signer, _) in enumerate(rows)]
    write_config(setup, prereqs)

    planned = plan(prefix32, setup)["prerequisites"]

    problems = []
    for (kind, case, _, listed), p in zip(rows, planned):
        accepted, start, end = expected_verdict(kit, kind, case, listed)
        got = p["signature"]
        if got is None or got["accepted"] != accepted or not got["text"].startswith(start) or \
                not got["text"].endswith(end):
            problems.append(f"{p['displayName']}: expected {accepted} {start!r}...{end!r}, got {got}")
        # A rejected present file is fetched again (here: copied again).
        if p["action"]["code"] != (5 if accepted else 2):
            problems.append(f"{p['displayName']}: action {p['action']}")
    assert len(planned) == len(rows)
    assert not problems, "\n".join(problems)


def test_download_accepted_by_its_signer_alone_also_when_republished(prefix, make_setup, http, kit):
    """No size, no digest: the vendor replaces the file behind the address,
    and the next run accepts the new one as it did the old one."""
    kit.need_trusted_root()
    path = f"/{prefix.arch}/{uuid.uuid4().hex[:6]}/runtime.exe"
    url = http.url(path)
    for case, first_mark in (("good", "show="), ("republished", "ran")):
        http.add(path, Resource(body=kit.files["exe", case].read_bytes()))
        setup = make_setup(prefix)
        marker = setup.folder / "marker.txt"
        result, lines = run(setup, [{"DisplayName": "Runtime", "Url": url,
                                     "Signer": f"CN=Other, CN={EXAMPLE}",
                                     "NoUiCommandLine": f"0 {setup.win(marker)}"}])
        assert f'Signature check:"{EXAMPLE}" sha256:{kit.thumbprints["example"]}: accepted.' in lines, lines
        assert "Downloaded file was accepted." in lines, lines
        marks = ran(marker)
        assert len(marks) == 1 and marks[0].startswith(first_mark), (case, marks, lines)
        assert result.code == 0, (case, result, lines)


def test_download_by_another_publisher_is_rejected_as_before(prefix32, make_setup, http, kit):
    """The rejection keeps its line and its effect: the file is deleted,
    nothing runs, the mandatory prerequisite is missing."""
    path = f"/signer/{uuid.uuid4().hex[:6]}/runtime.exe"
    url = http.add(path, Resource(body=kit.files["exe", "wrong-signer"].read_bytes()))
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [{"DisplayName": "Runtime", "Url": url, "Options": "m",
                                 "Signer": f"CN={EXAMPLE}", "NoUiCommandLine": f"0 {setup.win(marker)}"}])

    i = lines.index("Download completed succesfully.")
    assert lines[i + 1] == (f'Signature check:"Other Publisher" sha256:{kit.thumbprints["other"]}: '
                            "not accepted, no Signer entry names this signer."), lines
    assert lines[i + 2] == "Downloaded file was rejected.(Signer not accepted).", lines
    assert ran(marker) == []
    assert left_in(setup.folder / "dl") == []
    assert result.code == 1, (result, lines)


def test_shipped_file_is_judged_before_any_download(prefix32, make_setup, http, kit):
    """A SetupFile with a Signer that it does not pass ends the download step
    before anything is downloaded; nothing of the setup runs."""
    setup = make_setup(prefix32)
    shutil.copyfile(kit.files["exe", "unsigned"], setup.folder / "shipped.exe")
    path = f"/signer/{uuid.uuid4().hex[:6]}/later.exe"
    url = http.add(path, Resource(body=kit.files["exe", "unsigned"].read_bytes()))
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [
        {"DisplayName": "Shipped", "SetupFile": "shipped.exe", "Signer": f"CN={EXAMPLE}",
         "NoUiCommandLine": f"0 {setup.win(marker)} shipped"},
        {"DisplayName": "Later", "Url": url, "NoUiCommandLine": f"0 {setup.win(marker)} later"}])

    i = lines.index(f"Checking shipped file:{setup.win(setup.folder / 'shipped.exe')}")
    assert lines[i + 1].startswith("Signature check:no signer: not accepted, no valid signature."), lines
    assert lines[i + 2] == "Shipped file was rejected.(Signer not accepted).", lines
    assert http.requests_for(path) == []
    assert [line.split(" ")[-1] for line in ran(marker)] == []
    assert result.code == 0, (result, lines)  # neither is mandatory


# --------------------------------------------------------------------------
# Further addresses


def first_address_fault(http, base, fault, data):
    """The first address of one test, failing in the given way."""
    path = f"{base}/first/pkg.exe"
    if fault == "404":
        return http.url(path)  # nothing there
    if fault == "wrong-file":
        return http.add(path, Resource(body=data[::-1]))
    if fault == "dropped":
        # Every answer ends after the head: no byte ever arrives.
        return http.add(path, Resource(body=data, cut={n: 0 for n in range(40)}, reset=True))
    if fault == "redirect-loop":
        return http.add(path, Resource(status=302, headers={"Location": http.url(path)}))
    raise ValueError(fault)


LEFT_BECAUSE = {
    "404": f"Leaving download address. Error:{NOT_FOUND}",
    "wrong-file": "Leaving download address. File rejected.(Invalid SHA256).",
    "dropped": "Leaving download address. Error:",
    "redirect-loop": "Leaving download address. Error:12156",
}


@pytest.mark.parametrize("fault", list(LEFT_BECAUSE))
def test_next_address_when_the_first_fails(prefix32, make_setup, http, fault):
    data = (TOOLS / "package.exe").read_bytes()
    base = f"/mirrors/{fault}/{uuid.uuid4().hex[:6]}"
    first = first_address_fault(http, base, fault, data)
    second = http.add(f"{base}/second/pkg.exe", Resource(body=data))
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": first, "Url2": second,
                                 "SHA256": hashlib.sha256(data).hexdigest(),
                                 "NoUiCommandLine": f"0 {setup.win(marker)}"}])

    addresses = [line for line in lines if line.startswith(("Download address:", "Leaving download address"))]
    assert addresses[0] == f"Download address:{first}", lines
    assert addresses[1].startswith(LEFT_BECAUSE[fault]), lines
    assert addresses[2:] == [f"Download address:{second}"], lines
    assert "Downloaded file was accepted." in lines, lines
    assert len(ran(marker)) == 1, lines
    assert result.code == 0, (result, lines)


@pytest.mark.parametrize("judged", [True, False], ids=["digest", "size-only"])
def test_part_is_continued_from_the_next_address_only_when_judged(prefix32, make_setup, http, judged):
    """The first address breaks off with part of the file and stays broken;
    the second continues the part only when a digest will judge the result."""
    data = (TOOLS / "package.exe").read_bytes()
    cut = len(data) // 2
    base = f"/mirrors/part/{uuid.uuid4().hex[:6]}"
    first = http.add(f"{base}/first/pkg.exe",
                     Resource(body=data, ranges=False, cut={n: cut for n in range(40)}))
    second_path = f"{base}/second/pkg.exe"
    second = http.add(second_path, Resource(body=data))
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"
    checks = {"SHA256": hashlib.sha256(data).hexdigest()} if judged else {"ExactSize": len(data)}

    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": first, "Url2": second,
                                 "NoUiCommandLine": f"0 {setup.win(marker)}", **checks}])

    asked = [r.headers.get("range") for r in http.requests_for(second_path)]
    assert asked == ([f"bytes={cut}-"] if judged else [None]), (asked, lines)
    discarded = ("Partial download discarded: only a digest or a Signer allows continuing it from "
                 "another address.")
    assert (discarded in lines) == (not judged), lines
    assert "Downloaded file was accepted." in lines, lines
    assert len(ran(marker)) == 1 and result.code == 0, (result, lines)


def test_file_pieced_from_two_versions_is_fetched_again_from_one(prefix32, make_setup, http, kit):
    """The first address breaks off in the old version; the second serves
    the publisher's new one. A Signer judges, so the part is continued, and
    the result (two files in one) fails the signature: the second address
    is asked once more from zero, and its file is accepted."""
    kit.need_trusted_root()
    old, new = (kit.files["exe", c].read_bytes() for c in ("good", "republished"))
    cut = 50_000  # within both
    base = f"/mirrors/pieced/{uuid.uuid4().hex[:6]}"
    first = http.add(f"{base}/first/pkg.exe", Resource(body=old, ranges=False, cut={n: cut for n in range(40)}))
    second_path = f"{base}/second/pkg.exe"
    second = http.add(second_path, Resource(body=new))
    setup = make_setup(prefix32)
    marker = setup.folder / "marker.txt"

    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": first, "Url2": second, "Signer": f"CN={EXAMPLE}",
                                 "NoUiCommandLine": f"0 {setup.win(marker)}"}])

    assert [r.headers.get("range") for r in http.requests_for(second_path)] == [f"bytes={cut}-", None], lines
    i = lines.index("The file was pieced together from two addresses: fetching it again from this address "
                    "alone.")
    assert lines[i - 1] == "Leaving download address. File rejected.(Signer not accepted).", lines
    assert lines[i + 1:i + 3] == [f"Download address:{second}", "Download completed succesfully."], lines
    assert "Downloaded file was accepted." in lines, lines
    assert ran(marker) == ["ran"] and result.code == 0, (result, lines)


def test_mandatory_fails_only_when_every_address_failed(prefix32, make_setup, http):
    base = f"/mirrors/all/{uuid.uuid4().hex[:6]}"
    urls = [http.url(f"{base}/{n}/pkg.exe") for n in range(3)]  # all 404
    setup = make_setup(prefix32)

    result, lines = run(setup, [{"DisplayName": "Pkg", "Url": urls[0], "Url2": urls[1], "Url3": urls[2],
                                 "SHA256": "0" * 64, "Options": "m", "NoUiCommandLine": "0"}])

    assert [line for line in lines if line.startswith("Download address:")] == \
        [f"Download address:{u}" for u in urls], lines
    assert lines.count(f"Leaving download address. Error:{NOT_FOUND}") == 3, lines
    assert f"Download failed. Error:{NOT_FOUND}" in lines, lines
    assert not any(line.startswith("Launching file:") for line in lines), lines
    assert result.code == 1, (result, lines)  # the mandatory prerequisite is missing
