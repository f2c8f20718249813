"""Just enough of the PE format to check how an executable was built: machine, subsystem,
imported DLLs, resources, the version resource."""

from __future__ import annotations

import struct
from dataclasses import dataclass

MACHINE_AMD64 = 0x8664
PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
RT_VERSION = 16
RT_MANIFEST = 24


@dataclass
class Section:
    name: str
    virtual_address: int
    virtual_size: int
    raw_offset: int
    raw_size: int


class PeFile:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, self.symbol_table, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = optional + (112 if self.magic == PE32_PLUS else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, rsize, roffset = struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
            self.sections.append(Section(name.rstrip(b"\0").decode("latin-1"), vaddr, vsize, roffset, rsize))

    def offset(self, rva: int) -> int:
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                return s.raw_offset + rva - s.virtual_address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def _c_string(self, rva: int) -> str:
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def imported_dlls(self) -> list[str]:
        rva, size = self.directories[1]
        if rva == 0:
            return []
        names, at = [], self.offset(rva)
        while True:
            _, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, at)
            if name == 0 and first_thunk == 0:
                return names
            names.append(self._c_string(name))
            at += 20

    def resources(self) -> dict[tuple, bytes]:
        """{(type, name, language): bytes}; numeric ids as ints, names as strings."""
        rva, _ = self.directories[2]
        if rva == 0:
            return {}
        base = self.offset(rva)
        found: dict[tuple, bytes] = {}

        def walk(directory: int, path: tuple) -> None:
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = name
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + (key,))
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[path + (key,)] = self.data[start:start + size]

        walk(base, ())
        return found


@dataclass
class VersionInfo:
    file_version: tuple[int, int, int, int]
    product_version: tuple[int, int, int, int]
    strings: dict[str, str]


def parse_version_resource(data: bytes) -> VersionInfo:
    """VS_VERSIONINFO: the fixed file info and the StringFileInfo strings."""

    def align(at: int) -> int:
        return (at + 3) & ~3

    def block(at: int):
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        end_key = at + 6
        while data[end_key:end_key + 2] != b"\0\0":
            end_key += 2
        key = data[at + 6:end_key].decode("utf-16-le")
        value_at = align(end_key + 2)
        value_size = value_length * 2 if kind == 1 else value_length
        value = data[value_at:value_at + value_size]
        children, child = [], align(value_at + value_size)
        while child < at + length:
            children.append(block(child))
            child = align(child + struct.unpack_from("<H", data, child)[0])
        return key, kind, value, children

    key, _, fixed, children = block(0)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version resource starts with {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        raise ValueError("VS_FIXEDFILEINFO has no signature")
    strings = {}
    for child_key, _, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, _, entries in tables:
                for name, _, value, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")

    def split(ms: int, ls: int) -> tuple[int, int, int, int]:
        return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF

    return VersionInfo(split(file_ms, file_ls), split(product_ms, product_ls), strings)
