"""The import check against files it must reject.

    test_pecheck.py BAD GOOD...

BAD imports GetTickCount64 and is otherwise fine; each GOOD is a built
tindrel.exe, which passes as built and fails once its header is changed."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CHECKER = ROOT / "tools/pecheck.py"
ALLOWLIST = ROOT / "tools/xp-imports.txt"
BAD, GOOD = sys.argv[1], sys.argv[2:]


def pecheck(*files, allowlist=ALLOWLIST):
    """(exit status, the fault lines)."""
    r = subprocess.run([sys.executable, CHECKER, allowlist, *files], capture_output=True,
                       text=True, timeout=60)
    return r.returncode, r.stderr.splitlines()


class PeCheck(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def copy(self, source, change):
        data = bytearray(Path(source).read_bytes())
        change(data)
        path = Path(self.dir.name) / Path(source).name
        path.write_bytes(data)
        return path

    def test_rejects_the_import_of_a_function_newer_than_xp(self):
        self.assertEqual(pecheck(BAD), (1, [
            f"{BAD}: imports KERNEL32.dll GetTickCount64, which is not on the list for x86-64"]))

    def test_a_machine_named_on_the_list_limits_the_entry_to_it(self):
        for machine, status in (("x86", 1), ("x86-64", 0), ("", 0)):
            allowlist = Path(self.dir.name) / "list.txt"
            allowlist.write_text(ALLOWLIST.read_text()
                                 + f"kernel32.DLL GetTickCount64 {machine}\n")
            self.assertEqual(pecheck(BAD, allowlist=allowlist)[0], status, machine)

    def test_each_built_file_passes_and_fails_with_a_newer_subsystem_version(self):
        self.assertTrue(GOOD)
        for good in GOOD:
            self.assertEqual(pecheck(good), (0, []), good)

            def vista(data):
                at = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 48
                struct.pack_into("<HH", data, at, 6, 0)
            changed = self.copy(good, vista)
            status, faults = pecheck(changed)
            self.assertEqual(status, 1)
            self.assertEqual(len(faults), 1, faults)
            self.assertRegex(faults[0], r": subsystem version 6\.00, not 5\.0[12]$")

    def test_files_it_cannot_read_give_one_line_and_status_2(self):
        truncated = self.copy(GOOD[0], lambda data: data.__delitem__(slice(1024, None)))
        not_pe = self.copy(CHECKER, lambda data: None)
        for path in (truncated, not_pe, Path(self.dir.name) / "missing.exe"):
            status, faults = pecheck(path)
            self.assertEqual(status, 2, path)
            self.assertEqual(len(faults), 1, faults)
            self.assertIn(str(path), faults[0])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
