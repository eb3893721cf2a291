"""scripts/run.sh --lan, tried where it cannot touch the machine's network:
inside a namespace whose one interface plays the machine's network, with a
test B-node on another host of the same bridge. Run by tests/lan/run.sh
after the stations' suite has built everything."""
import os
import signal
import socket
import subprocess
import sys
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests/netns"))
sys.path.insert(0, str(ROOT / "tools/lanlib"))
import bnode  # noqa: E402
import netns  # noqa: E402

RUN = ROOT / "scripts/run.sh"
PREFIX, SUBNET = netns.run_prefix("tdt-")
ENV = dict(os.environ, TINDREL_SKIP_SETUP="1", TINDREL_SKIP_BUILD="1", WINEDEBUG="-all")
ENV.pop("DISPLAY", None)


def read_until(stream, marker, seconds):
    """Lines of stream up to the one holding marker; raises when it ends or times out."""
    seen = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        line = stream.readline()
        if not line:
            break
        seen.append(line.rstrip("\n"))
        if marker in line:
            return seen
    raise AssertionError(f"no {marker!r} within {seconds} s: {seen}")


class RunLan(unittest.TestCase):
    def test_a_station_joins_the_network_answers_and_leaves_nothing(self):
        with netns.lan(PREFIX, SUBNET, ["desk", "peer"]) as net:
            station = net.popen("desk", [RUN, "--lan", "--user", "dana", "--computer", "DESK-PC"],
                                env=ENV, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True, start_new_session=True)
            node = None
            try:
                lines = read_until(station.stdout, "is running", 120)
                self.assertIn(f"run: dana on DESK-PC in WORKGROUP: DESK-PC<00> WORKGROUP<00> DESK-PC<03> "
                              f"DANA<03> WORKGROUP<03> on {net.hosts['desk'].ip}/24", lines)
                node = bnode.BNode.in_host(net, "peer")
                node.register("PEER")
                desk = net.hosts["desk"].ip
                self.assertEqual(node.query("dana"), (desk, False))
                self.assertEqual(node.query("desk-pc"), (desk, False))
                self.assertEqual(node.query("workgroup", 0x00), (desk, True))
                block = b"peer\0dana\0hello desk\r\n\tpeer@PEER\0\0\0\0"
                node.send_message("PEER", "DANA", desk, block.ljust(420, b"\0"))
                receipt = node.wait_for(lambda: [d for d in node.inbox
                                                 if d["payload"].startswith(b"dana@DESK-PC\0")], 60)
                self.assertTrue(receipt, "the station did not answer")
            finally:
                # Ctrl+C in a terminal: the whole process group gets SIGINT.
                os.killpg(station.pid, signal.SIGINT)
                station.wait(timeout=60)
                station.stdout.close()
            self.assertIsNone(node.query("dana"), "the name was not released")
            node.close()
            self.assertEqual(netns.pids_in(net.hosts["desk"].ns), [])
        build = Path(os.environ.get("TINDREL_BUILD") or ROOT / "build")
        self.assertNotIn(str(build / "run-lan"), Path("/proc/self/mounts").read_text())

    def test_ports_held_elsewhere_or_no_privileges_are_said_in_one_line(self):
        with netns.lan(PREFIX, SUBNET, ["desk"]) as net:
            for port in (137, 138):
                holder = net.socket("desk", socket.AF_INET, socket.SOCK_DGRAM)
                holder.bind(("0.0.0.0", port))  # as a Samba nmbd would
                r = net.run("desk", [RUN, "--lan"], env=ENV, timeout=120, text=True)
                holder.close()
                self.assertEqual(r.returncode, 1, r.stderr)
                last = r.stderr.splitlines()[-1]
                self.assertRegex(last, rf"^run: tindrel-gateway: UDP port {port} is in use by another "
                                       r"program \(a Samba nmbd\?\); stop it")
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            RUN, "--lan"], env=ENV, capture_output=True, text=True, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
        self.assertIn("needs root", r.stderr)
        self.assertIn("sudo scripts/run.sh --lan", r.stderr)


if __name__ == "__main__":
    netns.sweep_dead_runs("tdt-")
    unittest.main(verbosity=2)
