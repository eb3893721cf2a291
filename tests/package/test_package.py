"""The Debian package as a desktop user gets it: built by scripts/package.sh,
checked by lintian and by its listing, installed with apt, run by an
unprivileged user with a display of their own on a namespace LAN where a test
B-node resolves the user's name, sends a message and gets the receipt, then
purged. Needs root; ctest runs it with label package. Removes the package,
the user, the namespaces, the display and /dev/fuse's changed mode again,
also when a check fails."""
import os
import pwd
import re
import shlex
import signal
import stat
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

BUILD = Path(os.environ.get("TINDREL_BUILD") or ROOT / "build")
USER, COMPUTER = "tdpkg", "TDPKG-DESK"
# Left by a run that was killed before it cleaned up: the package it
# installed, and the mode /dev/fuse had before the run changed it.
MARKER = Path("/var/tmp/tindrel-package-test.installed")
FUSE_MODE = Path("/var/tmp/tindrel-package-test.fuse-mode")
AUTOSTART = ".config/autostart/tindrel.desktop"
PREFIX, SUBNET = netns.run_prefix("tdp-")
APT = ["flock", "/tmp/tindrel-apt.lock", "apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=120"]

# Every file of the package with its mode; directories are all drwxr-xr-x.
EXPECTED = {
    "usr/bin/tindrel": "-rwxr-xr-x",
    "usr/sbin/tindrel-gateway": "-rwxr-xr-x",
    "usr/lib/tindrel/winelib.sh": "-rw-r--r--",
    "usr/lib/tindrel/gatewaylib.sh": "-rw-r--r--",
    "usr/lib/tindrel/autostart.sh": "-rw-r--r--",
    "usr/lib/tindrel/win64/tindrel.exe": "-rw-r--r--",
    "usr/lib/tindrel/win64/tindrel-relay.exe": "-rw-r--r--",
    "usr/lib/tindrel/win32/tindrel.exe": "-rw-r--r--",
    "usr/share/applications/tindrel.desktop": "-rw-r--r--",
    "usr/share/man/man1/tindrel.1.gz": "-rw-r--r--",
    "usr/share/man/man8/tindrel-gateway.8.gz": "-rw-r--r--",
    "usr/share/doc/tindrel/copyright": "-rw-r--r--",
    "usr/share/doc/tindrel/changelog.gz": "-rw-r--r--",
    "usr/share/lintian/overrides/tindrel": "-rw-r--r--",
    **{f"usr/share/icons/hicolor/{s}x{s}/apps/tindrel.png": "-rw-r--r--"
       for s in (16, 22, 24, 32, 48, 64, 128, 256)},
}


def run(argv, **kw):
    kw.setdefault("capture_output", True)
    kw.setdefault("text", True)
    kw.setdefault("timeout", 300)
    return subprocess.run(argv, stdin=subprocess.DEVNULL, **kw)


def shell(script):
    """Runs script in bash with tests/testuser.sh sourced."""
    return run(["bash", "-c", f'source "{ROOT}/tests/testuser.sh"; {script}'])


def installed():
    """True in any state short of purged: half-installed counts."""
    r = run(["dpkg-query", "-W", "-f=${db:Status-Status}", "tindrel"])
    return r.returncode == 0 and r.stdout not in ("", "not-installed")


def restore_fuse():
    if FUSE_MODE.exists():
        os.chmod("/dev/fuse", int(FUSE_MODE.read_text(), 8))
        FUSE_MODE.unlink()


def purge():
    run([*APT, "purge", "tindrel"])
    MARKER.unlink(missing_ok=True)


class Package(unittest.TestCase):
    """In order: the file and its listing, the installed station, the purge."""

    @classmethod
    def setUpClass(cls):
        if MARKER.exists():
            purge()
        if installed():
            raise unittest.SkipTest("tindrel is installed on this machine; the test installs and purges "
                                    "a copy of its own: remove it first (apt-get purge tindrel)")
        env = dict(os.environ, TINDREL_SKIP_SETUP="1", TINDREL_BUILD=str(BUILD))
        r = run([ROOT / "scripts/package.sh"], env=env, timeout=600)
        if r.returncode != 0:
            raise AssertionError(f"scripts/package.sh failed:\n{r.stdout}{r.stderr}")
        cls.deb = Path(r.stdout.splitlines()[-1])
        restore_fuse()
        FUSE_MODE.write_text(oct(stat.S_IMODE(os.stat("/dev/fuse").st_mode)))
        cls.addClassCleanup(restore_fuse)
        cls.addClassCleanup(shell, f"tu_remove {USER}")
        cls.addClassCleanup(lambda: purge() if installed() else MARKER.unlink(missing_ok=True))
        home = shell(f"tu_add {USER}")
        assert home.returncode == 0, home.stderr
        cls.home = Path(home.stdout.strip())
        cls.skeleton = set(cls.home.rglob("*"))
        cls.uid = pwd.getpwnam(USER).pw_uid

    def as_user(self, *argv, **env):
        """argv run as the test user with a login's environment plus env."""
        extra = [f"{k}={v}" for k, v in env.items()]
        return ["setpriv", f"--reuid={USER}", f"--regid={USER}", "--init-groups", "--reset-env",
                "env", *extra, *map(str, argv)]

    def test_1_lintian_finds_nothing_and_the_listing_holds_every_file_with_its_mode(self):
        self.assertEqual(self.deb.name, "tindrel_1.3.4.16_amd64.deb")
        # As nobody: lintian unpacks what it checks. Every tag is shown; an
        # error or a warning fails (explained exceptions are overrides).
        r = run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--reset-env",
                 "lintian", "--pedantic", "--display-info", "--display-experimental", self.deb])
        print(f"lintian: {r.stdout.strip() or 'nothing'}", file=sys.stderr)
        self.assertEqual([l for l in r.stdout.splitlines() if re.match(r"[EW]:", l)], [], r.stdout)
        self.assertEqual(r.returncode, 0, r.stderr)

        listing = run(["dpkg-deb", "-c", self.deb]).stdout.splitlines()
        files, dirs = {}, []
        for line in listing:
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            if mode.startswith("d"):
                dirs.append((path, mode))
            else:
                files[path.removeprefix("./")] = mode
        self.assertEqual(files, EXPECTED)
        self.assertEqual([d for d in dirs if d[1] != "drwxr-xr-x"], [])
        control = run(["dpkg-deb", "-f", self.deb, "Depends", "Recommends"]).stdout
        for dep in ("wine", "wine64", "fuse3", "libcap2-bin", "libfuse3-3"):
            self.assertRegex(control, rf"(^|[ ,]){re.escape(dep)}([ ,(]|$)")
        self.assertIn("Recommends: wine32:i386", control)

    def test_2_a_desktop_user_joins_the_lan_without_root(self):
        MARKER.touch()
        r = run([*APT, "install", "--no-install-recommends", self.deb])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(run(["getcap", "/usr/sbin/tindrel-gateway"]).stdout.split(),
                         ["/usr/sbin/tindrel-gateway", "cap_net_bind_service=ep"])
        os.chmod("/dev/fuse", 0o666)  # as udev has it on a desktop
        with netns.lan(PREFIX, SUBNET, ["desk", "peer"]) as net:
            desk = net.hosts["desk"].ip
            display = net.popen("desk", self.as_user("Xvfb", "-displayfd", "1", "-nolisten", "tcp"),
                                stdout=subprocess.PIPE, text=True)
            node = station = None
            released = False
            try:
                screen = f":{display.stdout.readline().strip()}"
                # Started as the desktop starts it at login: the autostart entry's command.
                r = run(self.as_user("tindrel", "--autostart", "--lan", "--user", USER, "--computer", COMPUTER,
                                     "--interface", "eth0"))
                self.assertEqual(r.returncode, 0, r.stderr)
                command = self.autostart_command()
                self.assertEqual(command[-1], "/H")
                station = net.popen("desk", self.as_user(*command, DISPLAY=screen),
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                    start_new_session=True)
                node = bnode.BNode.in_host(net, "peer")
                node.register("PEER")
                # The first start makes the user's Wine prefix: give it time.
                deadline = time.monotonic() + 150
                while node.query(USER) is None and station.poll() is None and time.monotonic() < deadline:
                    time.sleep(1)
                self.assertEqual(node.query(USER), (desk, False), "the user's name did not resolve")
                block = f"peer\0{USER}\0hello from the peer\r\n\tpeer@PEER\0\0\0\0".encode()
                node.send_message("PEER", USER, desk, block.ljust(420, b"\0"))
                receipt = node.wait_for(lambda: [d for d in node.inbox if d["payload"].startswith(
                    f"{USER}@{COMPUTER}\0".encode())], 60)
                self.assertTrue(receipt, "no receipt came back")
                box = net.run("desk", self.as_user("xdotool", "search", "--sync", "--name", "^Message - ",
                                                   DISPLAY=screen), timeout=30)
                self.assertEqual(box.returncode, 0, "no pop-up box on the user's display")

                self.check_processes(net.hosts["desk"].ns)
            finally:
                if station:
                    if station.poll() is None:
                        os.killpg(station.pid, signal.SIGINT)  # Ctrl+C in the terminal
                    print(f"tindrel said:\n{self.stopped(station)}", file=sys.stderr)
                if node:
                    released = node.query(USER) is None
                    node.close()
                display.terminate()
                display.wait(timeout=10)
                display.stdout.close()
            self.assertTrue(released, "the user's name was not released")
            self.assertEqual(netns.pids_in(net.hosts["desk"].ns), [])
        self.assertNotIn(str(self.home), Path("/proc/self/mounts").read_text())
        r = run(self.as_user("tindrel", "--no-autostart"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse((self.home / AUTOSTART).exists())
        self.assertTrue((self.home / ".local/share/tindrel").is_dir())
        foreign = run(["find", self.home, "!", "-user", USER]).stdout
        self.assertEqual(foreign, "", "files in the user's home that the user does not own")
        # The station's data directory is all it leaves (no Wine menus or file types).
        data = self.home / ".local/share/tindrel"
        kept = {self.home / d for d in (".local", ".local/share", ".config", ".config/autostart")}
        self.assertEqual(sorted(str(p) for p in set(self.home.rglob("*")) - self.skeleton - kept
                                if p != data and data not in p.parents), [])

    def autostart_command(self):
        entry = (self.home / AUTOSTART).read_text()
        self.assertIn("\nTryExec=tindrel\n", entry)
        return shlex.split(re.search(r"^Exec=(.*)$", entry, re.M).group(1))

    def stopped(self, station):
        """The station's output once it ended (killed after 60 s)."""
        try:
            out, _ = station.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(station.pid, signal.SIGKILL)
            out, _ = station.communicate()
        return out

    def check_processes(self, ns):
        """Every process of the station, of Wine and of the gateway (all of them
        inside the namespace) runs as the user."""
        pids = netns.pids_in(ns)
        ps = run(["ps", "-o", "uid=,user=,pid=,args=", "-p", ",".join(map(str, pids))]).stdout
        print(ps, file=sys.stderr)
        rows = [line.split(None, 3) for line in ps.splitlines()]
        self.assertEqual([r for r in rows if int(r[0]) != self.uid], [], ps)
        for part in ("tindrel-gateway", "wineserver", "tindrel.exe", "tindrel-relay.exe", "Xvfb"):
            self.assertTrue([r for r in rows if part in r[3]], f"no {part} process:\n{ps}")
        # The file capability served the bind and is gone before the first packet.
        gateway = next(r[2] for r in rows if r[3].startswith("/usr/sbin/tindrel-gateway"))
        caps = re.findall(r"^Cap(?:Prm|Eff|Amb):\s*(\w+)$", Path(f"/proc/{gateway}/status").read_text(), re.M)
        self.assertEqual(caps, ["0" * 16] * 3)

    def test_3_purge_leaves_nothing_of_the_package(self):
        self.assertTrue(installed(), "the package is not installed")
        listed = run(["dpkg-query", "-L", "tindrel"]).stdout.split()
        purge()
        self.assertFalse(installed())
        left = []
        for path in listed:
            if not os.path.lexists(path):
                continue
            # A directory stays when another package owns it too.
            if not os.path.isdir(path) or run(["dpkg-query", "-S", path]).returncode != 0:
                left.append(path)
        self.assertEqual(left, [])


if __name__ == "__main__":
    netns.sweep_dead_runs("tdp-")
    unittest.main(verbosity=2)
