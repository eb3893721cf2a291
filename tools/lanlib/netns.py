"""Throw-away LANs of network namespaces, for tools/lan and the tests.

A LAN is one "switch" namespace holding a bridge, and one namespace per host
with a veth into that bridge and an address of its own. Every namespace of
a LAN carries the LAN's name as its prefix (PREFIX + "-sw", PREFIX + host),
so whatever a killed run left behind is found by prefix and removed. The
switch is PREFIX + "-sw": no host name starts with "-".

    with netns.lan("tdt-", "10.77.5", ["alice", "bob"]) as net:
        net.hosts["alice"].ip            # "10.77.5.2"
        net.popen("alice", ["tindrel-gateway", ...])
    # all namespaces, the bridge and every process inside them are gone

Used as a context manager the LAN is also removed at interpreter exit and on
SIGTERM/SIGHUP; tools/lan keeps its LAN across processes with Lan.create()
and remove_prefix(). Standard library only; needs root.
"""
import atexit
import ctypes
import os
import signal
import socket
import subprocess
import threading
import time
from contextlib import contextmanager
from pathlib import Path

NETNS_DIR = Path("/run/netns")
BRIDGE = "br0"
HOST_IF = "eth0"
CLONE_NEWNET = 0x40000000


class NetnsError(Exception):
    pass


def ip(*args, check=True):
    r = subprocess.run(["ip", *map(str, args)], stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=20)
    if check and r.returncode != 0:
        raise NetnsError(f"ip {' '.join(map(str, args))}: {r.stderr.strip()}")
    return r.stdout


def namespaces(prefix):
    # Never everyone's: a prefix is a family and a dash at least ("tdl-").
    if len(prefix) < 4 or "-" not in prefix:
        raise NetnsError(f"namespace prefix {prefix!r} is too wide")
    if not NETNS_DIR.is_dir():
        return []
    return sorted(p.name for p in NETNS_DIR.iterdir() if p.name.startswith(prefix))


def pids_in(ns):
    out = ip("netns", "pids", ns, check=False)
    return [int(p) for p in out.split() if p.isdigit() and int(p) != os.getpid()]


def stop_pids(pids, grace=3.0):
    """TERM, then KILL what is still there after grace seconds; each by its id."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in pids:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while time.monotonic() < deadline:
            pids = [p for p in pids if Path(f"/proc/{p}").exists() and not zombie(p)]
            if not pids:
                return
            time.sleep(0.05)


def child_named(pid, name):
    """The pid of a running child of pid whose command is name, or None."""
    for entry in Path("/proc").iterdir():
        try:
            if not entry.name.isdigit():
                continue
            command, rest = (entry / "stat").read_text().rsplit(")", 1)
            state, parent = rest.split()[:2]
            if int(parent) == pid and state != "Z" and command.split("(", 1)[1] == name:
                return int(entry.name)
        except (OSError, IndexError, ValueError):
            continue
    return None


def zombie(pid):
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def remove_namespaces(names):
    """Ends every process inside them (only ever our own: the namespaces are
    ours), then deletes them; deleting the switch takes bridge and veths along."""
    pids = sorted({p for ns in names for p in pids_in(ns)})
    stop_pids(pids)
    for ns in names:
        ip("netns", "del", ns, check=False)
    left = [ns for ns in names if (NETNS_DIR / ns).exists()]
    if left:
        raise NetnsError(f"could not remove namespaces {left}")


def remove_prefix(prefix):
    remove_namespaces(namespaces(prefix))


def sweep_dead_runs(prefix):
    """Removes LANs named PREFIX + PID + "-" ... whose process PID has ended:
    the leftovers of a run that was killed before it could clean up."""
    dead = []
    for ns in namespaces(prefix):
        run = ns[len(prefix):].split("-", 1)[0]
        if run.isdigit() and not Path(f"/proc/{run}").exists():
            dead.append(ns)
    remove_namespaces(dead)


class Host:
    def __init__(self, name, ns, ip_addr, prefixlen, broadcast, ifname=HOST_IF):
        self.name, self.ns, self.ip = name, ns, ip_addr
        self.prefixlen, self.broadcast, self.ifname = prefixlen, broadcast, ifname

    @property
    def path(self):
        return str(NETNS_DIR / self.ns)


class Lan:
    """A bridge in PREFIX+"-sw" and hosts SUBNET.2, .3, ... on it (a /24).
    A second subnet of the same family names a switch of its own (switch=
    PREFIX+"-sw2"), so that remove_prefix(PREFIX) takes both along."""

    def __init__(self, prefix, subnet, switch=None):
        if not subnet.startswith("10.77.") or subnet.count(".") != 2:
            raise NetnsError(f"subnet {subnet!r} is not 10.77.N")
        self.prefix, self.subnet = prefix, subnet
        self.switch = switch or prefix + "-sw"
        if not self.switch.startswith(prefix + "-"):
            raise NetnsError(f"switch {self.switch!r} is not of the family {prefix!r}")
        self.hosts = {}
        self.router = None  # the address hosts route other subnets through

    def create(self):
        if (NETNS_DIR / self.switch).exists():
            raise NetnsError(f"namespace {self.switch} exists already")
        ip("netns", "add", self.switch)
        ip("-n", self.switch, "link", "add", BRIDGE, "type", "bridge")
        # Promiscuous, so a capture on the bridge sees frames between hosts too.
        ip("-n", self.switch, "link", "set", BRIDGE, "promisc", "on", "up")
        ip("-n", self.switch, "link", "set", "lo", "up")
        return self

    def add_host(self, name, ifname=HOST_IF, number=None):
        number = number or len(self.hosts) + 2
        if number > 254:
            raise NetnsError("a /24 holds at most 253 hosts")
        if not name or name.startswith("-"):
            raise NetnsError(f"bad host name {name!r}")
        ns = self.prefix + name.lower()
        port = f"v{number}"  # interface names have at most 15 bytes
        ip("netns", "add", ns)
        ip("-n", self.switch, "link", "add", port, "type", "veth", "peer", "name", ifname,
           "netns", ns)
        ip("-n", self.switch, "link", "set", port, "master", BRIDGE, "up")
        addr = f"{self.subnet}.{number}"
        bcast = f"{self.subnet}.255"
        ip("-n", ns, "addr", "add", f"{addr}/24", "broadcast", bcast, "dev", ifname)
        ip("-n", ns, "link", "set", ifname, "up")
        ip("-n", ns, "link", "set", "lo", "up")
        host = Host(name, ns, addr, 24, bcast, ifname)
        self.hosts[name] = host
        if self.router:
            ip("-n", ns, "route", "add", "default", "via", self.router)
        return host

    def add_router(self, name, other):
        """Host `name` at .1 on this LAN and on the LAN `other`, forwarding
        between them; every host of both, those there and those added later,
        routes through it. Its interface on `other` is eth1."""
        router = self.add_host(name, number=1)
        other.attach(router, "eth1", 1)
        ip("netns", "exec", router.ns, "sysctl", "-qw", "net.ipv4.ip_forward=1")
        for lan in (self, other):
            lan.router = f"{lan.subnet}.1"
            for host in lan.hosts.values():
                if host is not router:
                    ip("-n", host.ns, "route", "add", "default", "via", lan.router)
        return router

    def attach(self, host, ifname, number):
        """A second interface for `host` of another LAN, on this one's bridge."""
        port = f"v{number}"
        ip("-n", self.switch, "link", "add", port, "type", "veth", "peer", "name", ifname,
           "netns", host.ns)
        ip("-n", self.switch, "link", "set", port, "master", BRIDGE, "up")
        ip("-n", host.ns, "addr", "add", f"{self.subnet}.{number}/24", "broadcast",
           f"{self.subnet}.255", "dev", ifname)
        ip("-n", host.ns, "link", "set", ifname, "up")

    def remove(self):
        remove_prefix(self.prefix)

    def command(self, where, argv):
        """argv run in the network namespace of host `where` (or "switch")
        only, so a FUSE mount it makes is seen by everyone."""
        ns = self.switch if where == "switch" else self.hosts[where].ns
        return ["nsenter", f"--net={NETNS_DIR / ns}", "--", *map(str, argv)]

    def popen(self, where, argv, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        return subprocess.Popen(self.command(where, argv), **kw)

    def run(self, where, argv, timeout=60, **kw):
        kw.setdefault("stdin", subprocess.DEVNULL)
        kw.setdefault("capture_output", True)
        return subprocess.run(self.command(where, argv), timeout=timeout, **kw)

    def socket(self, where, *args):
        """A socket.socket(*args) made inside the host's namespace, for this
        process: a socket stays in the namespace it was made in."""
        ns = self.switch if where == "switch" else self.hosts[where].ns
        return socket_in(NETNS_DIR / ns, *args)


_libc = ctypes.CDLL(None, use_errno=True)


def socket_in(ns_path, *args):
    """Made on a thread of its own that enters the namespace, so no other
    thread of this process ever leaves the one it is in."""
    result = {}

    def make():
        try:
            with open(ns_path) as f:
                if _libc.setns(f.fileno(), CLONE_NEWNET) != 0:
                    raise OSError(ctypes.get_errno(), f"setns {ns_path}")
            result["sock"] = socket.socket(*args)
        except Exception as e:  # handed to the caller below
            result["error"] = e

    t = threading.Thread(target=make)
    t.start()
    t.join()
    if "error" in result:
        raise result["error"]
    return result["sock"]


_live = []


def tshark(pcap, display_filter, *fields):
    """The lines of `tshark -T fields` for the packets of pcap that match."""
    args = ["tshark", "-r", str(pcap), "-Y", display_filter, "-T", "fields"]
    for f in fields:
        args += ["-e", f]
    r = subprocess.run(args, capture_output=True, text=True, timeout=120)
    return [line for line in r.stdout.splitlines() if line]


def _remove_live():
    while _live:
        try:
            _live.pop().remove()
        except NetnsError:
            pass


def _on_signal(signum, frame):
    # Unwinds the with-blocks, and with them the LANs; atexit covers the rest.
    raise SystemExit(128 + signum)


@contextmanager
def lan(prefix, subnet, host_names=()):
    """A LAN removed when the block ends, the interpreter exits, or a
    SIGTERM/SIGHUP arrives; leftovers of earlier dead runs are swept first."""
    if not _live:
        atexit.register(_remove_live)
        if threading.current_thread() is threading.main_thread():
            for sig in (signal.SIGTERM, signal.SIGHUP):
                if signal.getsignal(sig) in (signal.SIG_DFL, None):
                    signal.signal(sig, _on_signal)
    net = Lan(prefix, subnet)
    _live.append(net)
    try:
        net.create()
        for name in host_names:
            net.add_host(name)
        yield net
    finally:
        try:
            net.remove()
        finally:
            if net in _live:
                _live.remove(net)


def run_prefix(family):
    """A prefix unique to this run: FAMILY + pid + "-", e.g. "tdt-4711-"; and
    a 10.77.N subnet of its own (N from 1 to 250, never tools/lan's 0)."""
    pid = os.getpid()
    return f"{family}{pid}-", f"10.77.{pid % 250 + 1}"
