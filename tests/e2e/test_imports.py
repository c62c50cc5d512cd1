"""What prereq.exe maps at every start: the libraries it imports. WinINet is
looked up by name when the first download needs it, and the Windows
Installer and network-share libraries are bound on first call, so none of
them may be in the import table that the loader resolves at start."""

from __future__ import annotations

import struct

from winehelp import PREREQ_EXE


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


def test_start_maps_no_wininet_msi_or_mpr():
    imports, delayed = read_pe(PREREQ_EXE)
    assert "kernel32.dll" in imports  # the table was read
    for library in ("wininet.dll", "msi.dll", "mpr.dll"):
        assert library not in imports, imports
    assert "wininet.dll" not in delayed, delayed  # looked up by name, not bound
