"""Samba's nmbd as a WINS server on one host of a namespace LAN, for the
tests and tools/lan.

    server = wins.Server(net, "wins", workdir)   # nothing runs yet
    server.start()                               # nmbd -F inside that host's namespace
    server.names("ALICE", 0x03)                  # ["10.77.9.2"]: what it holds, asked with RD
    server.stop(); server.start(fresh=True)      # a restart that forgot every name
    server.remove()                              # stopped, its folder gone
    wins.Server(net, "wins", workdir, account=Account("tdt-lan"))
                                                 # nmbd runs as that account

Each server has a folder of its own (configuration, lock, state, cache, pid,
private and log directories), so nothing of the machine's Samba is read or
written, and nmbd binds only the host's interface. It is only ever started
inside a network namespace of the LAN, never in the machine's own: start()
checks that before it runs anything. Given an account, nmbd runs as it: the
host's namespace lets every user bind ports below 1024, which is the only
privilege a WINS server needs. Standard library only; needs root.
"""
import os
import shutil
import subprocess
import time
from pathlib import Path

import netns
from account import owned_dir, owned_fd

NMBD = "/usr/sbin/nmbd"
NMBLOOKUP = "nmblookup"


class WinsError(Exception):
    pass


def _netns_inode(path):
    return os.stat(path).st_ino


class Server:
    def __init__(self, net, host, workdir, netbios_name="WINSHOST", workgroup="WINSNET", account=None):
        self.net, self.host = net, net.hosts[host]
        self.account = account
        self.ip = self.host.ip
        self.dir = Path(workdir)
        self.netbios_name, self.workgroup = netbios_name, workgroup
        self.process = None

    @property
    def config(self):
        return self.dir / "smb.conf"

    @property
    def log(self):
        return self.dir / "log" / "nmbd.log"

    def _write_config(self):
        # Made as the folder's owner's, never through a link: with an
        # account, the folder is that account's.
        dirs = {d: self.dir / d for d in ("lock", "state", "cache", "pid", "private", "log", "ncalrpc", "socket")}
        for d in dirs.values():
            owned_dir(d)
        with os.fdopen(owned_fd(self.config), "w") as f:
            f.write(f"""[global]
    netbios name = {self.netbios_name}
    workgroup = {self.workgroup}
    wins support = yes
    interfaces = {self.host.ifname}
    bind interfaces only = yes
    lock directory = {dirs['lock']}
    state directory = {dirs['state']}
    cache directory = {dirs['cache']}
    pid directory = {dirs['pid']}
    private dir = {dirs['private']}
    ncalrpc dir = {dirs['ncalrpc']}
    nmbd:socket dir = {dirs['socket']}
    log file = {self.log}
    max log size = 0
    log level = 1
    local master = no
    domain master = no
    preferred master = no
    dns proxy = no
""")

    def start(self, fresh=False, timeout=15, **popen_kw):
        """Starts nmbd and returns once it answers a query for its own name.
        fresh: forget the names an earlier run kept in its state directory;
        popen_kw go to subprocess.Popen (env, start_new_session)."""
        if self.running():
            raise WinsError("nmbd runs already")
        if _netns_inode(self.host.path) == _netns_inode("/proc/self/ns/net"):
            raise WinsError(f"{self.host.ns} is this process's own network namespace")
        if fresh:
            shutil.rmtree(self.dir / "state", ignore_errors=True)
        self._write_config()
        argv = [NMBD, "-F", "--no-process-group", f"--configfile={self.config}"]
        if self.account:
            self.net.run(self.host.name, ["sysctl", "-qw", "net.ipv4.ip_unprivileged_port_start=0"],
                         check=True)
            argv = self.account.command(argv)
        with os.fdopen(owned_fd(self.dir / "nmbd.out", os.O_WRONLY | os.O_CREAT | os.O_APPEND), "ab") as out:
            self.process = self.net.popen(self.host.name, argv, stdout=out, stderr=subprocess.STDOUT,
                                          **popen_kw)
        deadline = time.monotonic() + timeout
        while not self.names(self.netbios_name, 0x00, timeout=1):
            if self.process.poll() is not None:
                raise WinsError(f"nmbd ended ({self.process.returncode}); see {self.log}")
            if time.monotonic() > deadline:
                self.stop()
                raise WinsError(f"nmbd did not answer within {timeout} s; see {self.log}")
            time.sleep(0.2)
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        if self.process is not None:
            netns.stop_pids([self.process.pid])
            self.process.wait(timeout=5)
            self.process = None

    def remove(self):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)

    def names(self, text, suffix, host=None, timeout=3):
        """The addresses the server gives for TEXT<suffix> (a WINS query with
        RD set), asked from `host` (default: the server's own); [] for none."""
        r = self.net.run(host or self.host.name,
                         [NMBLOOKUP, "-U", self.ip, "--recursion", f"{text}#{suffix:02x}"],
                         timeout=timeout + 5)
        return [line.split()[0] for line in r.stdout.decode(errors="replace").splitlines()
                if line.strip().endswith(f"<{suffix:02x}>")]
