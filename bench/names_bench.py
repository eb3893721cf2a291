#!/usr/bin/env python3
"""Figures of the gateway's name service, on namespace LANs of its own
(tdb-PID-*, removed at the end, also on failure):

  names_bench.py GATEWAY storm [SECONDS]   NAME QUERYs from 250 hosts at one gateway:
                                           answers a second, its RSS before and after
  names_bench.py GATEWAY resolve [COUNT]   lookups through the file system Wine uses:
                                           median time through WINS (Samba's nmbd)
                                           and by broadcast (the tests' B-node)

Prints "R name value" lines (bench/run.sh's result format). Needs root."""
import os
import select
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools/lanlib"))
sys.path.insert(0, str(ROOT / "tests/netns"))
sys.path.insert(0, str(ROOT / "tests/lan"))
import bnode  # noqa: E402
import netns  # noqa: E402
import wins  # noqa: E402
from test_peers import Gateway  # noqa: E402

PID = os.getpid()
HOSTS = 250


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def storm(gateway, seconds):
    prefix, subnet = f"tdb-{PID}-s", f"10.77.{PID % 250 + 1}"
    with netns.lan(prefix, subnet, ["gw", "storm"]) as net:
        storm_ns = net.hosts["storm"].ns
        addresses = [f"{subnet}.{n}" for n in range(4, 4 + HOSTS)]
        batch = "".join(f"addr add {a}/24 dev eth0\n" for a in addresses)
        subprocess.run(["ip", "-n", storm_ns, "-batch", "-"], input=batch, text=True, check=True)
        g = Gateway(net, "gw", "alice", "ALICE-PC", gateway=gateway, verbose=False)
        try:
            g.wait_ready()
            p = g.process
            target = (net.hosts["gw"].ip, 137)
            socks = []
            for a in addresses:
                sock = net.socket("storm", socket.AF_INET, socket.SOCK_DGRAM)
                sock.bind((a, 0))
                sock.setblocking(False)
                socks.append(sock)
            name = bnode.netbios("ALICE", 0x03)
            queries = [bnode.ns_question(trn, 0x0100, name) for trn in range(0x10000)]
            before = rss_kib(p.pid)
            sent = answered = lost = 0
            in_flight_limit = 2 * HOSTS
            poller = select.poll()
            for sock in socks:
                poller.register(sock, select.POLLIN)
            by_fd = {sock.fileno(): sock for sock in socks}
            start = time.monotonic()
            end = start + seconds
            while time.monotonic() < end:
                # Keep the gateway busy without outrunning its socket buffer:
                # the figure is its answering rate, not the kernel's drops.
                while sent - answered - lost < in_flight_limit:
                    socks[sent % HOSTS].sendto(queries[sent & 0xFFFF], target)
                    sent += 1
                events = poller.poll(200)
                if not events:
                    lost = sent - answered  # nothing came for 200 ms: the rest is lost
                for fd, _ in events:
                    try:
                        while by_fd[fd].recv(2048):
                            answered += 1
                    except BlockingIOError:
                        pass
            elapsed = time.monotonic() - start
            after = rss_kib(p.pid)
            for sock in socks:
                sock.close()
            print(f"R names-storm-answers-per-s {answered / elapsed:.0f}")
            print(f"R names-storm-queries-sent {sent}")
            print(f"R names-storm-queries-unanswered {sent - answered}")
            print(f"R names-storm-rss-before-kib {before}")
            print(f"R names-storm-rss-after-kib {after}")
        finally:
            g.stop()


def register_at(server_ip, sock, name16, addr):
    trn = int.from_bytes(os.urandom(2), "big")
    packet = (struct.pack(">6H", trn, 0x2900, 1, 0, 0, 1) + bnode.encode_name(name16) + struct.pack(">2H", 0x20, 1)
              + b"\xc0\x0c" + struct.pack(">HHIHH", 0x20, 1, 300000, 6, 0x6000) + socket.inet_aton(addr))
    sock.sendto(packet, (server_ip, 137))
    sock.recvfrom(2048)


def lookup_times(net, host, gateway, names, wins_ip=None):
    """Each name looked up once, through the file system as Wine does."""
    g = Gateway(net, host, "alice", "ALICE-PC", gateway=gateway, wins_ip=wins_ip, verbose=False)
    try:
        g.wait_ready()
        times = []
        for n in names:
            found, seconds = g.lookup(n)
            if not found:
                raise SystemExit(f"{n} did not resolve")
            times.append(seconds)
        return times
    finally:
        g.stop()


def resolve(gateway, count):
    prefix, subnet = f"tdb-{PID}-r", f"10.77.{PID % 250 + 1}"
    work = Path(tempfile.mkdtemp(prefix="tdb-wins-"))
    with netns.lan(prefix, subnet, ["gw", "gw2", "peer", "wins"]) as net:
        server = wins.Server(net, "wins", work).start()
        node = bnode.BNode.in_host(net, "peer")
        try:
            peer = net.hosts["peer"].ip
            sock = net.socket("peer", socket.AF_INET, socket.SOCK_DGRAM)
            sock.settimeout(3)
            sock.bind((peer, 0))
            far = [f"WINS{i}" for i in range(count)]
            near = [f"BCAST{i}" for i in range(count)]
            for n in far:
                register_at(server.ip, sock, bnode.netbios(n), peer)
            sock.close()
            with node.lock:
                for n in near:
                    node.held[bnode.netbios(n)] = 0
            through_wins = lookup_times(net, "gw", gateway, far, wins_ip=server.ip)
            by_broadcast = lookup_times(net, "gw2", gateway, near)
            print(f"R names-resolve-wins-median-ms {statistics.median(through_wins) * 1000:.2f}")
            print(f"R names-resolve-broadcast-median-ms {statistics.median(by_broadcast) * 1000:.2f}")
        finally:
            node.close()
            server.remove()
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[2] not in ("storm", "resolve"):
        raise SystemExit(__doc__)
    gw = sys.argv[1]
    if sys.argv[2] == "storm":
        storm(gw, float(sys.argv[3]) if len(sys.argv) > 3 else 5)
    else:
        resolve(gw, int(sys.argv[3]) if len(sys.argv) > 3 else 50)
