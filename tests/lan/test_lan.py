"""Cross-station tests over a real network: the real tindrel.exe on four
stations, alice, bob and carol on one subnet and dave on a second one behind
a router, each on a host of its own (a network namespace) with its own
tindrel-gateway, registered with a WINS server (Samba's nmbd), all started
by tools/lan; a test B-node "lantest" written from the protocol notes on the
first subnet; and a tap on its bridge that sees every datagram there.

Run by tests/lan/run.sh, which sets TINDREL_LAN_DIR, the namespace prefix,
the subnet and the account the stations run as (TINDREL_LAN_USER), and
removes everything whatever happens. The stations run
through the whole suite; each test first puts the state it relies on in
place (a station's last logged receipt, for one) and leaves no pop-ups
piled up behind it, so none depends on the ones before it and any of them
runs alone or in any order. test_18 takes the LAN down; a test after it
brings it up again.
"""
import json
import os
import random
import re
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests/netns"))
sys.path.insert(0, str(ROOT / "tools/lanlib"))
import bnode  # noqa: E402
import netns  # noqa: E402
from account import Account  # noqa: E402

LAN_TOOL = ROOT / "tools/lan"
STATE = Path(os.environ["TINDREL_LAN_DIR"])
ACCOUNT = Account(os.environ["TINDREL_LAN_USER"])
BLOCK = 420
STAMP = r"\d\d:\d\d:\d\d \S+ \d\d\. \S+ "  # "hh:mm:ss dddd dd. mmmm "
RECEIPT_MARK = b"\x03\x04\x03"
NODE = "lantest"
NODE_ID = b"lantest@LANTEST"


def lan(*args, timeout=180, check=True):
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
    if check and tool.returncode != 0:
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
    return Path(f"/proc/{pid}").exists() and not netns.zombie(pid)


def processes():
    """(/proc entry, command line arguments, environment) of every running
    process that can still be read."""
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or not running_process(entry.name):
            continue
        try:
            yield (entry, (entry / "cmdline").read_bytes().split(b"\0"),
                   (entry / "environ").read_bytes().split(b"\0"))
        except OSError:
            continue


def stations_processes():
    """Every process that runs for the stations of this state directory: a
    Wine process of one of its prefixes, or one whose command line names it."""
    where = os.fsencode(STATE)
    return [int(entry.name) for entry, command, env in processes()
            if any(v.startswith(b"WINEPREFIX=" + where) for v in env) or where in b"\0".join(command)]


def status_of(pid):
    """/proc/PID/status as {field: value}."""
    return dict(line.split(":\t", 1) for line in Path(f"/proc/{pid}/status").read_text().splitlines()
                if ":\t" in line)


def rss_kb(pid):
    return int(status_of(pid)["VmRSS"].split()[0])


def udp_ports(pid):
    """The local UDP ports of the sockets process pid holds, seen in its namespace."""
    inodes = set()
    for fd in Path(f"/proc/{pid}/fd").iterdir():
        target = os.readlink(fd)
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    ports = set()
    for line in Path(f"/proc/{pid}/net/udp").read_text().splitlines()[1:]:
        fields = line.split()
        if fields[9] in inodes:
            ports.add(int(fields[1].split(":")[1], 16))
    return ports


class Tap:
    """Every UDP datagram that crosses the bridge: (source ip, destination
    ip, destination port, payload), read in the switch namespace."""

    def __init__(self, net):
        self.sock = net.socket("switch", socket.AF_PACKET, socket.SOCK_RAW, socket.htons(0x0003))
        self.sock.bind((netns.BRIDGE, 0))
        self.sock.settimeout(0.2)
        self.seen = []
        self.running = True
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _loop(self):
        while self.running:
            try:
                frame = self.sock.recv(65535)
            except socket.timeout:
                continue
            if frame[12:14] != b"\x08\x00" or frame[23] != 17:
                continue
            ihl = (frame[14] & 0x0F) * 4
            udp = frame[14 + ihl:]
            self.seen.append((socket.inet_ntoa(frame[26:30]), socket.inet_ntoa(frame[30:34]),
                              struct.unpack(">H", udp[2:4])[0], udp[8:]))

    def close(self):
        self.running = False
        self.thread.join(timeout=2)
        self.sock.close()

    def mark(self):
        return len(self.seen)

    def datagrams(self, since=0):
        """Parsed NetBIOS datagrams with "ip_src" and "ip_dst" added."""
        found = []
        for src, dst, port, data in self.seen[since:]:
            if port != bnode.DGM_PORT:
                continue
            try:
                d = bnode.parse_datagram(data)
            except ValueError:
                continue
            d.update(ip_src=src, ip_dst=dst)
            found.append(d)
        return found


class Lan:
    """The stations up at the moment, seen from outside, with the test B-node
    and the tap on the same LAN."""

    def __init__(self, names):
        self.said = lan("up", *names)  # built by tests/lan/run.sh
        self.state = json.loads((STATE / "state.json").read_text())
        self.by_name = {st["name"]: st for st in self.state["stations"]}
        self.net = netns.Lan(self.state["netns"], self.state["subnet"])
        self.net.add_host(NODE, number=250)
        self.tap = Tap(self.net)
        self.node = bnode.BNode.in_host(self.net, NODE)
        self.node.register(NODE)
        self.node.on_message = self._answer
        self.serial = 0

    def close(self):
        self.node.close()
        self.tap.close()

    def _answer(self, d):
        """The node answers every message with a receipt, as a station does."""
        payload = d["payload"]
        if RECEIPT_MARK in payload:
            return
        sender = payload.split(b"\0", 1)[0].decode("latin-1")

        def reply():
            found = self.node.query(sender)
            if found:
                receipt = NODE_ID + b"\0" + sender.encode() + b"\0" + RECEIPT_MARK + b"\0" * 4
                self.node.send_message(NODE, sender, found[0], receipt.ljust(BLOCK, b"\0"))
        threading.Thread(target=reply, daemon=True).start()

    def gateway(self, name):
        """The pid of the station's gateway now: the child its watch runs."""
        return netns.child_named(self.by_name[name]["watch"], "tindrel-gateway")

    def gateway_status(self, name):
        """`tindrel-gateway status` of the station, its counts on one line."""
        r = subprocess.run([self.state["exe"]["gateway"], "status", "--prefix",
                            self.by_name[name]["prefix"]], capture_output=True, text=True, timeout=30)
        if r.returncode != 0:
            raise AssertionError(f"status of {name}'s gateway: {r.stderr.strip()}")
        return "; ".join(l.strip() for l in r.stdout.splitlines() if ":" in l and "<" not in l)

    def gateway_count(self, name, what):
        found = re.search(re.escape(what) + r": (\d+)", self.gateway_status(name))
        if not found:
            raise AssertionError(f"no {what!r} in the status of {name}'s gateway")
        return int(found.group(1))

    def ip(self, name):
        return self.by_name[name]["ip"]

    @staticmethod
    def lanpeek(name, *args):
        """lanpeek in the station's prefix, as its account."""
        return [sys.executable, str(LAN_TOOL), "peek", name, *map(str, args)]

    def peek(self, name, *args, timeout=60):
        r = subprocess.run(self.lanpeek(name, *args), stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=timeout)
        return r.returncode, r.stdout.decode("latin-1")

    def checked_peek(self, name, *args, timeout=60):
        status, out = self.peek(name, *args, timeout=timeout)
        if status != 0:
            log = (STATE / f"log/{name}.wine.log").read_text(errors="replace").splitlines()
            raise AssertionError(f"lanpeek {args[0]} on {name} ended with {status}; the end of "
                                 f"{name}'s Wine log:\n" + "\n".join(log[-15:]))
        return out

    def pid(self, name):
        return self.by_name[name]["pid"]

    def history(self, name):
        """The pane's entries, newest first."""
        text = self.checked_peek(name, "history", self.pid(name))
        return [line for line in text.split("\r\n") if line]

    def lines(self, name, head):
        return [line for line in self.history(name) if line.startswith(head)]

    def last_line(self, name, head):
        """The newest entry that starts with head; "" when there is none."""
        return next(iter(self.lines(name, head)), "")

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

    def close_boxes(self, name):
        """Presses OK in every pop-up of the station, those waiting behind
        the cap of open boxes included."""
        self.checked_peek(name, "close-boxes", self.pid(name), timeout=120)

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

    def arrived(self, name, since=0):
        """The blocks that crossed the wire to station name: sent to its
        address, or to its workgroup by broadcast."""
        return [d["payload"] for d in self.tap.datagrams(since)
                if d.get("payload") is not None and (d["ip_dst"] == self.ip(name) or (
                    d["ip_dst"].endswith(".255") and bnode.show(d["dest"]) == "WORKGROUP<03>"))]

    def receipts_from(self, receiver, sender, since=0):
        return [block for block in self.arrived(receiver, since)
                if block.startswith(sender.encode() + b"\0") and RECEIPT_MARK in block]

    def node_sends(self, name, text, ip=None):
        """The B-node sends station name a message, as a station would, to
        the station's address or to ip."""
        block = (NODE.encode() + b"\0" + name.encode() + b"\0" + text.encode() + b"\r\n\t"
                 + NODE_ID + b"\0\0\0\0")
        self.node.send_message(NODE, name, ip or self.ip(name), block.ljust(BLOCK, b"\0"))

    def node_message_answered(self, name, text, where):
        """The B-node sends station name text; waits until the station shows
        it (where: "history" or "boxes") and its receipt reaches the node."""
        mark = len(self.node.inbox)
        self.node_sends(name, text)
        self.wait(name, where, f"<<{text}" if where == "history" else f"\r\n{text}\r\n")
        own = f"{name}@{name.upper()}-PC\0".encode()
        if not self.node.wait_for(lambda: [d for d in self.node.inbox[mark:] if d["payload"].startswith(own)], 20):
            raise AssertionError(f"no receipt from {name} for {text!r}")

    def barrier(self, name):
        """Returns once the station has read everything that reached it before:
        a message from the B-node shows up in its history."""
        self.serial += 1
        text = f"barrier {self.serial}"
        self.node_sends(name, text)
        self.wait(name, "history", f"<<{text}")
        return text

    def last_receipt_from_node(self, name):
        """Makes the B-node the last station that name logged a receipt from,
        so that the next receipt from any station adds a line."""
        self.serial += 1
        self.type(name, NODE, f"reset {self.serial}")
        self.wait(name, "history", "Delivered to: lantest@LANTEST")
        wait_for(f"{name}'s receipt line from lantest",
                 lambda: self.last_line(name, "~ ").endswith("Delivered to: lantest@LANTEST"))

    def watch_title(self, name, title, timeout_ms=30000):
        """Watches the window title from now on, until it reads title; a
        function that waits for the end and gives (exit status, titles seen)."""
        watcher = subprocess.Popen(self.lanpeek(name, "watch-title", self.pid(name), title, timeout_ms),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        first = watcher.stdout.readline()  # it prints the title it starts from at once

        def finish():
            rest, _ = watcher.communicate(timeout=timeout_ms / 1000 + 30)
            return watcher.returncode, (first + rest).decode("latin-1").splitlines()
        return finish


def new_entries(before, after):
    """History entries added between two readings (both newest first). The
    pane's start-up text, the help of the command line, gives way to the
    first entry."""
    if before and before[0].startswith("Command line parameters:"):
        return after
    return after[:len(after) - len(before)]


class CrossStation(unittest.TestCase):
    """One message's road, the repeat and receipt rules, /S, WORKGROUP,
    unknown names and throughput between real stations over UDP."""

    STATIONS = ["alice", "bob", "carol", "dave@2"]

    @classmethod
    def setUpClass(cls):
        cls.lan = Lan(cls.STATIONS)

    def setUp(self):
        if CrossStation.lan is None:  # test_18 took it down
            CrossStation.lan = Lan(self.STATIONS)

    @classmethod
    def tearDownClass(cls):
        if cls.lan:
            cls.lan.close()
        lan("down", check=False)

    def test_01_every_name_of_a_station_resolves_and_no_other(self):
        self.assertEqual(self.lan.checked_peek("alice", "names"), "computer ALICE-PC\nuser alice\n")
        cases = {
            "bob": "ok", "Bob": "ok", "BOB-PC": "ok", "bob-pc": "ok", "carol": "ok",
            "CAROL-PC": "ok", "alice": "ok", "WORKGROUP": "ok", "workgroup": "ok",
            "lantest": "ok", "nobody": "error 3", "bob-pc2": "error 3", "*": "error 123",
        }
        out = self.lan.checked_peek("alice", "probe", *cases)
        self.assertEqual(out, "".join(f"{name} {result}\n" for name, result in cases.items()))

    def test_02_road_of_one_message(self):
        self.lan.last_receipt_from_node("alice")
        self.lan.serial += 1
        text = f"hello bob {self.lan.serial}"
        alice_before, bob_before = self.lan.history("alice"), self.lan.history("bob")
        boxes_before = len(self.lan.boxes("bob"))
        titles = self.lan.watch_title("alice", "Delivered to: bob@BOB-PC")
        self.lan.type("alice", "bob", text)
        sent = [l for l in new_entries(alice_before, self.lan.history("alice")) if l.startswith("> ")]
        self.assertEqual(len(sent), 1)
        self.assertRegex(sent[0], "^> " + STAMP
                         + re.escape(f"alice\x02bob\x02{text}\x02\x02\x02alice@ALICE-PC\x02\x02\x02\x02") + "$")

        self.lan.wait("bob", "boxes", f"\r\n{text}\r\n")
        self.lan.wait("bob", "history", f"<<{text}")
        boxes = self.lan.boxes("bob")
        self.assertEqual(len(boxes), boxes_before + 1)
        box = [b for b in boxes if f"\r\n{text}\r\n" in b[1]]  # the list is in no set order
        self.assertEqual(len(box), 1)
        self.assertTrue(box[0][0].startswith("Message - "), box[0][0])
        self.assertEqual(box[0][1], f"From:\talice\r\nTo:\tbob\r\n\r\n{text}\r\n\talice@ALICE-PC")
        received = new_entries(bob_before, self.lan.history("bob"))
        self.assertEqual(len(received), 1)
        self.assertRegex(received[0], "^< " + STAMP
                         + re.escape(f"From:alice, To:bob <<{text}\x03\x03\x03alice@ALICE-PC>>") + "$")

        status, seen = titles()
        self.assertEqual(status, 0, seen)
        self.assertEqual(seen[-1], "Delivered to: bob@BOB-PC")
        wait_for("alice's receipt line", lambda: self.lan.last_line("alice", "~ ").endswith("bob@BOB-PC"))
        self.assertRegex(self.lan.last_line("alice", "~ "), r"^~ \S.* Delivered to: bob@BOB-PC$")
        # The tool prints the same pane, one entry a line.
        self.assertEqual(lan("history", "alice"), "\n".join(self.lan.history("alice")) + "\n")
        # And a picture of the whole display, a PNG of its 1024 x 768 pixels,
        # or of a part of it.
        for part, size in ((), (1024, 768)), (("824x464+0+0",), (824, 464)):
            shot = STATE / "road.png"
            lan("shot", shot, *part)
            head = shot.read_bytes()[:24]
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", head[16:24]), size)

    def test_03_a_second_different_message_adds_no_receipt_line(self):
        self.lan.type("alice", "bob", "first of two")
        wait_for("bob's receipt line at alice",
                 lambda: self.lan.last_line("alice", "~ ").endswith("bob@BOB-PC"))
        lines_before = len(self.lan.lines("alice", "~ "))
        mark = self.lan.tap.mark()
        self.lan.type("alice", "bob", "second of two")
        self.lan.wait("bob", "history", "<<second of two")
        wait_for("bob's second receipt on the wire",
                 lambda: self.lan.receipts_from("alice", "bob@BOB-PC", mark))
        self.lan.barrier("alice")
        # The second receipt carries the same bytes as the first: a repeat.
        self.assertEqual(len(self.lan.lines("alice", "~ ")), lines_before)

    def test_04_the_same_text_twice_gives_one_popup_and_one_receipt(self):
        self.lan.serial += 1
        text = f"twice {self.lan.serial}"
        boxes_before = len(self.lan.boxes("bob"))
        mark = self.lan.tap.mark()
        self.lan.type("alice", "bob", text, text)
        self.assertEqual(len([l for l in self.lan.lines("alice", "> ") if f"\x02{text}\x02" in l]), 2)
        wait_for("both blocks reach bob",
                 lambda: sum(f"\0{text}\r\n".encode() in b for b in self.lan.arrived("bob", mark)) == 2)
        barrier = self.lan.barrier("bob")
        self.assertEqual(len([l for l in self.lan.history("bob") if f"<<{text}" in l]), 1)
        # A pop-up opens on a thread of its own: give the barrier's time to show.
        self.lan.wait("bob", "boxes", barrier)
        time.sleep(1)
        boxes = self.lan.boxes("bob")
        self.assertEqual(len(boxes), boxes_before + 2)
        self.assertEqual(len([b for b in boxes if f"\r\n\r\n{text}\r\n" in b[1]]), 1)
        self.lan.barrier("alice")
        self.assertEqual(len(self.lan.receipts_from("alice", "bob@BOB-PC", mark)), 1)

    def test_05_send_switch_from_carol_while_bob_and_carols_copy_run(self):
        self.lan.last_receipt_from_node("carol")
        carol_before = self.lan.history("carol")
        self.assertEqual(lan("send", "carol", "bob", "line one", "line two"), "")
        self.lan.wait("bob", "boxes", "From:\tcarol")
        box = [b for b in self.lan.boxes("bob") if b[1].startswith("From:\tcarol")]
        self.assertEqual(len(box), 1)
        self.assertEqual(box[0][1],
                         "From:\tcarol\r\nTo:\tbob\r\n\r\nline one\r\nline two\r\n\tcarol@CAROL-PC")
        self.assertTrue(any(re.match("^< " + STAMP + re.escape(
            "From:carol, To:bob <<line one\x03\x03line two\x03\x03\x03carol@CAROL-PC>>") + "$", l)
            for l in self.lan.history("bob")))
        # The receipt goes to carol's user name: her running copy logs it,
        # and nothing of the /S copy's send.
        wait_for("carol's receipt line", lambda: len(self.lan.history("carol")) > len(carol_before))
        added = new_entries(carol_before, self.lan.history("carol"))
        self.assertEqual(len(added), 1, added)
        self.assertRegex(added[0], r"^~ \S.* Delivered to: bob@BOB-PC$")

    def test_06_workgroup_reaches_every_station_and_each_answer_is_logged(self):
        self.lan.last_receipt_from_node("bob")
        receipts_before = len(self.lan.lines("bob", "~ "))
        self.lan.serial += 1
        text = f"hello all {self.lan.serial}"
        self.lan.type("bob", "WORKGROUP", text)
        popup = f"From:\tbob\r\nTo:\tWORKGROUP\r\n\r\n{text}\r\n\tbob@BOB-PC"
        for name in ("alice", "bob", "carol"):
            self.lan.wait(name, "boxes", popup)
            self.assertEqual(len([b for b in self.lan.boxes(name) if b[1] == popup]), 1)
            self.assertEqual(len([l for l in self.lan.history(name)
                                  if f"From:bob, To:WORKGROUP <<{text}" in l]), 1)
        wait_for("three receipt lines at bob",
                 lambda: len(self.lan.lines("bob", "~ ")) - receipts_before >= 3, timeout=40)
        self.lan.barrier("bob")
        added = self.lan.lines("bob", "~ ")[:len(self.lan.lines("bob", "~ ")) - receipts_before]
        answered = sorted(l.rsplit(" Delivered to: ", 1)[1] for l in added)
        # A group's datagram goes to the own subnet's broadcast: not past the router to dave.
        self.assertEqual(answered, ["alice@ALICE-PC", "bob@BOB-PC", "carol@CAROL-PC"])
        self.assertFalse([line for line in self.lan.history("dave") if text in line])

    def test_07_an_unknown_name_is_asked_for_and_nothing_is_sent(self):
        before = self.lan.history("alice")
        mark = self.lan.tap.mark()
        self.lan.type("alice", "nobody", "anyone there?")
        sent = new_entries(before, self.lan.history("alice"))
        self.assertTrue(sent and sent[0].startswith("> ") and "\x02nobody\x02anyone there?" in sent[0])
        r = subprocess.run([sys.executable, str(LAN_TOOL), "send", "carol", "nobody2", "hi"],
                           capture_output=True, text=True, timeout=120)
        # /S's failure comes through, with the name that could not be reached.
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("nobody2 could not be reached from carol", r.stderr)

        def asked():
            return {bnode.parse_ns(data)["name"] for src, dst, port, data in self.lan.tap.seen[mark:]
                    if port == bnode.NS_PORT and src == self.lan.ip("alice") and dst.endswith(".255")}
        wait_for("alice's broadcast queries for NOBODY<03> and NOBODY<00>",
                 lambda: {bnode.netbios("NOBODY", 0x03), bnode.netbios("NOBODY", 0x00)} <= asked())
        self.assertFalse([d for d in self.lan.tap.datagrams(mark) if d.get("payload")
                          and b"anyone there?" in d["payload"]])
        self.assertEqual(new_entries(before, self.lan.history("alice")), sent)

    def test_08_throughput_100_messages_from_alice_to_bob(self):
        count = 100
        self.addCleanup(self.lan.close_boxes, "bob")  # a pile at the cap would hold later pop-ups back
        self.lan.last_receipt_from_node("alice")
        self.lan.serial += 1
        run = self.lan.serial
        texts = [f"throughput {run} {i:03}" for i in range(1, count + 1)]
        receipt_lines_before = len(self.lan.lines("alice", "~ "))
        mark = self.lan.tap.mark()

        start = time.monotonic()
        self.lan.paste("alice", "bob", *texts)
        sent_at = time.monotonic() - start

        head = f"<<throughput {run} "
        self.lan.wait("bob", "history", head, count, timeout=120)
        logged_at = time.monotonic() - start
        logged = [l.split("<<", 1)[1][:len(texts[0])] for l in self.lan.history("bob") if head in l]
        self.assertEqual(logged, texts[::-1], "all, in order, newest first")

        wait_for("every receipt on the wire to alice",
                 lambda: len(self.lan.receipts_from("alice", "bob@BOB-PC", mark)) == count,
                 timeout=120, step=0.25)
        self.lan.barrier("alice")
        handled_at = time.monotonic() - start
        # bob answers each with the same bytes: one line, then repeats.
        self.assertEqual(len(self.lan.lines("alice", "~ ")) - receipt_lines_before, 1)
        print(f"\nthroughput: {count} messages alice -> bob over UDP: sent in {sent_at:.1f} s "
              f"({count / sent_at:.0f}/s), all logged at bob after {logged_at:.1f} s, "
              f"all {count} receipts handled at alice after {handled_at:.1f} s",
              file=sys.stderr, flush=True)


    def test_09_the_node_messages_a_station_by_name_and_gets_its_receipt(self):
        self.lan.serial += 1
        text = f"from the node {self.lan.serial}"
        found = self.lan.node.query("carol")
        self.assertEqual(found, (self.lan.ip("carol"), False))
        mark = len(self.lan.node.inbox)
        self.lan.node_sends("carol", text, found[0])
        self.lan.wait("carol", "boxes", f"From:\tlantest\r\nTo:\tcarol\r\n\r\n{text}\r\n\t{NODE_ID.decode()}")
        receipt = self.lan.node.wait_for(
            lambda: [d for d in self.lan.node.inbox[mark:] if RECEIPT_MARK in d["payload"]], 20)
        self.assertTrue(receipt, "no receipt at the node")
        self.assertEqual(bnode.show(receipt[0]["dest"]), "LANTEST<03>")
        self.assertEqual(receipt[0]["type"], bnode.DIRECT_UNIQUE)
        self.assertEqual(receipt[0]["src_ip"], self.lan.ip("carol"))
        self.assertTrue(receipt[0]["payload"].startswith(b"carol@CAROL-PC\0"), receipt[0]["payload"])

    def test_10_a_station_messages_the_node_by_name_and_logs_its_receipt(self):
        self.lan.serial += 1
        text = f"to the node {self.lan.serial}"
        mark = len(self.lan.node.inbox)
        self.lan.type("bob", NODE.upper(), text)
        got = self.lan.node.wait_for(
            lambda: [d for d in self.lan.node.inbox[mark:] if f"\0{text}\r\n".encode() in d["payload"]], 20)
        self.assertTrue(got, "the message did not reach the node")
        self.assertEqual(len(got), 1)
        self.assertEqual(got[0]["payload"],
                         f"bob\0{NODE.upper()}\0{text}\r\n\tbob@BOB-PC\0\0\0\0".encode().ljust(BLOCK, b"\0"))
        self.assertEqual(bnode.show(got[0]["source"]), "BOB<03>")
        self.assertEqual(got[0]["src_ip"], self.lan.ip("bob"))
        wait_for("the node's receipt at bob",
                 lambda: self.lan.last_line("bob", "~ ").endswith("Delivered to: lantest@LANTEST"))

    def test_11_a_flood_of_bad_packets_leaves_the_station_receiving_and_memory_flat(self):
        gateway = self.lan.gateway("alice")
        rng = random.Random(11)
        packets = list(bad_packets(rng, self.lan.ip("alice"), self.lan.node.ip, 3000))
        flood(self.lan.node, packets[:500], self.lan.ip("alice"))  # warms the allocator
        time.sleep(1)
        before = rss_kb(gateway)
        delivered_before = self.lan.gateway_count("alice", "datagrams in")
        mark = self.lan.tap.mark()
        started = time.monotonic()
        sent = flood(self.lan.node, packets, self.lan.ip("alice"), seconds=15)
        took = time.monotonic() - started
        # Past the reassembly time of the notes, so held fragments are gone.
        time.sleep(3)
        self.assertTrue(running_process(gateway))
        after = rss_kb(gateway)
        # Not one of them reached the station.
        self.assertEqual(self.lan.gateway_count("alice", "datagrams in"), delivered_before)
        # It sent nothing but name-service answers and datagram errors.
        from_alice = [(port, data) for src, dst, port, data in self.lan.tap.seen[mark:]
                      if src == self.lan.ip("alice")]
        for port, data in from_alice:
            if port == bnode.DGM_PORT:
                self.assertEqual(data[0], bnode.DGM_ERROR, data[:16].hex())
            else:
                self.assertTrue(data[2] & 0x80, f"not a response: {data[:16].hex()}")
        self.lan.serial += 1
        self.lan.node_message_answered("alice", f"after the flood {self.lan.serial}", "boxes")
        print(f"\nflood: {sent} bad packets in {took:.1f} s; gateway RSS {before} kB before, {after} kB after;"
              f" {len(from_alice)} answers; gateway counts: {self.lan.gateway_status('alice')}", file=sys.stderr, flush=True)
        self.assertLess(after - before, 512, "gateway memory grew")

    def test_12_a_claim_on_a_station_name_is_defended_and_a_second_holder_refused(self):
        for name in ("ALICE", "alice-pc"):
            answers = self.lan.node.claim(name)
            self.assertTrue(answers, f"no NEGATIVE REGISTRATION RESPONSE for {name}")
            for src, p in answers:
                self.assertEqual((src, p["addr"], p["flags"]), (self.lan.ip("alice"),) * 2 + (0xAD86,))
        # Still alice's: a query finds her.
        self.assertEqual(self.lan.node.query("alice"), (self.lan.ip("alice"), False))
        # A second gateway that wants the name does not start.
        host = self.lan.net.add_host("dup", number=251)
        self.addCleanup(netns.remove_namespaces, [host.ns])
        with tempfile.TemporaryDirectory(prefix="tdt-dup-") as prefix:
            (Path(prefix) / "dosdevices").mkdir()
            ACCOUNT.hand_over(prefix)
            r = self.lan.net.run("dup", [self.lan.state["exe"]["gateway"], "--user", "alice",
                                         "--computer", "DUP-PC", "--workgroup", "WORKGROUP",
                                         "--prefix", prefix, "--run-as", ACCOUNT.name],
                                 timeout=30, text=True)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stdout, "")
            self.assertEqual(r.stderr, f"tindrel-gateway: the name ALICE<03> is held by {self.lan.ip('alice')}\n")
            self.assertNotIn(prefix, Path("/proc/self/mounts").read_text())
        self.assertEqual(self.lan.node.query("alice"), (self.lan.ip("alice"), False))

    def test_13_a_capture_decodes_as_mailslot_writes_and_name_queries(self):
        pcap = STATE / "capture.pcap"
        self.assertIn("capturing into", lan("capture", pcap))
        self.addCleanup(lan, "capture", "stop", check=False)
        mark = self.lan.tap.mark()
        self.lan.serial += 1
        text = f"captured {self.lan.serial}"
        self.lan.type("carol", "alice", text)
        self.lan.wait("alice", "history", f"<<{text}")
        self.lan.type("carol", "ghost", text)
        wait_for("carol's receipt from alice",
                 lambda: self.lan.receipts_from("carol", "alice@ALICE-PC", mark))
        self.assertIn("capture saved", lan("capture", "stop"))
        writes = netns.tshark(pcap, 'nbdgm.type==0x10 && mailslot.name=="\\\\MAILSLOT\\\\MESSNGR"',
                        "nbdgm.source_name", "nbdgm.destination_name", "nbdgm.dgram_len",
                        "smb.data_offset", "smb.dc", "data.data")
        message = f"carol\0alice\0{text}".encode().hex()
        self.assertTrue([w for w in writes if w.startswith("CAROL<03>\tALICE<03>\t576\t88\t420\t" + message)],
                        writes)
        self.assertTrue([w for w in writes if w.startswith("ALICE<03>\tCAROL<03>\t576\t88\t420\t"
                                                           + b"alice@ALICE-PC\0".hex())], writes)
        queries = netns.tshark(pcap, "nbns.flags.response==0 && nbns.flags.opcode==0", "nbns.name")
        self.assertIn("GHOST<03>", queries)
        self.assertIn("GHOST<00>", queries)

    def test_14_a_killed_gateway_is_started_again_and_its_station_keeps_its_history(self):
        self.lan.barrier("bob")
        history = self.lan.history("bob")
        killed = self.lan.gateway("bob")
        os.kill(killed, signal.SIGKILL)
        started = time.monotonic()
        wait_for("bob's name answered by a new gateway",
                 lambda: self.lan.gateway("bob") not in (None, killed) and self.lan.node.query("bob"),
                 timeout=15)
        back = time.monotonic() - started
        # Both ways: a message in, with its receipt out; a message out, with the node's receipt in.
        self.lan.serial += 1
        self.lan.node_message_answered("bob", f"after the kill {self.lan.serial}", "history")
        self.lan.last_receipt_from_node("bob")
        # The same window, with what it had before the kill.
        now = self.lan.history("bob")
        self.assertEqual(now[len(now) - len(history):], history)
        log = (STATE / "log/bob.gateway.log").read_text()
        self.assertIn("the gateway was ended by signal 9; starting it again", log)
        self.assertLess(back, 10, "bob was unreachable for too long")
        print(f"\nkilled gateway: bob's name answered again after {back:.1f} s", file=sys.stderr, flush=True)

    def test_15_stations_run_as_the_account_and_gateways_keep_no_privilege(self):
        watches = {st["watch"] for st in self.lan.state["stations"]}
        mark = f"TINDREL_LAN_STATION={STATE}".encode()
        running = {entry.name: status_of(entry.name) for entry, command, env in processes()
                   if mark in env and int(entry.name) not in watches}
        # Each station: its program, its gateway, its relay, its wineserver and more.
        self.assertGreaterEqual(len(running), 3 * 4)
        account = f"{ACCOUNT.uid}\t{ACCOUNT.uid}\t{ACCOUNT.uid}\t{ACCOUNT.uid}"
        self.assertEqual({pid: st["Name"] for pid, st in running.items() if st["Uid"] != account}, {})
        names = {st["Name"] for st in running.values()}
        self.assertTrue({"tindrel-gateway", "tindrel.exe", "tindrel-relay.e", "Xvfb"} <= names, names)
        for name in self.lan.by_name:
            gateway = self.lan.gateway(name)
            self.assertEqual(status_of(gateway)["CapEff"], "0000000000000000", name)
            self.assertEqual(udp_ports(gateway), {137, 138}, name)

    def across(self, sender, to, receiver, text):
        """sender types text to the name `to`; waits for it in receiver's
        history and for receiver's receipt on the wire to sender."""
        mark = self.lan.tap.mark()
        self.lan.type(sender, to, text)
        self.lan.wait(receiver, "history", f"<<{text}")
        wait_for(f"{receiver}'s receipt to {sender} for {text!r}",
                 lambda: self.lan.receipts_from(sender, f"{receiver}@{receiver.upper()}-PC", mark), timeout=20)

    def wins_holds(self, text, suffix):
        """The addresses the LAN's WINS server gives for TEXT<suffix>, asked from alice's host."""
        r = subprocess.run(["nsenter", f"--net={netns.NETNS_DIR / self.lan.by_name['alice']['netns']}", "--",
                            "nmblookup", "-U", self.lan.state["wins"]["ip"], "--recursion", f"{text}#{suffix:02x}"],
                           capture_output=True, text=True, timeout=20)
        return [line.split()[0] for line in r.stdout.splitlines() if line.strip().endswith(f"<{suffix:02x}>")]

    def test_16_stations_on_two_subnets_reach_each_other_by_both_names_through_wins(self):
        dave = self.lan.by_name["dave"]
        self.assertFalse(dave["ip"].startswith(self.lan.state["subnet"] + "."), "dave is past the router")
        for text, suffix, name in (("ALICE", 0x03, "alice"), ("DAVE", 0x03, "dave"), ("DAVE-PC", 0x00, "dave")):
            self.assertEqual(self.wins_holds(text, suffix), [self.lan.ip(name)], f"{text}<{suffix:02x}>")
        for sender, receiver in (("alice", "dave"), ("dave", "alice")):
            for to in (receiver, receiver.upper() + "-PC"):
                self.lan.serial += 1
                self.across(sender, to, receiver, f"across {self.lan.serial}")
        wins_ip = self.lan.state["wins"]["ip"]
        self.assertIn(f"dave: user dave on DAVE-PC at {dave['ip']}, up\n", self.lan.said)
        self.assertIn(f"WINS server (Samba's nmbd) at {wins_ip}\n", self.lan.said)
        status = subprocess.run([self.lan.state["exe"]["gateway"], "status", "--prefix", dave["prefix"]],
                                capture_output=True, text=True, timeout=30).stdout
        self.assertRegex(status, rf"DAVE<03> unique held, WINS {re.escape(wins_ip)}, refresh in \d+ s")

    def test_17_a_stopped_wins_server_leaves_the_own_subnet_and_gets_the_names_back(self):
        self.addCleanup(lambda: lan("wins", "start", check=False))
        self.assertIn("stopped", lan("wins", "stop"))
        self.lan.serial += 1
        self.across("carol", "alice", "alice", f"local {self.lan.serial}")
        # carol has never asked for dave: nothing of it is cached.
        started = time.monotonic()
        r = subprocess.run([sys.executable, str(LAN_TOOL), "send", "carol", "dave", "past the router"],
                           capture_output=True, text=True, timeout=120)
        seconds = time.monotonic() - started
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertLess(seconds, 12, "a name past the subnet fails within a bounded time")
        silent = [line for line in (STATE / "log/carol.gateway.log").read_text().splitlines()
                  if line == f"tindrel-gateway: the WINS server {self.lan.state['wins']['ip']} does not answer; "
                             "names are registered and resolved by broadcast until it does"]
        self.assertEqual(len(silent), 1, "said once")
        # dave finds the server silent too; a gateway that has not offers its
        # names again only at its next refresh, hours away.
        lan("send", "dave", "nobody", "anyone?", check=False)
        self.assertIn("started", lan("wins", "start"))
        for name in ("CAROL", "DAVE"):
            wait_for(f"{name}<03> at the restarted server", lambda: self.wins_holds(name, 0x03), timeout=25)
        self.lan.serial += 1
        self.across("carol", "dave", "dave", f"back {self.lan.serial}")
        print(f"\nWINS server stopped: carol's /S to dave failed after {seconds:.1f} s", file=sys.stderr, flush=True)

    def test_18_up_refuses_clashes_and_down_leaves_nothing(self):
        for names in (["dave"], ["bob", "BOB"], ["workgroup"], ["eve", "eve-pc"], ["a.b"], ["x:16"], ["y@3"]):
            r = subprocess.run([sys.executable, str(LAN_TOOL), "up", *names],
                               capture_output=True, text=True, timeout=60)
            self.assertEqual(r.returncode, 1, names)
            self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
        # As plain root, with no account to run the stations as.
        r = subprocess.run([sys.executable, str(LAN_TOOL), "up", "eve"], capture_output=True, text=True,
                           timeout=60, env={k: v for k, v in os.environ.items()
                                            if k not in ("TINDREL_LAN_USER", "SUDO_USER")})
        self.assertEqual((r.returncode, len(r.stderr.splitlines())), (1, 1), r.stderr)
        self.assertIn("set TINDREL_LAN_USER=NAME", r.stderr)
        up = self.lan
        running = stations_processes()
        gateways = [up.gateway(st["name"]) for st in up.state["stations"]]
        self.assertTrue(all(g in running for g in gateways))
        # Each station: its program, its relay, its wineserver and more.
        self.assertGreaterEqual(len(running), 3 * 3)
        xvfb = up.state["xvfb"]
        self.assertTrue(xvfb and all(running_process(pid) for pid in xvfb))  # the private display
        nmbd = json.loads((STATE / "state.json").read_text())["wins"]["pid"]  # test_17 restarts it
        self.assertTrue(running_process(nmbd))
        self.assertEqual(status_of(nmbd)["Uid"].split("\t")[0], str(ACCOUNT.uid))
        self.assertTrue(netns.namespaces(up.state["netns"]))
        up.close()
        CrossStation.lan = None  # the next test, if any, brings the LAN up again
        said = lan("down")
        self.assertIn("nothing left running", said)
        self.assertIn(f"WINS server at {up.state['wins']['ip']} held none of the stations' names at the end", said)
        self.assertEqual(stations_processes(), [])
        self.assertFalse([pid for pid in xvfb + [nmbd] if running_process(pid)])
        self.assertEqual(netns.namespaces(up.state["netns"]), [])
        self.assertNotIn(str(STATE), Path("/proc/self/mounts").read_text())


def bad_packets(rng, target, own, count):
    """(port, bytes): random bytes, truncated packets and forged ones of
    every kind a B-node must drop or only answer, none a valid message."""
    alice = bnode.netbios("ALICE")
    good = bnode.datagram(bnode.DIRECT_UNIQUE, 1, own, bnode.netbios("X"), alice,
                          bnode.mailslot_write(b"x" * BLOCK))
    query = bnode.ns_question(7, bnode.QUERY, alice)

    def forged_datagram():
        d = bytearray(good)
        kind = rng.randrange(8)
        if kind == 0:
            d[10:12] = struct.pack(">H", rng.randrange(len(d), 65536))  # DGM_LENGTH past the end
        elif kind == 1:
            d[1] = 0x03  # a first fragment whose rest never comes
            d[2:4] = struct.pack(">H", rng.randrange(65536))
        elif kind == 2:
            d[82 + 57:82 + 59] = struct.pack("<H", rng.randrange(500, 65536))  # DataOffset outside
        elif kind == 3:
            d[82 + 4] = 0x72  # another SMB command
        elif kind == 4:
            d[82 + 69:82 + 86] = b"\\MAILSLOT\\BROWSE\0"
        elif kind == 5:
            d[48 + rng.randrange(1, 33)] = rng.choice(b"Zz0!")  # a name byte outside A-P
        elif kind == 6:
            d[0] = rng.choice([0x13, 0x14, 0x15, 0x16, 0x17, 0xFF])
        else:
            d[82 + 32] = rng.choice([0, 1, 16, 18, 255])  # word count
        return bytes(d)

    def forged_ns():
        kind = rng.randrange(6)
        if kind == 0:  # a name that points at itself
            return struct.pack(">6H", 9, 0x0110, 1, 0, 0, 0) + b"\xC0\x0C" + struct.pack(">2H", 32, 1)
        if kind == 1:  # counts far past the packet
            return struct.pack(">6H", 9, 0x0110, 65535, 65535, 65535, 65535) + query[12:]
        if kind == 2:  # an answer nobody asked for
            return bnode.ns_answer(rng.randrange(65536), bnode.POSITIVE, bnode.netbios("BOB"),
                                   300, 0, "10.77.99.99")
        if kind == 3:  # a release of alice's name by a stranger
            return bnode.ns_with_record(3, bnode.RELEASE, alice, 0, 0, "10.77.99.99")
        if kind == 4:  # registrations of other names
            return bnode.ns_with_record(4, bnode.REGISTRATION, bnode.netbios(f"N{rng.randrange(9999)}"),
                                        0, 0, own)
        return query[:rng.randrange(12, len(query))] + bytes(rng.randrange(8))

    makers = [
        lambda: (rng.choice((137, 138)), rng.randbytes(rng.randrange(0, 700))),
        lambda: (138, good[:rng.randrange(len(good))]),
        lambda: (137, query[:rng.randrange(len(query))]),
        lambda: (138, forged_datagram()),
        lambda: (137, forged_ns()),
    ]
    for _ in range(count):
        yield rng.choice(makers)()


def flood(node, packets, target, seconds=10):
    """Sends until the packets or the seconds run out; how many went."""
    deadline = time.monotonic() + seconds
    sent = 0
    for port, data in packets:
        if time.monotonic() > deadline:
            break
        node.send_raw(port, data, target)
        sent += 1
        if sent % 25 == 0:
            time.sleep(0.005)  # keeps the receiver's socket buffer from overflowing
    return sent


if __name__ == "__main__":
    unittest.main(verbosity=2)
