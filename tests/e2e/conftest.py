"""Fixtures of the end-to-end tests: Wine prefixes, setup folders with a copy
of prereq.exe, and registry changes that are undone after each test.

Run with Debian's Python under an X server:
    xvfb-run -a /usr/bin/python3 -m pytest tests/e2e -q
PREREQ_E2E_ARCHES=win32 (or win64) restricts the runs to one kind of prefix.

On a machine that cannot execute 32-bit x86 code (Wine's i386 loader fails)
the 64-bit build in build/x64 is tested in the 64-bit prefix and the 32-bit
runs are reported as skipped.
"""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import signing  # noqa: E402
from winehelp import (  # noqa: E402
    BUILD_ROOT, PREREQ_EXE, TOOLS, Setup, WinePrefix, pe_is_64bit, x86_runs,
)

ARCHES = [a for a in os.environ.get("PREREQ_E2E_ARCHES", "win32,win64").split(",") if a]
PREFIX_ROOT = BUILD_ROOT / "wine"


def unusable(arch: str) -> str | None:
    """Why prereq.exe cannot run in a prefix of this kind here, if it cannot."""
    if pe_is_64bit(PREREQ_EXE):
        return "64-bit test build: no 32-bit Windows" if arch == "win32" else None
    if not x86_runs():
        return "this machine cannot execute 32-bit x86 code (the i386 Wine loader fails)"
    return None


def own_prefix(name: str, arch: str = "win64"):
    """A prefix for one module's tests alone (for example where the chainer
    restarts Windows: ExitWindowsEx ends every process of the prefix). A
    generator for a module fixture: started here, stopped after the last
    test."""
    reason = unusable(arch)
    if reason:
        pytest.skip(reason)
    prefix = WinePrefix(PREFIX_ROOT / name, arch)
    prefix.start()
    try:
        yield prefix
    finally:
        prefix.stop()


class Prefixes:
    """The session's prefixes, started on first use and stopped at the end."""

    def __init__(self):
        self._prefixes: dict[str, WinePrefix] = {}
        self._failed: dict[str, str] = {}

    def get(self, arch: str) -> WinePrefix:
        reason = unusable(arch)
        if reason:
            pytest.skip(reason)
        if arch in self._failed:
            pytest.fail(self._failed[arch], pytrace=False)
        if arch not in self._prefixes:
            prefix = WinePrefix(PREFIX_ROOT / f"e2e-{arch}", arch)
            try:
                prefix.start()
            except Exception as e:  # reported once per test that needs it
                self._failed[arch] = str(e)
                pytest.fail(str(e), pytrace=False)
            self._prefixes[arch] = prefix
        return self._prefixes[arch]

    def stop_all(self):
        for prefix in self._prefixes.values():
            prefix.stop()


@pytest.fixture(scope="session")
def prefixes():
    missing = [p for p in (PREREQ_EXE, TOOLS / "runwait.exe", TOOLS / "holdmutex.exe",
                           TOOLS / "listwindows.exe", TOOLS / "cpuname.exe") if not p.exists()]
    if missing:
        pytest.fail("not built: " + ", ".join(map(str, missing)) + " (run make build)",
                    pytrace=False)
    manager = Prefixes()
    yield manager
    manager.stop_all()


@pytest.fixture(scope="session", autouse=True)
def no_test_root_left_trusted():
    """A session killed during the signature tests may have left their test
    root trusted on the host (signing.py): it goes before anything runs."""
    if signing.can_trust_roots() is None:
        signing.untrust_roots()


@pytest.fixture(params=ARCHES)
def prefix(request, prefixes) -> WinePrefix:
    """Each test that takes it runs in a 32-bit and in a 64-bit Windows."""
    return prefixes.get(request.param)


@pytest.fixture
def prefix32(prefixes) -> WinePrefix:
    """For behaviour that does not depend on the Windows bitness: the 32-bit
    prefix, or the 64-bit one where no 32-bit prefix can run."""
    usable = [a for a in ARCHES if not unusable(a)] or ARCHES
    return prefixes.get(usable[0])


@pytest.fixture
def make_setup(tmp_path):
    """make_setup(prefix, name="prereq.exe") -> Setup in a fresh folder."""
    count = 0

    def make(prefix: WinePrefix, name: str = "prereq.exe") -> Setup:
        nonlocal count
        count += 1
        return Setup(prefix, tmp_path / f"setup{count}", name)

    return make


@pytest.fixture
def display():
    if not os.environ.get("DISPLAY"):
        pytest.skip("needs an X display (run under xvfb-run -a)")


@pytest.fixture
def registry():
    """registry(prefix, key, name, kind, data) sets a value; kind None deletes it.
    Every value touched gets its old state back after the test."""
    saved = []

    def change(prefix: WinePrefix, key: str, name: str, kind: str | None, data=None):
        if not any(p is prefix and k == key and n == name for p, k, n, _ in saved):
            saved.append((prefix, key, name, prefix.reg_query(key, name)))
        if kind is None:
            prefix.reg_delete(key, name)
        else:
            prefix.reg_add(key, name, kind, data)

    yield change
    for prefix, key, name, old in reversed(saved):
        if old is None:
            prefix.reg_delete(key, name)
        else:
            prefix.reg_add(key, name, old[0], old[1])
        assert prefix.reg_query(key, name) == old, f"could not restore {key}\\{name}"

