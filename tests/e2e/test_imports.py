"""What prereq.exe maps at every start: the libraries it imports. WinINet is
looked up by name when the first download needs it, the trust and
certificate libraries when the first signature is read, and the Windows
Installer, network-share and version libraries are bound on first call, so
none of them may be in the import table that the loader resolves at start.
Those loaded later come from the system folder only: a library planted
beside the program is never loaded."""

from __future__ import annotations

import struct
import subprocess

import pytest

from winehelp import PREREQ_EXE, pe_is_64bit


def read_pe(path):
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, at + 8)
        sections.append((va, max(vsize, rawsize), raw))

    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(hex(rva))

    def directory(index):
        return struct.unpack_from("<II", data, directories + 8 * index)

    def name_at(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii").lower()

    def names(index, entry_size, name_field):
        rva, size = directory(index)
        found = []
        if rva == 0:
            return found
        at = offset(rva)
        while True:
            entry = data[at:at + entry_size]
            if entry == b"\0" * entry_size:
                return found
            found.append(name_at(struct.unpack_from("<I", entry, name_field)[0]))
            at += entry_size

    return names(1, 20, 12), names(13, 32, 4)  # import table, delay-import table


def test_start_maps_no_wininet_msi_mpr_version_or_trust_libraries():
    imports, delayed = read_pe(PREREQ_EXE)
    assert "kernel32.dll" in imports  # the table was read
    for library in ("wininet.dll", "msi.dll", "mpr.dll", "version.dll", "wintrust.dll", "crypt32.dll"):
        assert library not in imports, imports
    for library in ("wininet.dll", "wintrust.dll", "crypt32.dll"):
        assert library not in delayed, delayed  # looked up by name, not bound


PLANTED_SOURCE = r"""
#include <windows.h>
// Leaves "<its own path>.loaded" when a process loads it.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    lstrcatW(path, L".loaded");
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
  return TRUE;
}
"""


# version.dll is not among them: under Wine its own user32 imports it, so a
# copy beside the program that Wine is told to prefer is loaded at start
# whatever the program does (Windows' user32 does not). That it is not in the
# import table is checked above.
@pytest.mark.parametrize("library", ["msi.dll", "mpr.dll", "wininet.dll"])
def test_library_planted_beside_the_program_is_never_loaded(prefix32, make_setup, tmp_path,
                                                            library):
    # On Windows the program's own folder comes first for libraries that are
    # not known system libraries. Wine prefers its own copies unless told
    # otherwise: the override "native first" stands for that here, so that the
    # planted copy beside the program would be loaded if the program looked
    # there. The run needs each library: a product search (msi), a download
    # from a share (mpr) and one over HTTP (wininet).
    compiler = "x86_64-w64-mingw32-gcc" if pe_is_64bit(PREREQ_EXE) else "i686-w64-mingw32-gcc"
    source = tmp_path / "planted.c"
    source.write_text(PLANTED_SOURCE)
    setup = make_setup(prefix32)
    planted = setup.folder / library
    subprocess.run([compiler, "-shared", "-o", str(planted), str(source)],
                   check=True, stdin=subprocess.DEVNULL, capture_output=True)
    setup.write_config("\n".join([
        "[GeneralOptions]", "Options=q", f"DownloadFolder={setup.win(setup.folder / 'dl')}",
        "[PREREQUISITES]", "App1=id1", "App2=id2",
        "[App1]", "DisplayName=A", "Url=http://127.0.0.1:9/a.exe",
        "SearchType1=3", "SearchString1={7C1F4E2A-2B55-4D0B-8E0C-6A3D9F1B5CFF}",
        "[App2]", "DisplayName=B", "Url=file://nohost/share/b.exe",
        "SearchType1=0", "SearchString1=[SystemFolder]notepad.exe", "VerMin1=999",
    ]) + "\n")
    stem = library.rsplit(".", 1)[0]
    result = setup.run(timeout=90, env={"WINEDLLOVERRIDES": f"mscoree,mshtml=;{stem}=n,b"})
    assert not planted.with_name(library + ".loaded").exists(), result
