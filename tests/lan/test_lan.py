"""Cross-station acceptance tests: the real tindrel.exe on three stations,
alice (A), bob (B) and carol (C), each in a Wine prefix of its own with its
own user and computer name, joined by the tools/lan relay.

Run by tests/lan/run.sh, which sets TINDREL_LAN_DIR and stops the stations
whatever happens. The stations run through the whole suite, and their repeat
and receipt filters remember what they saw: the tests run in the order of
their numbers, and each says what the earlier ones left behind.
"""
import json
import os
import re
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
LAN_TOOL = ROOT / "tools/lan"
STATE = Path(os.environ["TINDREL_LAN_DIR"])
BLOCK = 420
STAMP = r"\d\d:\d\d:\d\d \S+ \d\d\. \S+ "  # "hh:mm:ss dddd dd. mmmm "
RECEIPT_MARK = b"\x03\x04\x03"


def lan(*args, timeout=180):
    """Runs tools/lan; its stdout, decoded byte for byte."""
    args = [str(a) for a in args]
    tool = subprocess.Popen([sys.executable, str(LAN_TOOL), *args], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        out, err = tool.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        tool.terminate()  # lets an `up` stop what it started
        tool.communicate(timeout=60)
        raise AssertionError(f"tools/lan {' '.join(args)} took more than {timeout} s")
    if tool.returncode != 0:
        raise AssertionError(f"tools/lan {' '.join(args)} failed ({tool.returncode}):\n"
                             + err.decode(errors="replace"))
    return out.decode("latin-1")


def wait_for(what, probe, timeout=30, step=0.2):
    """Polls probe() until it returns something true; that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {timeout} s: {what}")
        time.sleep(step)


def running_process(pid):
    """True while pid runs; an ended process that waits for its parent does not."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return False
    return stat.rsplit(")", 1)[1].split()[0] != "Z"


def stations_processes():
    """Every process that runs for the stations of this state directory: a
    Wine process of one of its prefixes, or a helper whose command line names it."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or not running_process(entry.name):
            continue
        try:
            env = (entry / "environ").read_bytes().split(b"\0")
            command = (entry / "cmdline").read_bytes()
        except OSError:
            continue
        where = os.fsencode(STATE)
        if any(v.startswith(b"WINEPREFIX=" + where) for v in env) or where in command:
            found.append(int(entry.name))
    return found


class Lan:
    """The stations up at the moment, seen from outside."""

    def __init__(self, names):
        # The first start brings the builds up to date, which from a fresh
        # checkout takes minutes; later ones take them as they are.
        first = not os.environ.get("TINDREL_SKIP_BUILD")
        lan("up", *names, timeout=1200 if first else 180)
        os.environ["TINDREL_SKIP_BUILD"] = "1"
        self.state = json.loads((STATE / "state.json").read_text())
        self.by_name = {st["name"]: st for st in self.state["stations"]}
        self.serial = 0

    def lanpeek(self, name, *args):
        """The command line and environment of lanpeek in the station's prefix."""
        env = dict(os.environ, WINEPREFIX=self.by_name[name]["prefix"], USER=name,
                   LOGNAME=name, DISPLAY=self.state["display"], WINEDEBUG="-all")
        return ["wine", self.state["exe"]["lanpeek"], *map(str, args)], env

    def peek(self, name, *args, timeout=60):
        command, env = self.lanpeek(name, *args)
        r = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1")

    def checked_peek(self, name, *args, timeout=60):
        status, out = self.peek(name, *args, timeout=timeout)
        if status != 0:
            raise AssertionError(f"lanpeek {args[0]} on {name} ended with {status}")
        return out

    def pid(self, name):
        return self.by_name[name]["pid"]

    def history(self, name):
        """The pane's entries, newest first."""
        text = self.checked_peek(name, "history", self.pid(name))
        return [line for line in text.split("\r\n") if line]

    def lines(self, name, head):
        return [line for line in self.history(name) if line.startswith(head)]

    def boxes(self, name):
        """(caption, text) of every open pop-up, as `tools/lan boxes` lists them."""
        found = []
        for line in lan("boxes", name).split("\n"):
            if line.startswith("    "):
                caption, text = found[-1]
                found[-1] = (caption, text + [line[4:]])
            elif line:
                found.append((line, []))
        return [(caption, "\r\n".join(text)) for caption, text in found]

    def wait(self, name, where, text, count=1, timeout=30):
        """Waits, inside the station's prefix, until text occurs count times
        in its history ("history") or in the texts of count pop-ups ("boxes")."""
        status, _ = self.peek(name, "wait", self.pid(name), where, text, count, timeout * 1000,
                              timeout=timeout + 30)
        if status != 0:
            raise AssertionError(f"not within {timeout} s: {text!r} {count} times in {name}'s {where}")

    def type(self, name, recipient, *texts):
        self.checked_peek(name, "type", self.pid(name), recipient, *texts)

    def paste(self, name, recipient, *texts):
        self.checked_peek(name, "paste", self.pid(name), recipient, *texts, timeout=300)

    def arrived(self, name):
        """The blocks the relay handed to station name: (delivered, block)."""
        data = (STATE / "log" / f"{name}.blocks").read_bytes()
        return [(data[at] == ord("D"), data[at + 1:at + 1 + BLOCK])
                for at in range(0, len(data) - BLOCK, BLOCK + 1)]

    def receipts_from(self, receiver, sender):
        return [block for delivered, block in self.arrived(receiver)
                if delivered and block.startswith(sender.encode() + b"\0")
                and RECEIPT_MARK in block]

    def barrier(self, name):
        """Returns once the station has read everything that reached it before:
        a block written straight into its wire from a sender that names no
        station (so no receipt goes anywhere) shows up in its history."""
        self.serial += 1
        text = f"barrier {self.serial}"
        record = b"lantest\0" + name.encode() + b"\0" + text.encode() + b"\0\0\0\0"
        fifo = os.open(STATE / "net" / name / "mailslot/messngr", os.O_WRONLY | os.O_NONBLOCK)
        try:
            os.write(fifo, record.ljust(BLOCK, b"\0"))
        finally:
            os.close(fifo)
        self.wait(name, "history", f"<<{text}>>")

    def watch_title(self, name, title, timeout_ms=30000):
        """Watches the window title from now on, until it reads title; a
        function that waits for the end and gives (exit status, titles seen)."""
        command, env = self.lanpeek(name, "watch-title", self.pid(name), title, timeout_ms)
        watcher = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE)
        first = watcher.stdout.readline()  # it prints the title it starts from at once

        def finish():
            rest, _ = watcher.communicate(timeout=timeout_ms / 1000 + 30)
            return watcher.returncode, (first + rest).decode("latin-1").splitlines()
        return finish


class CrossStation(unittest.TestCase):
    """Names on the wire, one message's road, the repeat and receipt rules
    between real stations, /S from a third station, WORKGROUP, throughput."""

    @classmethod
    def setUpClass(cls):
        cls.lan = Lan(["alice", "bob", "carol"])

    @classmethod
    def tearDownClass(cls):
        lan("down")

    def test_1_every_name_of_a_station_opens_and_no_other(self):
        self.assertEqual(self.lan.checked_peek("alice", "names"), "computer ALICE-PC\nuser alice\n")
        cases = {
            "bob": "ok", "Bob": "ok", "BOB-PC": "ok", "bob-pc": "ok", "carol": "ok",
            "CAROL-PC": "ok", "alice": "ok", "WORKGROUP": "ok", "workgroup": "ok",
            "nobody": "error 3", "bob-pc2": "error 3", "*": "error 123",
        }
        out = self.lan.checked_peek("alice", "probe", *cases)
        self.assertEqual(out, "".join(f"{name} {result}\n" for name, result in cases.items()))

    def test_2_road_of_one_message(self):
        titles = self.lan.watch_title("alice", "Delivered to: bob@BOB-PC")
        self.lan.type("alice", "bob", "hello bob")
        sent = self.lan.lines("alice", "> ")
        self.assertEqual(len(sent), 1)
        self.assertRegex(sent[0], "^> " + STAMP
                         + re.escape("alice\x02bob\x02hello bob\x02\x02\x02alice@ALICE-PC\x02\x02\x02\x02") + "$")

        self.lan.wait("bob", "boxes", "hello bob")
        box = self.lan.boxes("bob")
        self.assertEqual(len(box), 1)
        self.assertTrue(box[0][0].startswith("Message - "), box[0][0])
        self.assertEqual(box[0][1], "From:\talice\r\nTo:\tbob\r\n\r\nhello bob\r\n\talice@ALICE-PC")
        received = self.lan.lines("bob", "< ")
        self.assertEqual(len(received), 1)
        self.assertRegex(received[0], "^< " + STAMP
                         + re.escape("From:alice, To:bob <<hello bob\x03\x03\x03alice@ALICE-PC>>") + "$")

        status, seen = titles()
        self.assertEqual(status, 0, seen)
        self.assertEqual(seen[-1], "Delivered to: bob@BOB-PC")
        self.lan.wait("alice", "history", "Delivered to: ")
        receipts = self.lan.lines("alice", "~ ")
        self.assertEqual(len(receipts), 1)
        self.assertRegex(receipts[0], r"^~ \S.* Delivered to: bob@BOB-PC$")
        # The tool prints the same pane, one entry a line.
        self.assertEqual(lan("history", "alice"), "\n".join(self.lan.history("alice")) + "\n")
        # And a picture of the whole display: a PNG of its 1024 x 768 pixels.
        shot = STATE / "road.png"
        lan("shot", shot)
        head = shot.read_bytes()[:24]
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", head[16:24]), (1024, 768))

    def test_3_a_second_different_message_adds_no_receipt_line(self):
        # After test 2 alice has logged bob's receipt once.
        self.lan.type("alice", "bob", "second message")
        self.lan.wait("bob", "history", "<<second message")
        wait_for("bob's second receipt reaches alice",
                 lambda: len(self.lan.receipts_from("alice", "bob@BOB-PC")) == 2)
        self.lan.barrier("alice")
        # Both receipts carry the same bytes: the second is a repeat.
        receipts = self.lan.lines("alice", "~ ")
        self.assertEqual(len(receipts), 1, receipts)
        self.assertTrue(receipts[0].endswith(" Delivered to: bob@BOB-PC"))

    def test_4_the_same_text_twice_gives_one_popup_and_one_receipt(self):
        boxes_before = len(self.lan.boxes("bob"))
        receipts_before = len(self.lan.receipts_from("alice", "bob@BOB-PC"))
        self.lan.type("alice", "bob", "twice", "twice")
        self.assertEqual(len([l for l in self.lan.lines("alice", "> ") if "\x02twice\x02" in l]), 2)
        wait_for("both blocks reach bob",
                 lambda: sum(b"\0twice\r\n" in block for _, block in self.lan.arrived("bob")) == 2)
        self.lan.barrier("bob")
        self.assertEqual(len([l for l in self.lan.history("bob") if "<<twice" in l]), 1)
        # A pop-up opens on a thread of its own: give the barrier's time to show.
        self.lan.wait("bob", "boxes", f"barrier {self.lan.serial}")
        time.sleep(1)
        boxes = self.lan.boxes("bob")
        self.assertEqual(len(boxes), boxes_before + 2)
        self.assertEqual(len([b for b in boxes if "\r\n\r\ntwice\r\n" in b[1]]), 1)
        self.lan.barrier("alice")
        self.assertEqual(len(self.lan.receipts_from("alice", "bob@BOB-PC")), receipts_before + 1)

    def test_5_send_switch_from_carol_while_bob_and_carols_copy_run(self):
        carol_before = self.lan.history("carol")
        lan("send", "carol", "bob", "line one", "line two")
        self.lan.wait("bob", "boxes", "From:\tcarol")
        box = [b for b in self.lan.boxes("bob") if b[1].startswith("From:\tcarol")]
        self.assertEqual(len(box), 1)
        self.assertEqual(box[0][1],
                         "From:\tcarol\r\nTo:\tbob\r\n\r\nline one\r\nline two\r\n\tcarol@CAROL-PC")
        self.assertTrue(any(re.match("^< " + STAMP + re.escape(
            "From:carol, To:bob <<line one\x03\x03line two\x03\x03\x03carol@CAROL-PC>>") + "$", l)
            for l in self.lan.history("bob")))
        # The receipt goes to carol's user name: her running copy logs it.
        self.lan.wait("carol", "history", "Delivered to: ")
        receipt = self.lan.lines("carol", "~ ")
        self.assertEqual(len(receipt), 1)
        self.assertTrue(receipt[0].endswith(" Delivered to: bob@BOB-PC"))
        # That copy was not disturbed: the same process runs, and its pane
        # holds the receipt alone, nothing of the /S copy's send.
        self.assertTrue(carol_before[0].startswith("Command line parameters:"), carol_before)
        self.assertEqual(self.lan.history("carol"), receipt)
        # A name no station has: /S's failure status comes through, with the name.
        r = subprocess.run([sys.executable, str(LAN_TOOL), "send", "carol", "nobody", "hi"],
                           capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.decode().splitlines(),
                         ["lan: send: nobody could not be reached from carol "
                          "(tindrel.exe /S ended with exit status 1)"])

    def test_6_workgroup_reaches_every_station_and_each_answer_is_logged(self):
        # Sent by bob: the only station that has logged no receipt yet, so
        # every answer is new to its receipt filter.
        self.assertEqual(self.lan.lines("bob", "~ "), [])
        self.lan.type("bob", "WORKGROUP", "hello all")
        popup = "From:\tbob\r\nTo:\tWORKGROUP\r\n\r\nhello all\r\n\tbob@BOB-PC"
        for name in ("alice", "bob", "carol"):
            self.lan.wait(name, "boxes", popup)
            self.assertEqual(len([b for b in self.lan.boxes(name) if b[1] == popup]), 1)
            self.assertEqual(len([l for l in self.lan.history(name)
                                  if "From:bob, To:WORKGROUP <<hello all" in l]), 1)
        self.lan.wait("bob", "history", " Delivered to: ", 3, timeout=40)
        self.lan.barrier("bob")
        answered = sorted(l.rsplit(" Delivered to: ", 1)[1] for l in self.lan.lines("bob", "~ "))
        self.assertEqual(answered, ["alice@ALICE-PC", "bob@BOB-PC", "carol@CAROL-PC"])

    def test_7_throughput_100_messages_from_alice_to_bob(self):
        count = 100
        texts = [f"throughput {i:03}" for i in range(1, count + 1)]
        # bob answers each with the same receipt bytes: after the first, every
        # one is a repeat at alice, and the first adds a line only if alice's
        # last logged receipt came from someone else.
        last = self.lan.lines("alice", "~ ")[0]
        expected_lines = 0 if last.endswith("bob@BOB-PC") else 1
        receipts_before = len(self.lan.receipts_from("alice", "bob@BOB-PC"))
        receipt_lines_before = len(self.lan.lines("alice", "~ "))

        start = time.monotonic()
        self.lan.paste("alice", "bob", *texts)
        sent_at = time.monotonic() - start

        self.lan.wait("bob", "history", "<<throughput ", count, timeout=120)
        logged_at = time.monotonic() - start
        logged = [l.split("<<", 1)[1][:14] for l in self.lan.history("bob") if "<<throughput " in l]
        self.assertEqual(logged, texts[::-1], "all, in order, newest first")

        wait_for("every receipt at alice",
                 lambda: len(self.lan.receipts_from("alice", "bob@BOB-PC")) - receipts_before == count,
                 timeout=120, step=0.25)
        self.lan.barrier("alice")
        handled_at = time.monotonic() - start
        self.assertEqual(len(self.lan.lines("alice", "~ ")) - receipt_lines_before, expected_lines)
        self.assertTrue(all(delivered for delivered, _ in self.lan.arrived("alice")))
        self.assertTrue(all(delivered for delivered, _ in self.lan.arrived("bob")))
        print(f"\nthroughput: {count} messages alice -> bob: sent in {sent_at:.1f} s "
              f"({count / sent_at:.0f}/s), all logged at bob after {logged_at:.1f} s, "
              f"all {count} receipts handled at alice after {handled_at:.1f} s",
              file=sys.stderr, flush=True)

    def test_8_up_refuses_clashes_and_down_leaves_nothing_running(self):
        for names in (["dave"], ["bob", "BOB"], ["workgroup"], ["eve", "eve-pc"], ["a.b"]):
            r = subprocess.run([sys.executable, str(LAN_TOOL), "up", *names],
                               capture_output=True, timeout=60)
            self.assertEqual(r.returncode, 1, names)
        running = stations_processes()
        # Each station: its program, its relay, its wineserver and more.
        self.assertGreaterEqual(len(running), 3 * 3)
        self.assertIn(self.lan.state["fanout"], running)
        xvfb = self.lan.state["xvfb"]
        self.assertTrue(running_process(xvfb))  # the private display
        self.assertIn("nothing left running", lan("down"))
        self.assertEqual(stations_processes(), [])
        self.assertFalse(running_process(xvfb))
        self.assertFalse((STATE / "net").exists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
