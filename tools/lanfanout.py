#!/usr/bin/env python3
"""The group name of the tools/lan relay.

Every block a station writes to \\\\WORKGROUP\\mailslot\\messngr lands in one
FIFO; this process copies each whole 420-byte block, in order, into every
station's own FIFO, the writer's included, the way a datagram to a domain
reaches every machine in it. tools/lan starts it after the FIFOs exist and
ends it at `down`.

    lanfanout.py GROUP_FIFO STATION_FIFO...
"""
import os
import sys

BLOCK = 420


def main(group, stations):
    # Read-write, like lanrelay: a plain reader would see end of file at
    # every writer's close. Each station FIFO is held open read-write too, so
    # opening never waits for its reader.
    source = os.open(group, os.O_RDWR)
    targets = [os.open(path, os.O_RDWR) for path in stations]
    pending = b""
    while True:
        pending += os.read(source, 65536)
        whole = len(pending) // BLOCK * BLOCK
        for at in range(0, whole, BLOCK):
            block = pending[at:at + BLOCK]
            for target in targets:
                # One write of at most PIPE_BUF bytes: never interleaved with
                # a station's own writes to that FIFO.
                os.write(target, block)
        pending = pending[whole:]


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: lanfanout.py GROUP_FIFO STATION_FIFO...")
    main(sys.argv[1], sys.argv[2:])
