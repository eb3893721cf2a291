"""A 64-bit and a 32-bit station message each other, with receipts both
ways: alice runs the 64-bit tindrel.exe and bob the 32-bit one, each in a
Wine prefix of its own under tools/lan. Uses only the tool's commands (up,
send, history, down) and its state file. Run by tests/lan/run.sh."""
import json
import re
import unittest

from test_lan import STAMP, STATE, lan, processes, wait_for
from wineloader import runs_32bit


def kinds_running():
    """{prefix: 32 or 64} of every running tindrel.exe that is no /S copy,
    by the word size of the Wine loader that runs it."""
    found = {}
    for entry, command, env in processes():
        try:
            with open(entry / "exe", "rb") as exe:
                elf = exe.read(5)
        except OSError:
            continue
        if any(arg.lower().endswith(b"tindrel.exe") for arg in command) and b"/S" not in command:
            for v in env:
                if v.startswith(b"WINEPREFIX="):
                    found[v[len(b"WINEPREFIX="):].decode()] = {b"\x7fELF\x01": 32,
                                                               b"\x7fELF\x02": 64}.get(elf)
    return found


def history(name):
    return lan("history", name).split("\n")


def logged(name, pattern):
    return [line for line in history(name) if re.match(pattern, line)]


RUNS_32BIT = runs_32bit()


@unittest.skipUnless(RUNS_32BIT, "this machine runs no 32-bit programs (its kernel's ia32 emulation is off)")
class TwoKinds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        lan("up", "alice", "bob:32", timeout=1200)
        cls.state = json.loads((STATE / "state.json").read_text())

    @classmethod
    def tearDownClass(cls):
        lan("down")

    def test_1_each_station_runs_its_kind(self):
        prefixes = {st["name"]: st["prefix"] for st in self.state["stations"]}
        kinds = kinds_running()
        self.assertEqual((kinds.get(prefixes["alice"]), kinds.get(prefixes["bob"])), (64, 32), kinds)

    def test_2_messages_and_receipts_both_ways(self):
        for sender, receiver, text in (("alice", "bob", "from 64 to 32"),
                                       ("bob", "alice", "from 32 to 64")):
            lan("send", sender, receiver, text)
            got = re.escape(f"From:{sender}, To:{receiver} <<{text}\x03\x03\x03"
                            f"{sender}@{sender.upper()}-PC>>")
            wait_for(f"{receiver} logs {text!r}", lambda: logged(receiver, "< " + STAMP + got + "$"))
            answer = re.escape(f" Delivered to: {receiver}@{receiver.upper()}-PC")
            wait_for(f"{sender} logs {receiver}'s receipt", lambda: logged(sender, "~ .*" + answer + "$"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
