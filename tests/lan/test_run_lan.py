"""scripts/run.sh --lan as a desktop user runs it, tried where it cannot
touch the machine's network: inside a namespace whose one interface plays
the machine's network, with a test B-node on another host of the same
bridge. The user is the suite's account (TINDREL_LAN_USER); it runs a copy
of scripts/ and of the programs from a folder it can reach, with a copy of
the gateway given CAP_NET_BIND_SERVICE as the README's one sudo step gives
it, and a Wine template cloned from tools/lan's. Run by tests/lan/run.sh
after the stations' suite has built everything."""
import os
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
from wineloader import WINE64  # noqa: E402  (lanpeek.exe is 64-bit)
from account import Account  # noqa: E402

PREFIX, SUBNET = netns.run_prefix("tdt-")
BUILD = Path(os.environ.get("TINDREL_BUILD") or ROOT / "build")
ACCOUNT = Account(os.environ["TINDREL_LAN_USER"])
DATA = Path(ACCOUNT.home) / ".local/share/tindrel"
STATION = ["--lan", "--user", "dana", "--computer", "DESK-PC"]


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


def account_processes():
    """{pid: command line} of every process the account runs (not those
    that ended, waiting to be reaped)."""
    found = {}
    for pid in subprocess.run(["pgrep", "-u", ACCOUNT.name], capture_output=True, text=True).stdout.split():
        if netns.zombie(pid):
            continue
        try:
            found[int(pid)] = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode()
        except OSError:
            continue
    return found


class RunLan(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tree = Path(tempfile.mkdtemp(prefix="tdt-run-lan-", dir="/var/tmp"))
        cls.tree.chmod(0o755)
        shutil.copytree(ROOT / "scripts", cls.tree / "scripts")
        programs = {"tindrel.exe": BUILD / "win64/tindrel.exe", "lanpeek.exe": BUILD / "win64/tools/lanpeek.exe",
                    "tindrel-relay.exe": BUILD / "win64/gateway/relay/tindrel-relay.exe"}
        for name, built in programs.items():
            shutil.copy(built, cls.tree / name)
        for kind in ("capable", "plain"):
            (cls.tree / kind).mkdir()
            shutil.copy(BUILD / "gateway/gateway/tindrel-gateway", cls.tree / kind)
        cls.capable = cls.tree / "capable/tindrel-gateway"
        cls.plain = cls.tree / "plain/tindrel-gateway"
        subprocess.run(["setcap", "cap_net_bind_service=ep", cls.capable], check=True)
        # The template is there before the first run, as after a user's
        # first run: tools/lan's when it made one (a clone is instant).
        lan = os.environ["TINDREL_LAN_DIR"]
        template = (f'wl_clone "{lan}" template "{DATA}/template"' if Path(lan, "template/.ready").exists()
                    else f'wl_start_xvfb "{DATA}" && wl_template "{DATA}"; wl_stop "{DATA}"')
        subprocess.run(ACCOUNT.command(["bash", "-c", f'source "$1" && mkdir -p "{DATA}" && {template}',
                                        "_", cls.tree / "scripts/winelib.sh"]),
                       check=True, capture_output=True, env=ACCOUNT.env(os.environ))
        cls.env = dict(ACCOUNT.env(os.environ), TINDREL_SKIP_SETUP="1", TINDREL_SKIP_BUILD="1",
                       WINEDEBUG="-all", TINDREL_EXE=str(cls.tree / "tindrel.exe"),
                       TINDREL_RELAY=str(cls.tree / "tindrel-relay.exe"))
        cls.env.pop("DISPLAY", None)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tree, ignore_errors=True)

    def run_sh(self, net, gateway, *args, **kw):
        """scripts/run.sh ARGS as the account on host desk."""
        env = dict(self.env, TINDREL_GATEWAY=str(gateway))
        return net.popen("desk", ACCOUNT.command([self.tree / "scripts/run.sh", *args]), env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)

    def peek(self, display, *args):
        # Its output through files, not pipes: a lanpeek that starts before
        # the station's own first Wine process starts the prefix's wineserver
        # and services, which keep its descriptors open, so a pipe would
        # never see its end.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            r = subprocess.run(ACCOUNT.command([WINE64, self.tree / "lanpeek.exe", *args]), stdin=subprocess.DEVNULL,
                               stdout=out, stderr=err, timeout=90,
                               env=dict(self.env, WINEPREFIX=str(DATA / "station"), DISPLAY=display))
            out.seek(0)
            err.seek(0)
            output, said = out.read().decode(), err.read().decode(errors="replace")
        self.assertEqual(r.returncode, 0, f"lanpeek {args[0]}: {said}")
        return output

    @staticmethod
    def processes(net):
        """{command: pid} of the processes on host desk."""
        found = {}
        for pid in netns.pids_in(net.hosts["desk"].ns):
            try:
                found[Path(f"/proc/{pid}/comm").read_text().strip()] = pid
            except OSError:
                continue
        return found

    def test_a_desktop_users_station_joins_the_network_answers_and_leaves_nothing(self):
        with netns.lan(PREFIX, SUBNET, ["desk", "peer"]) as net:
            station = self.run_sh(net, self.capable, *STATION, start_new_session=True)
            node = None
            try:
                lines = read_until(station.stdout, "is running", 120)
                desk = net.hosts["desk"].ip
                self.assertIn(f"tindrel: dana on DESK-PC in WORKGROUP: DESK-PC<00> WORKGROUP<00> DESK-PC<03> "
                              f"DANA<03> WORKGROUP<03> on {desk}/24", lines)
                node = bnode.BNode.in_host(net, "peer")
                node.register("PEER")
                self.assertEqual(node.query("dana"), (desk, False))
                self.assertEqual(node.query("desk-pc"), (desk, False))
                self.assertEqual(node.query("workgroup", 0x00), (desk, True))
                display = (DATA / "owner").read_text().split()[4]
                pid = self.peek(display, "up", 0, 0, 60000).strip()

                def message_answered(text):
                    block = b"peer\0dana\0" + text.encode() + b"\r\n\tpeer@PEER\0\0\0\0"
                    mark = len(node.inbox)
                    node.send_message("PEER", "DANA", desk, block.ljust(420, b"\0"))
                    self.peek(display, "wait", pid, "boxes", f"From:\tpeer\r\nTo:\tdana\r\n\r\n{text}", 1, 20000)
                    self.assertTrue(node.wait_for(lambda: [d for d in node.inbox[mark:]
                                                           if d["payload"].startswith(b"dana@DESK-PC\0")], 30),
                                    f"the station did not answer {text!r}")

                message_answered("hello desk")
                # The gateway killed outright, as the user's: its watch starts it again.
                os.kill(self.processes(net)["tindrel-gateway"], signal.SIGKILL)
                node.wait_for(lambda: self.processes(net).get("tindrel-gateway") and node.query("dana"), 15)
                message_answered("hello again")
                self.assertIn("the gateway was ended by signal 9; starting it again",
                              (DATA / "gateway.log").read_text())
                self.assertTrue({"tindrel-gateway", "tindrel.exe", "wineserver64", "Xvfb"}
                                <= set(self.processes(net)), self.processes(net))
                mine = account_processes()
                self.assertEqual([p for p in netns.pids_in(net.hosts["desk"].ns) if p not in mine], [])
            finally:
                # Ctrl+C in a terminal: the whole process group gets SIGINT.
                os.killpg(station.pid, signal.SIGINT)
                station.wait(timeout=60)
                station.stdout.close()
            self.assertIsNone(node.query("dana"), "the name was not released")
            node.close()
            self.assertEqual(netns.pids_in(net.hosts["desk"].ns), [])
        self.assertEqual(account_processes(), {})
        self.assertNotIn(str(DATA), Path("/proc/self/mounts").read_text())
        roots = [os.path.join(top, n) for top, dirs, files in os.walk(ACCOUNT.home)
                 for n in dirs + files if os.lstat(os.path.join(top, n)).st_uid == 0]
        self.assertEqual(roots, [], "files of root in the user's home")

    def test_what_cannot_run_says_so_in_one_line_and_leaves_nothing(self):
        with netns.lan(PREFIX, SUBNET, ["desk"]) as net:
            run = self.run_sh(net, self.plain, *STATION)
            out, _ = run.communicate(timeout=120)
            self.assertNotEqual(run.returncode, 0)
            self.assertEqual(len(out.splitlines()), 1, out)
            self.assertIn(f"sudo setcap cap_net_bind_service=ep {self.plain}", out)
            self.assertEqual(netns.pids_in(net.hosts["desk"].ns), [])
            self.assertEqual(account_processes(), {})
            for port in (137, 138):
                holder = net.socket("desk", socket.AF_INET, socket.SOCK_DGRAM)
                holder.bind(("0.0.0.0", port))  # as a Samba nmbd would
                run = self.run_sh(net, self.capable, *STATION)
                out, _ = run.communicate(timeout=120)
                holder.close()
                self.assertEqual((run.returncode, len(out.splitlines())), (1, 1), out)
                self.assertRegex(out, rf"^tindrel: tindrel-gateway: UDP port {port} is in use by another "
                                      r"program \(a Samba nmbd\?\); stop it")
        self.assertNotIn(str(DATA), Path("/proc/self/mounts").read_text())
        # Run by root: with sudo it refuses, and a station on the network is no root's.
        for env, said in (({"SUDO_USER": ACCOUNT.name}, "run it as yourself, without sudo"),
                          ({}, "--lan runs a desktop user's station, not root's")):
            env = dict({k: v for k, v in os.environ.items() if k != "SUDO_USER"}, **env)
            r = subprocess.run([self.tree / "scripts/run.sh", "--lan"], env=env, capture_output=True,
                               text=True, timeout=60)
            self.assertEqual((r.returncode, len(r.stderr.splitlines()), r.stdout), (1, 1, ""), r.stderr)
            self.assertIn(said, r.stderr)


if __name__ == "__main__":
    netns.sweep_dead_runs("tdt-")
    unittest.main(verbosity=2)
