#!/usr/bin/env python3
"""How many stations tools/lan holds: `tools/lan up s1 ... sN` on private
displays, then one WORKGROUP message from s1. Prints the seconds `up` took
and the memory it took, when every station showed its pop-up, when s1 had
logged every receipt, and whether every station still runs. Takes the LAN
down at the end, also on failure.

    sudo bench/lan_fanout.py 50        # as root, with TINDREL_LAN_USER or from sudo

Uses tools/lan's own state directory and namespaces (tools/lan down first
if a LAN is up); builds nothing when TINDREL_SKIP_BUILD is set.
"""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
LAN = [sys.executable, str(ROOT / "tools/lan")]
STATE = Path(os.environ.get("TINDREL_LAN_DIR") or Path(os.environ.get("TINDREL_BUILD") or ROOT / "build") / "lan")


def lan(*args, timeout=600):
    return subprocess.run([*LAN, *map(str, args)], capture_output=True, text=True, timeout=timeout)


def used_mib():
    info = dict(line.split(":", 1) for line in Path("/proc/meminfo").read_text().splitlines())
    kib = lambda key: int(info[key].split()[0])  # noqa: E731
    return (kib("MemTotal") - kib("MemAvailable")) // 1024


def running(name):
    """The station's window still answers (its history can be read)."""
    return lan("history", name, timeout=120).returncode == 0


def receipts(name):
    return [line for line in lan("history", name).stdout.splitlines()
            if line.startswith("~ ") and "Delivered to: " in line]


def main(count):
    names = [f"s{i}" for i in range(1, count + 1)]
    before = used_mib()
    started = time.monotonic()
    up = lan("up", *names, timeout=900)
    if up.returncode != 0:
        sys.exit(f"up failed:\n{up.stderr}")
    up_seconds = time.monotonic() - started
    memory = used_mib() - before
    stations = json.loads((STATE / "state.json").read_text())["stations"]
    displays = len({st["display"] for st in stations})
    print(f"up: {count} stations in {up_seconds:.0f} s on {displays} displays, {memory} MiB more in use")

    had = len(receipts("s1"))
    sent = time.monotonic()
    if lan("send", "s1", "WORKGROUP", "fan-out").returncode != 0:
        sys.exit("the WORKGROUP send failed")
    shown = []
    for name in names:
        status = subprocess.run([*LAN, "peek", name, "wait", str([s for s in stations if s["name"] == name][0]["pid"]),
                                 "boxes", "fan-out", "1", "120000"], capture_output=True, timeout=180).returncode
        shown.append(status == 0)
    boxes_seconds = time.monotonic() - sent
    deadline = time.monotonic() + 180
    while len(receipts("s1")) - had < count and time.monotonic() < deadline:
        time.sleep(2)
    logged = len(receipts("s1")) - had
    receipt_seconds = time.monotonic() - sent
    still = sum(running(name) for name in names)
    refused = sum("Maximum number of clients" in (STATE / "log" / f"{name}.wine.log").read_text(errors="replace")
                  for name in names)
    print(f"pop-ups: {sum(shown)} of {count} stations showed theirs, all within {boxes_seconds:.0f} s")
    print(f"receipts: s1 logged {logged} of {count} in {receipt_seconds:.0f} s")
    print(f"stations still running: {still} of {count}; refused by their display: {refused}")
    return 0 if all(shown) and logged == count and still == count and not refused else 1


if __name__ == "__main__":
    if len(sys.argv) != 2 or not sys.argv[1].isdigit() or not 1 <= int(sys.argv[1]) <= 250:
        sys.exit("usage: bench/lan_fanout.py STATIONS (1 to 250)")
    try:
        sys.exit(main(int(sys.argv[1])))
    finally:
        lan("down")
