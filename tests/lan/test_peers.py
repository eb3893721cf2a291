"""tindrel-gateway among real NetBIOS peers, without Wine: Samba's nmblookup
and nbtscan read its names by node status; the tests' B-node claims its
COMPUTER<00>; Samba's nmbd is its WINS server on a second subnet behind a
router. Each gateway runs in a host namespace with a throw-away prefix (a
dosdevices folder, no relay). Run by tests/lan/run.sh before the station
suites, as root; about half a minute.
"""
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests/netns"))
sys.path.insert(0, str(ROOT / "tools/lanlib"))
import bnode  # noqa: E402
import netns  # noqa: E402
import wins  # noqa: E402

BUILD = Path(os.environ.get("TINDREL_BUILD", ROOT / "build"))
GATEWAY = BUILD / "gateway/gateway/tindrel-gateway"
RUN_AS = pwd.getpwnam("nobody")
# Stats each path it reads, as Wine's open does, and prints "found seconds".
PROBE = ("import os, sys, time\n"
         "for line in sys.stdin:\n"
         "    start = time.monotonic()\n"
         "    found = os.path.exists(line.rstrip('\\n'))\n"
         "    print(int(found), time.monotonic() - start, flush=True)\n")
_pid = os.getpid()
PREFIX_A, SUBNET_A = f"tdt-{_pid}-a", f"10.77.{_pid % 250 + 1}"
PREFIX_B, SUBNET_B = f"tdt-{_pid}-b", f"10.77.{(_pid + 100) % 250 + 1}"


class Gateway:
    """One tindrel-gateway on a host of a LAN, by default with -v; ends with stop()."""

    def __init__(self, net, host, user, computer, workgroup="WORKGROUP", wins_ip=None, gateway=GATEWAY,
                 verbose=True):
        self.net, self.host = net, net.hosts[host]
        self.user, self.computer = user, computer
        # The gateway binds its ports as root, then runs as an unprivileged
        # account that owns the prefix, as on a desktop.
        self.prefix = Path(tempfile.mkdtemp(prefix="tdt-peers-"))
        (self.prefix / "dosdevices").mkdir()
        for path in (self.prefix, self.prefix / "dosdevices"):
            os.chown(path, RUN_AS.pw_uid, RUN_AS.pw_gid)
        self.log = self.prefix.parent / (self.prefix.name + ".log")
        argv = [gateway, "--user", user, "--computer", computer, "--workgroup", workgroup,
                "--prefix", self.prefix, "--interface", self.host.ifname, "--run-as", RUN_AS.pw_name]
        if verbose:
            argv.append("-v")
        if wins_ip:
            argv += ["--wins", wins_ip]
        with open(self.log, "wb") as log:
            self.process = net.popen(host, argv, stdout=subprocess.PIPE, stderr=log, text=True)
        self.ready = None
        self.prober = None

    def wait_ready(self, seconds=15):
        """The ready line; raises with the log when the gateway ended first."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if line.startswith("tindrel-gateway: ready:"):
                self.ready = line.strip()
                return self.ready
            if not line and self.process.poll() is not None:
                break
        raise AssertionError(f"gateway {self.user} not ready:\n{self.log.read_text(errors='replace')}")

    def exit_status(self, seconds=15):
        return self.process.wait(timeout=seconds)

    def status(self):
        r = subprocess.run([GATEWAY, "status", "--prefix", self.prefix], capture_output=True, text=True,
                           timeout=10)
        return r.stdout

    def lookup(self, name):
        """(found, seconds): what Wine's open of \\\\NAME\\... asks of the gateway,
        asked as the account that owns the mount (it answers no one else)."""
        if self.prober is None:
            self.prober = subprocess.Popen(["/usr/bin/python3", "-c", PROBE], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, text=True, user=RUN_AS.pw_uid,
                                           group=RUN_AS.pw_gid, extra_groups=[])
        self.prober.stdin.write(f"{self.prefix}/dosdevices/unc/{name}\n")
        self.prober.stdin.flush()
        found, seconds = self.prober.stdout.readline().split()
        return found == "1", float(seconds)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        if self.prober:
            self.prober.stdin.close()
            self.prober.wait(timeout=10)
            self.prober.stdout.close()
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.log.unlink(missing_ok=True)


def run_in(net, host, argv, timeout=20):
    return net.run(host, argv, timeout=timeout).stdout.decode(errors="replace")


class Peers(unittest.TestCase):
    """Helpers shared by the suites: gateways that are stopped whatever happens."""

    def gateway(self, *args, ready=True, **kw):
        g = Gateway(*args, **kw)
        self.addCleanup(g.stop)
        if ready:
            g.wait_ready()
        return g


class OneSubnet(Peers):
    """alice on ALICE-PC, a B-node, with Samba's tools on another host."""

    @classmethod
    def setUpClass(cls):
        cls.lan = netns.lan(PREFIX_A, SUBNET_A, ["desk", "peer"])
        cls.net = cls.lan.__enter__()
        cls.desk = cls.net.hosts["desk"].ip

    @classmethod
    def tearDownClass(cls):
        cls.lan.__exit__(None, None, None)

    def test_nmblookup_and_nbtscan_read_every_name_by_node_status(self):
        g = self.gateway(self.net, "desk", "alice", "ALICE-PC")
        self.assertEqual(g.ready, "tindrel-gateway: ready: ALICE-PC<00> WORKGROUP<00> ALICE-PC<03> ALICE<03> "
                                  f"WORKGROUP<03> on {self.desk}/24")
        out = run_in(self.net, "peer", ["nmblookup", "-A", self.desk])
        print(f"\n  nmblookup -A {self.desk}:\n" + "\n".join("    " + line for line in out.splitlines()),
              file=sys.stderr)
        names = [" ".join(line.split()) for line in out.splitlines() if re.match(r"\s+\S+\s+<[0-9a-f]{2}>", line)]
        self.assertEqual(names, [
            "ALICE-PC <00> - B <ACTIVE>",
            "WORKGROUP <00> - <GROUP> B <ACTIVE>",
            "ALICE-PC <03> - B <ACTIVE>",
            "ALICE <03> - B <ACTIVE>",
            "WORKGROUP <03> - <GROUP> B <ACTIVE>",
        ])
        # From netlink: /sys stays the machine's in a namespace entered with nsenter --net.
        mac = run_in(self.net, "desk", ["ip", "-br", "link", "show", "eth0"]).split()[2]
        self.assertIn(f"MAC Address = {mac.upper().replace(':', '-')}", out, "the unit ID is the interface's MAC")
        scan = run_in(self.net, "peer", ["nbtscan", "-q", f"{SUBNET_A}.0/24"], timeout=30)
        print(f"  nbtscan {SUBNET_A}.0/24:\n" + "\n".join("    " + line for line in scan.splitlines()),
              file=sys.stderr)
        row = [line.split() for line in scan.splitlines() if line.startswith(self.desk + " ")]
        self.assertEqual(len(row), 1, scan)
        self.assertEqual(row[0][1], "ALICE-PC")
        self.assertIn("ALICE", row[0][2:])
        # Asked for one of its names rather than `*`, it answers too; for a
        # name it does not hold it is silent.
        self.assertIn("ALICE-PC", run_in(self.net, "peer", ["nmblookup", "-S", "-U", self.desk, "ALICE-PC#00"]))

    def test_computer00_answers_is_defended_and_released(self):
        g = self.gateway(self.net, "desk", "alice", "ALICE-PC")
        node = bnode.BNode.in_host(self.net, "peer")
        self.addCleanup(node.close)
        self.assertEqual(node.query("alice-pc", 0x00), (self.desk, False))
        with self.assertRaises(bnode.Refused) as refused:
            node.register("ALICE-PC", 0x00)
        self.assertEqual(refused.exception.owner, self.desk)
        mark = len(node.ns_seen)
        g.stop()
        self.assertEqual(g.exit_status(), 0)
        released = node.wait_for(lambda: node.seen_since(mark, opcode=bnode.OP_RELEASE,
                                                         name=bnode.netbios("ALICE-PC", 0x00)), 3)
        self.assertTrue(released, "no release of ALICE-PC<00>")
        self.assertIsNone(node.query("alice-pc", 0x00))


class PastTheSubnet(Peers):
    """Subnet A: desk, desk2 and a B-node host; a router; subnet B: the WINS
    server (Samba's nmbd) and far, where bob's gateway runs."""

    @classmethod
    def setUpClass(cls):
        cls.lan_a = netns.lan(PREFIX_A, SUBNET_A, ["desk", "desk2", "peer"])
        cls.lan_b = netns.lan(PREFIX_B, SUBNET_B, ["wins", "far"])
        cls.net = cls.lan_a.__enter__()
        try:
            cls.far_net = cls.lan_b.__enter__()
            cls.net.add_router("router", cls.far_net)
            cls.workdir = Path(tempfile.mkdtemp(prefix="tdt-wins-"))
            cls.server = wins.Server(cls.far_net, "wins", cls.workdir).start()
        except BaseException:
            cls.tearDownClass()
            raise
        cls.desk = cls.net.hosts["desk"].ip

    @classmethod
    def tearDownClass(cls):
        try:
            if hasattr(cls, "server"):
                cls.server.remove()
        finally:
            cls.lan_b.__exit__(None, None, None)
            cls.lan_a.__exit__(None, None, None)

    def setUp(self):
        if not self.server.running():
            self.server.start(fresh=True)

    def group_at_server(self, text):
        sock = self.net.socket("peer", socket.AF_INET, socket.SOCK_DGRAM)
        with sock:
            sock.settimeout(2)
            sock.sendto(bnode.ns_question(0x4242, 0x0100, bnode.netbios(text, 0x00)), (self.server.ip, 137))
            answer = bnode.parse_ns(sock.recvfrom(2048)[0])
        return answer["rcode"] == 0 and answer.get("group")

    def test_the_server_holds_the_names_while_the_gateway_runs_and_none_after(self):
        g = self.gateway(self.net, "desk", "alice", "ALICE-PC", wins_ip=self.server.ip)
        for text, suffix in (("ALICE", 0x03), ("ALICE-PC", 0x03), ("ALICE-PC", 0x00)):
            self.assertEqual(self.server.names(text, suffix), [self.desk], f"{text}<{suffix:02x}>")
        # nmblookup prints no group answer (nmbd gives groups the address
        # 0.0.0.0): asked by hand.
        self.assertTrue(self.group_at_server("WORKGROUP"), "the group is registered too")
        # An H-node now, as nbtstat and nmblookup show it.
        table = run_in(self.net, "peer", ["nmblookup", "-A", self.desk])
        self.assertRegex(table, r"ALICE\s+<03> -\s+H <ACTIVE>")
        self.assertRegex(table, r"WORKGROUP\s+<00> - <GROUP> H <ACTIVE>")
        status = g.status()
        self.assertRegex(status, rf"ALICE<03> unique held, WINS {re.escape(self.server.ip)}, refresh in \d+ s")
        self.assertIn("name service malformed: 0", status)
        g.stop()
        self.assertEqual(g.exit_status(), 0)
        for text, suffix in (("ALICE", 0x03), ("ALICE-PC", 0x00)):
            self.assertEqual(self.server.names(text, suffix), [], f"{text}<{suffix:02x}> released")

    def test_a_second_gateway_wanting_a_held_name_refuses_to_start(self):
        self.gateway(self.net, "desk", "alice", "ALICE-PC", wins_ip=self.server.ip)
        # On another subnet, where no broadcast reaches alice: only the server knows.
        second = self.gateway(self.far_net, "far", "alice", "OTHER-PC", wins_ip=self.server.ip, ready=False)
        self.assertEqual(second.exit_status(30), 1)
        self.assertIn(f"tindrel-gateway: the name ALICE<03> is held by {self.desk}",
                      second.log.read_text().splitlines())

    def test_names_resolve_through_the_server_and_by_broadcast_while_it_is_down(self):
        alice = self.gateway(self.net, "desk", "alice", "ALICE-PC", wins_ip=self.server.ip)
        self.gateway(self.far_net, "far", "bob", "BOB-PC", wins_ip=self.server.ip)
        self.gateway(self.net, "desk2", "carol", "CAROL-PC", wins_ip=self.server.ip)
        self.assertEqual(alice.lookup("bob")[0], True, "a name past the subnet, through the server")
        self.server.stop()
        found, seconds = alice.lookup("carol")
        self.assertTrue(found, "a name of the own subnet, by broadcast")
        found, first = alice.lookup("bob-pc")  # never asked before: nothing cached
        self.assertFalse(found)
        self.assertLess(first, 4.5, "a name past the subnet fails within a bounded time")
        found, later = alice.lookup("nobody")
        self.assertFalse(found)
        self.assertLess(later, 2.5, "the silent server is not waited for again")
        print(f"\n  server silent: a far name failed in {first:.2f} s, the next in {later:.2f} s", file=sys.stderr)
        silent = [line for line in alice.log.read_text().splitlines() if "does not answer" in line]
        self.assertEqual(len(silent), 2, silent)  # the -v line and the plain one
        self.assertIn(f"tindrel-gateway: the WINS server {self.server.ip} does not answer; names are registered "
                      "and resolved by broadcast until it does", silent)
        # Back, having forgotten everything: the names are offered again within seconds.
        self.server.start(fresh=True)
        deadline = time.monotonic() + 15
        while not self.server.names("ALICE", 0x03) and time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertEqual(self.server.names("ALICE", 0x03), [self.desk])
        self.assertEqual(alice.lookup("bob")[0], True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
