"""The namespace LAN and the test B-node, checked against each other, against
the example datagram of the protocol notes, and against tshark's decoders.
Runs as root in a few seconds: tests/netns/run.sh or python3 this file."""
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools/lanlib"))
import bnode  # noqa: E402
import netns  # noqa: E402

PREFIX, SUBNET = netns.run_prefix("tdt-")


class Wire(unittest.TestCase):
    """Byte layouts straight from the notes' worked examples."""

    def test_alice_03_encodes_as_in_the_notes(self):
        wire = bnode.encode_name(bnode.netbios("alice"))
        self.assertEqual(wire, b"\x20EBEMEJEDEF" + b"CA" * 10 + b"AD\x00")
        self.assertEqual(bnode.decode_name(wire, 0), (b"ALICE" + b" " * 10 + b"\x03", 34))
        self.assertEqual(bnode.encode_name(bnode.STAR)[1:33], b"CKAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA")

    def test_420_byte_block_datagram_matches_the_notes_dump(self):
        payload = bytes(range(256)) + bytes(164)
        packet = bnode.datagram(bnode.DIRECT_UNIQUE, 0x1234, "10.0.0.2", bnode.netbios("ALICE"),
                                bnode.netbios("BOB"), bnode.mailslot_write(payload))
        self.assertEqual(len(packet), 590)
        self.assertEqual(packet[:14].hex(" "), "10 02 12 34 0a 00 00 02 00 8a 02 40 00 00")
        smb = packet[82:]
        self.assertEqual(smb[32:48].hex(" "), "11 00 00 a4 01 00 00 00 00 00 00 00 00 00 00 00")
        self.assertEqual(smb[48:64].hex(" "), "00 00 00 00 00 58 00 a4 01 58 00 03 00 01 00 00")
        self.assertEqual(smb[64:88], bytes.fromhex("000200b701") + b"\\MAILSLOT\\MESSNGR\0\0")
        self.assertEqual(bnode.parse_datagram(packet)["payload"], payload)

    def test_parser_refuses_what_a_node_must_drop(self):
        good = bnode.datagram(bnode.DIRECT_UNIQUE, 1, "10.0.0.2", bnode.netbios("A"),
                              bnode.netbios("B"), bnode.mailslot_write(b"x" * 10))
        for bad in (good[:13], good[:40], good[:-1], good[:14] + b"\x21" + good[15:]):
            with self.assertRaises(ValueError):
                bnode.parse_datagram(bad)
        other_slot = bnode.datagram(bnode.DIRECT_UNIQUE, 1, "10.0.0.2", bnode.netbios("A"),
                                    bnode.netbios("B"), bnode.mailslot_write(b"x", b"\\MAILSLOT\\BROWSE"))
        self.assertIsNone(bnode.parse_datagram(other_slot)["payload"])


class TwoNodes(unittest.TestCase):
    """Two B-nodes on hosts of one namespace LAN, and what tshark sees."""

    def test_register_defend_query_message_and_capture(self):
        pcap = Path(tempfile.mkdtemp(prefix="tdt-pcap-")) / "two.pcap"
        with netns.lan(PREFIX, SUBNET, ["one", "two"]) as net:
            capture = net.popen("switch", ["dumpcap", "-q", "-i", netns.BRIDGE, "-w", pcap],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1.5)  # dumpcap opens the interface
            one, two = bnode.BNode.in_host(net, "one"), bnode.BNode.in_host(net, "two")
            try:
                one.register("ONE")
                with self.assertRaises(bnode.Refused) as refused:
                    two.register("one")
                self.assertEqual(refused.exception.owner, net.hosts["one"].ip)
                one.register("CREW", 0x00, group=True)
                two.register("CREW", 0x00, group=True)  # a group claim is not defended
                two.register("TWO")
                self.assertEqual(two.query("one"), (net.hosts["one"].ip, False))
                self.assertEqual(two.query("crew", 0x00)[1], True)
                self.assertIsNone(two.query("nobody"))

                block = b"two\0one\0hi\r\n\ttwo@TWO\0\0\0\0".ljust(420, b"\0")
                two.send_message("TWO", "ONE", net.hosts["one"].ip, block)
                self.assertTrue(one.wait_for(lambda: one.inbox, 5))
                self.assertEqual(one.inbox[0]["payload"], block)
                self.assertEqual(bnode.show(one.inbox[0]["source"]), "TWO<03>")
                # A name it does not hold is not delivered.
                two.send_message("TWO", "ELSE", net.hosts["one"].ip, block)
                one.wait_for(lambda: len(one.datagrams) > 1, 5)
                self.assertEqual(len(one.inbox), 1)
            finally:
                one.close()
                two.close()
            time.sleep(0.5)
            capture.send_signal(signal.SIGINT)
            capture.wait(timeout=10)
        self.assertEqual(netns.namespaces(PREFIX), [])
        fields = netns.tshark(pcap, "nbdgm && mailslot", "nbdgm.source_name", "nbdgm.destination_name",
                        "mailslot.name", "smb.data_offset", "smb.dc")
        self.assertIn("TWO<03>\tONE<03>\t\\MAILSLOT\\MESSNGR\t88\t420", fields)
        queries = netns.tshark(pcap, "nbns.flags.opcode==0 && nbns.flags.response==0", "nbns.name")
        self.assertIn("ONE<03>", queries)
        negative = netns.tshark(pcap, "nbns.flags.rcode==6", "nbns.name", "nbns.addr")
        self.assertTrue(negative and negative[0].startswith("ONE<03>"), negative)
        shutil.rmtree(pcap.parent)


class Cleanup(unittest.TestCase):
    def test_a_failing_block_and_a_killed_run_leave_nothing(self):
        with self.assertRaises(RuntimeError):
            with netns.lan(PREFIX, SUBNET, ["a"]) as net:
                sleeper = net.popen("a", ["sleep", "60"])
                raise RuntimeError("a failing test")
        self.assertEqual(netns.namespaces(PREFIX), [])
        self.assertIsNotNone(sleeper.poll())  # ended with its namespace
        # A run killed outright: the next run's sweep removes what it left.
        code = ("import sys; sys.path.insert(0, %r); import netns, os, signal\n"
                "with netns.lan(netns.run_prefix('tdt-')[0], '10.77.251', ['x']):\n"
                "    print(os.getpid(), flush=True); os.kill(os.getpid(), signal.SIGKILL)\n"
                % str(Path(__file__).resolve().parents[2] / "tools/lanlib"))
        child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                               timeout=30)
        dead = f"tdt-{child.stdout.strip()}-"
        self.assertEqual(len(netns.namespaces(dead)), 2)
        netns.sweep_dead_runs("tdt-")
        self.assertEqual(netns.namespaces(dead), [])
        # And SIGTERM unwinds the block.
        term = subprocess.Popen([sys.executable, "-c", code.replace("SIGKILL", "SIGTERM")],
                                stdout=subprocess.PIPE, text=True)
        pid = term.stdout.readline().strip()
        term.wait(timeout=30)
        term.stdout.close()
        self.assertEqual(netns.namespaces(f"tdt-{pid}-"), [])


if __name__ == "__main__":
    netns.sweep_dead_runs("tdt-")
    unittest.main(verbosity=2)
