#!/usr/bin/env python3
"""Measures a pair of running gateways from the Linux side: datagrams written
into the sending gateway's UNC file system (open, write, close each, as Wine
does) and the frames that reach the receiving gateway's inbox FIFO.

  gateway_bench.py throughput SLOT INBOX COUNT   rate and losses of a burst
  gateway_bench.py latency SLOT INBOX COUNT      write-to-frame times, one at a time
  gateway_bench.py fifo-floor INBOX COUNT        the same into the inbox FIFO directly

Prints "R name value" lines (bench/run.sh's result format)."""
import os
import select
import statistics
import struct
import subprocess
import sys
import time

BLOCK = 420


def block(seq):
    head = b"bench %08d " % seq
    return head + b"." * (BLOCK - len(head))


def seq_of(frame):
    return int(frame[6:14])


class Inbox:
    """The receiving end: reads the FIFO as the relay would and cuts frames."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        self.pending = b""

    def frames(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return []
        try:
            self.pending += os.read(self.fd, 1 << 16)
        except BlockingIOError:
            return []
        out = []
        while len(self.pending) >= 2:
            (n,) = struct.unpack_from("<H", self.pending)
            if len(self.pending) < 2 + n:
                break
            out.append(self.pending[2:2 + n])
            self.pending = self.pending[2 + n:]
        return out

    def drain(self):
        while self.frames(0.2):
            pass


def write_once(slot, data):
    fd = os.open(slot, os.O_WRONLY)
    try:
        os.write(fd, data)
    finally:
        os.close(fd)


def count_frames(inbox_path, count):
    """The reader of a burst, in a process of its own so that the writer
    cannot starve it: prints the frames seen and when the last one came."""
    inbox = Inbox(inbox_path)
    print("ready", flush=True)
    seen, last, quiet_until = set(), 0.0, time.monotonic() + 60
    while len(seen) < count and time.monotonic() < quiet_until:
        for f in inbox.frames(0.5):
            seen.add(seq_of(f))
            last = time.monotonic()
            quiet_until = last + 3
    print(len(seen), last, flush=True)


def throughput(slot, inbox_path, count):
    Inbox(inbox_path).drain()
    reader = subprocess.Popen([sys.executable, __file__, "count-frames", inbox_path, str(count)],
                              stdout=subprocess.PIPE, text=True)
    reader.stdout.readline()
    start = time.monotonic()
    for i in range(count):
        write_once(slot, block(i))
    written = time.monotonic()
    received, last = reader.communicate(timeout=180)[0].split()
    received, elapsed = int(received), float(last) - start
    print(f"R throughput_count {count}")
    print(f"R throughput_received {received}")
    print(f"R throughput_write_rate {count / (written - start):.0f}")
    print(f"R throughput_rate {received / elapsed:.0f}" if elapsed > 0 else "R throughput_rate 0")


def latency(slot, inbox_path, count, direct=False):
    inbox = Inbox(inbox_path)
    inbox.drain()
    if direct:
        wfd = os.open(inbox_path, os.O_WRONLY | os.O_NONBLOCK)
    times = []
    for i in range(count):
        data = block(i)
        start = time.monotonic()
        if direct:
            os.write(wfd, struct.pack("<H", len(data)) + data)
        else:
            write_once(slot, data)
        got = []
        deadline = start + 5
        while not got and time.monotonic() < deadline:
            got = [f for f in inbox.frames(1) if seq_of(f) == i]
        if got:
            times.append(time.monotonic() - start)
        time.sleep(0.005)
    name = "fifo_floor" if direct else "latency"
    print(f"R {name}_count {len(times)} of {count}")
    if times:
        ms = sorted(t * 1000 for t in times)
        print(f"R {name}_median_ms {statistics.median(ms):.3f}")
        print(f"R {name}_p90_ms {ms[int(len(ms) * 0.9) - 1]:.3f}")


def main():
    mode = sys.argv[1]
    if mode == "count-frames":
        count_frames(sys.argv[2], int(sys.argv[3]))
    elif mode == "throughput":
        throughput(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif mode == "latency":
        latency(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif mode == "fifo-floor":
        latency(None, sys.argv[2], int(sys.argv[3]), direct=True)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
