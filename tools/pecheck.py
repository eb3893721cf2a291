#!/usr/bin/env python3
"""tools/pecheck.py: can this Windows program start on the oldest Windows it
is built for? Reads the PE headers and import tables itself.

    tools/pecheck.py ALLOWLIST FILE...     check each FILE; print its imports

A file passes when every function it imports, directly or delay-loaded, is
listed in ALLOWLIST for its machine, and its subsystem version is the one
the loader of that oldest Windows accepts: 5.01 for 32-bit x86 (Windows XP),
5.02 for x86-64 (Windows XP x64 and Server 2003). Exit status 0 when every
file passes, 1 when one does not (each fault on a line of its own), 2 when a
file or the list cannot be read.

ALLOWLIST has one import a line, "DLL FUNCTION", optionally followed by
"x86" or "x86-64" when the function exists on that machine only; '#' starts
a comment. DLL names match in any case, function names exactly.
"""
import struct
import sys
from pathlib import Path

MACHINES = {0x14C: "x86", 0x8664: "x86-64"}
SUBSYSTEM_VERSION = {"x86": (5, 1), "x86-64": (5, 2)}
IMPORT_DIRECTORY, DELAY_IMPORT_DIRECTORY = 1, 13


class PeError(Exception):
    pass


class Image:
    """The parts of a PE file this check needs: machine, subsystem version,
    and every import as (DLL, function or "#ordinal")."""

    def __init__(self, data):
        self.data = data
        if self.u16(0) != 0x5A4D:
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
        if machine not in MACHINES:
            raise PeError(f"machine 0x{machine:04X} is neither x86 nor x86-64")
        self.machine = MACHINES[machine]
        optional = pe + 24
        magic = self.u16(optional)
        if magic not in (0x10B, 0x20B):
            raise PeError(f"optional header magic 0x{magic:X}")
        self.wide = magic == 0x20B
        self.image_base = self.u64(optional + 24) if self.wide else self.u32(optional + 28)
        self.subsystem_version = (self.u16(optional + 48), self.u16(optional + 50))
        count_at = optional + (108 if self.wide else 92)
        self.directories = [struct.unpack_from("<II", data, count_at + 4 + 8 * i)
                            for i in range(min(self.u32(count_at), 16))]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                         for i in range(sections)]

    def u16(self, at):
        return self.unpack("<H", at)

    def u32(self, at):
        return self.unpack("<I", at)

    def u64(self, at):
        return self.unpack("<Q", at)

    def unpack(self, form, at):
        if at < 0 or at + struct.calcsize(form) > len(self.data):
            raise PeError(f"truncated at offset {at}")
        return struct.unpack_from(form, self.data, at)[0]

    def offset(self, rva):
        for size, address, raw_size, raw_at in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw_at + rva - address
        raise PeError(f"address 0x{rva:X} lies in no section")

    def text(self, rva):
        at = self.offset(rva)
        end = self.data.find(b"\0", at)
        if end < 0:
            raise PeError(f"unterminated name at 0x{rva:X}")
        return self.data[at:end].decode("latin-1")

    def names(self, thunks_rva, base=0):
        """Functions named by a thunk array: names, or "#n" for ordinals."""
        found = []
        width, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        at = self.offset(thunks_rva)
        while True:
            thunk = self.u64(at) if self.wide else self.u32(at)
            if not thunk:
                return found
            if thunk & ordinal_flag:
                found.append(f"#{thunk & 0xFFFF}")
            else:
                found.append(self.text((thunk - base & 0x7FFFFFFF) + 2))  # after the hint
            at += width

    def imports(self):
        found = []
        rva = self.directory(IMPORT_DIRECTORY)
        while rva:
            lookup, _, _, name, address = struct.unpack("<IIIII", self.slice(rva, 20))
            if not (lookup or name or address):
                break
            found += [(self.text(name), f) for f in self.names(lookup or address)]
            rva += 20
        rva = self.directory(DELAY_IMPORT_DIRECTORY)
        while rva:
            attributes, name, _, _, lookup = struct.unpack("<IIIII", self.slice(rva, 20))
            if not name:
                break
            # Old linkers wrote addresses instead of RVAs, flagged by bit 0 clear.
            base = 0 if attributes & 1 else self.image_base
            found += [(self.text(name - base), f) for f in self.names(lookup - base, base)]
            rva += 32
        return found

    def directory(self, index):
        return self.directories[index][0] if index < len(self.directories) else 0

    def slice(self, rva, size):
        at = self.offset(rva)
        if at + size > len(self.data):
            raise PeError(f"truncated at offset {at}")
        return self.data[at:at + size]


def read_allowlist(path):
    allowed = {m: set() for m in MACHINES.values()}
    for number, line in enumerate(Path(path).read_text().splitlines(), 1):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        if len(words) not in (2, 3) or (len(words) == 3 and words[2] not in allowed):
            raise PeError(f"{path}:{number}: expected 'DLL FUNCTION [x86|x86-64]'")
        for machine in [words[2]] if len(words) == 3 else allowed:
            allowed[machine].add((words[0].lower(), words[1]))
    return allowed


def check(path, allowed):
    """Prints what the file imports; its faults."""
    image = Image(Path(path).read_bytes())
    imports = image.imports()
    major, minor = image.subsystem_version
    print(f"{path}: {image.machine}, subsystem version {major}.{minor:02}, "
          f"{len(imports)} imports")
    by_dll = {}
    for dll, function in imports:
        by_dll.setdefault(dll, []).append(function)
    for dll, functions in by_dll.items():
        print(f"  {dll}: {' '.join(sorted(functions))}")
    faults = []
    want = SUBSYSTEM_VERSION[image.machine]
    if image.subsystem_version != want:
        faults.append(f"subsystem version {major}.{minor:02}, not {want[0]}.{want[1]:02}")
    faults += [f"imports {dll} {function}, which is not on the list for {image.machine}"
               for dll, function in imports
               if (dll.lower(), function) not in allowed[image.machine]]
    return faults


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    failed = False
    try:
        allowed = read_allowlist(argv[0])
        for path in argv[1:]:
            try:
                faults = check(path, allowed)
            except (PeError, struct.error) as e:
                raise PeError(f"{path}: not a PE file this check can read: {e}")
            for fault in faults:
                print(f"{path}: {fault}", file=sys.stderr)
            failed = failed or bool(faults)
    except OSError as e:
        print(f"pecheck: {e.filename}: {e.strerror}", file=sys.stderr)
        return 2
    except PeError as e:
        print(f"pecheck: {e}", file=sys.stderr)
        return 2
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
