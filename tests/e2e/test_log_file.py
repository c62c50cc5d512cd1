"""The log file: encoding, header, time stamps, closing line, appending, the
fallback location and the system description in the header."""

from __future__ import annotations

import re

import pytest

from winehelp import (
    BANNER, BOM, CURRENT_VERSION, END_OF_LOG, PRODUCT_OPTIONS, TOOLS, base_name,
    chainer_config, read_log, unique,
)

FRESH_OS = "6.1.7601 SP1 (workstation)"  # a new Wine 8 prefix is Windows 7 SP1


def arch_word(prefix):
    return "x64" if prefix.is64 else "x86"


_cpu_names: dict[str, str] = {}


def expected_cpu(prefix) -> str:
    """The processor's brand string, read with cpuid by cpuname.exe in the
    same prefix (Linux's /proc/cpuinfo may name the processor differently)."""
    if prefix.arch not in _cpu_names:
        rc, out = prefix.wine([TOOLS / "cpuname.exe"])
        assert rc == 0 and out, f"cpuname.exe: {rc} {out!r}"
        _cpu_names[prefix.arch] = out
    return _cpu_names[prefix.arch]


def check_session(session, prefix, result, os_version=FRESH_OS):
    assert session.os_version == f"{os_version} [{arch_word(prefix)}]"
    assert "\0" not in session.cpu, repr(session.cpu)
    assert session.cpu == expected_cpu(prefix)
    assert session.lines, f"no time-stamped line: {session.body!r}"
    assert session.lines[-1][1] == END_OF_LOG
    assert session.body.endswith(END_OF_LOG + "\r\n\r\n"), repr(session.body[-120:])
    for stamp, text in session.lines:
        # Local time with whole seconds, taken while the program ran.
        assert result.started - 2 <= stamp.timestamp() <= result.ended + 1, (stamp, text, result)


def test_new_log_starts_with_mark_banner_and_header(prefix, make_setup):
    setup = make_setup(prefix)
    log = setup.folder / "new.log"
    setup.write_config(chainer_config(log=setup.win(log)))

    result = setup.run()

    assert result.code == 0, result
    raw = log.read_bytes()
    head = (BANNER + f"OS Version: {FRESH_OS} [{arch_word(prefix)}]\r\nCPU: ").encode("utf-16-le")
    assert raw.startswith(BOM + head), raw[:200]
    parsed = read_log(log)
    assert len(parsed.sessions) == 1, parsed.text
    check_session(parsed.sessions[0], prefix, result)
    # Nothing else is logged yet without prerequisites.
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d-\d\d-\d\d-" + END_OF_LOG + "\r\n\r\n",
                        parsed.sessions[0].body), repr(parsed.sessions[0].body)


def test_second_run_appends_without_second_mark(prefix, make_setup):
    setup = make_setup(prefix)
    log = setup.folder / "twice.log"
    setup.write_config(chainer_config(log=setup.win(log)))

    first = setup.run()
    first_bytes = log.read_bytes()
    # The clean-up at exit deleted the configuration file: the same again.
    assert not setup.ini.exists()
    setup.write_config(chainer_config(log=setup.win(log)))
    second = setup.run()

    assert (first.code, second.code) == (0, 0)
    raw = log.read_bytes()
    parsed = read_log(log)  # fails on a mark inside the text
    assert raw.startswith(first_bytes)
    assert raw[len(first_bytes):].startswith(BANNER.encode("utf-16-le")), raw[len(first_bytes):][:80]
    assert len(parsed.sessions) == 2, parsed.text
    check_session(parsed.sessions[0], prefix, first)
    check_session(parsed.sessions[1], prefix, second)


@pytest.mark.parametrize("stem", ["fallback", "my.fallback.setup"])
def test_log_in_missing_folder_goes_to_programdata(prefix, make_setup, stem):
    name = unique(stem) + ".exe"
    setup = make_setup(prefix, name)
    missing = setup.folder / "no-such-folder"
    setup.write_config(chainer_config(log=setup.win(missing / "x.log")))
    fallback = prefix.program_data / "CORVANE_LOGS" / (base_name(name) + ".LOG")
    try:
        result = setup.run()

        assert result.code == 0, result
        assert not missing.exists()
        folder = fallback.parent
        assert fallback.exists(), sorted(p.name for p in folder.iterdir()) if folder.exists() else folder
        parsed = read_log(fallback)
        assert len(parsed.sessions) == 1
        check_session(parsed.sessions[0], prefix, result)
    finally:
        fallback.unlink(missing_ok=True)


# --------------------------------------------------------------------------
# System description from the registry

CV, PO = CURRENT_VERSION, PRODUCT_OPTIONS
WIN10 = [(CV, "CurrentMajorVersionNumber", "REG_DWORD", 10),
         (CV, "CurrentMinorVersionNumber", "REG_DWORD", 0)]

OS_CASES = [
    ("windows-10", WIN10 + [(CV, "CurrentBuildNumber", "REG_SZ", "19045")],
     "10.0.19045 SP1 (workstation)"),
    ("windows-11-from-build", WIN10 + [(CV, "CurrentBuildNumber", "REG_SZ", "22631")],
     "11.0.22631 SP1 (workstation)"),
    ("build-21999-is-10", WIN10 + [(CV, "CurrentBuildNumber", "REG_SZ", "21999")],
     "10.0.21999 SP1 (workstation)"),
    ("server", [(PO, "ProductType", "REG_SZ", "ServerNT")], "6.1.7601 SP1 (server)"),
    ("product-type-compared-exactly", [(PO, "ProductType", "REG_SZ", "winnt")],
     "6.1.7601 SP1 (server)"),
    ("service-pack-2", [(CV, "CSDVersion", "REG_SZ", "Service Pack 2")],
     "6.1.7601 SP2 (workstation)"),
    ("no-service-pack", [(CV, "CSDVersion", None, None)], "6.1.7601 SP0 (workstation)"),
    ("version-text-only",
     [(CV, "CurrentMajorVersionNumber", None, None), (CV, "CurrentMinorVersionNumber", None, None),
      (CV, "CurrentVersion", "REG_SZ", "6.3"), (CV, "CurrentBuildNumber", "REG_SZ", "9600")],
     "6.3.9600 SP1 (workstation)"),
]


@pytest.mark.parametrize("changes, expected", [c[1:] for c in OS_CASES], ids=[c[0] for c in OS_CASES])
def test_header_describes_the_system_in_the_registry(prefix, make_setup, registry, changes, expected):
    for key, name, kind, data in changes:
        registry(prefix, key, name, kind, data)
    setup = make_setup(prefix)
    log = setup.folder / "os.log"
    setup.write_config(chainer_config(log=setup.win(log)))

    result = setup.run()

    assert result.code == 0, result
    session = read_log(log).sessions[0]
    assert session.os_version == f"{expected} [{arch_word(prefix)}]"
