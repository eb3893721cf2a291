#!/usr/bin/env python3
"""Prints the benchmark table from the "R name value" lines bench/run.sh
collected (one file, several runs of a figure give several lines)."""
import statistics
import sys


def load(path):
    values = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3 and parts[0] == "R":
                values.setdefault(parts[1], []).append(float(parts[2]))
    return values


def main(path):
    v = load(path)

    def one(name):
        got = v.get(name)
        return got[-1] if got else None

    def runs(name):
        return [x for x in v.get(name, []) if x >= 0]

    def spread(xs, unit):
        if not xs:
            return "-"
        if len(xs) == 1:
            return "n=1"
        return f"{min(xs):.{digits(unit)}f}-{max(xs):.{digits(unit)}f} {unit}, n={len(xs)}"

    def digits(unit):
        return 3 if unit in ("s", "%") else 2 if unit == "ms" else 1

    rows = []

    def row(name, value, unit, floor_name, floor, target, ok, spread_text):
        ratio = value / floor if value is not None and floor else None
        rows.append((
            name,
            "-" if value is None else f"{value:.{digits(unit)}f} {unit}",
            floor_name,
            "-" if floor is None else f"{floor:.{digits(unit)}f} {unit}",
            "-" if ratio is None else (f"{ratio:.3f}" if ratio < 10 else f"{ratio:.0f}"),
            target,
            "" if ok is None else ("met" if ok else "MISSED"),
            spread_text))

    # Drain: seconds until 1,000 messages are all in the pane and answered.
    station = runs("drain_seconds_station")
    floor = runs("drain_seconds_floor")
    capped = [x for x in v.get("drain_seconds_station", []) if x < 0]
    med_s = statistics.median(station) if station else None
    med_f = statistics.median(floor) if floor else None
    note = spread(station, "s")
    if capped:
        done = v.get("drain_done_at_cap", [])
        cap = one("drain_cap_seconds") or 0
        note += f"; {len(capped)} run(s) over the {cap:.0f} s cap, drained " + \
            ", ".join(f"{d:.0f}" for d in done)
    ok = None if med_s is None or med_f is None or capped else med_s <= 100 * med_f
    row("drain 1,000 messages (boxes left open)", med_s, "s",
        "bare read+receipt loop", med_f, "<= 100x", ok, note)
    churn, churn_floor = one("churn_seconds_station"), one("churn_seconds_floor")
    if churn is not None and churn < 0:
        churn = None
    if churn_floor is not None and churn_floor < 0:
        churn_floor = None
    row("drain 1,000 messages (each box closed as it appears)", churn, "s",
        "bare loop + a box per datagram", churn_floor, "", None, "n=1")

    # History scaling: the window thread's CPU for one received message.
    e100 = runs("history_100_entry_cpu_ms_median")
    base = e100[-1] if e100 else None
    for size in (100, 1000, 10000):
        med = one(f"history_{size}_entry_cpu_ms_median")
        lo, hi = one(f"history_{size}_entry_cpu_ms_min"), one(f"history_{size}_entry_cpu_ms_max")
        n = one(f"history_{size}_entry_cpu_ms_n")
        sp = "-" if med is None else f"{lo:.2f}-{hi:.2f} ms, n={n:.0f}"
        if size == 100:
            row(f"one entry at {size:,} entries (window thread CPU)", med, "ms", "-", None, "", None, sp)
        else:
            target = "<= 2x" if size == 10000 else ""
            ok = None if med is None or base is None or size != 10000 else med <= 2 * base
            row(f"one entry at {size:,} entries (window thread CPU)", med, "ms",
                "entry at 100", base, target, ok, sp)
    for size in (100, 1000, 10000):
        whole = one(f"history_{size}_whole_set_cpu_ms_median")
        med = one(f"history_{size}_entry_cpu_ms_median")
        text = one(f"history_{size}_text_bytes")
        lo, hi = one(f"history_{size}_whole_set_cpu_ms_min"), one(f"history_{size}_whole_set_cpu_ms_max")
        n = one(f"history_{size}_whole_set_cpu_ms_n")
        sp = "-" if whole is None else f"{lo:.1f}-{hi:.1f} ms, n={n:.0f}"
        label = f"one entry at {size:,} vs whole-text set ({(text or 0) / 1024:.0f} KB)"
        target = "<= 0.05" if size == 10000 else ""
        ok = None if med is None or whole is None or size != 10000 else med <= whole / 20
        row(label, med, "ms", "whole-text set (before)", whole, target, ok, sp)

    # Idle: CPU of the whole station process over the idle window.
    idle = one("idle_percent")
    idle_floor = one("idle_floor_percent")
    windows = [one("idle_window_percent_min"), one("idle_window_percent_max")]
    sp = "-" if None in windows else f"{windows[0]:.3f}-{windows[1]:.3f} % per 10 s, n={one('idle_window_percent_n'):.0f}"
    row(f"idle {one('idle_seconds') or 0:.0f} s (% of one core)", idle, "%",
        "one window, 1 s timer", idle_floor, "<= 0.05 %",
        None if idle is None else idle <= 0.05, sp)

    # One-shot send.
    shot, win = one("oneshot_ms_median"), one("onewindow_ms_median")
    sp = "-" if shot is None else (f"{one('oneshot_ms_min'):.0f}-{one('oneshot_ms_max'):.0f} ms "
                                   f"(floor {one('onewindow_ms_min'):.0f}-{one('onewindow_ms_max'):.0f}), "
                                   f"n={one('oneshot_ms_n'):.0f}")
    row("one-shot /S, start to exit", shot, "ms", "one window, start to exit", win, "<= 1.25x",
        None if shot is None or not win else shot <= 1.25 * win, sp)

    # Memory: resident after the last fill, before any probing.
    start = one("memory_start_mb")
    last = max((int(k.split("_")[1]) for k in v if k.startswith("history_") and k.endswith("_resident_mb")),
               default=None)
    after = one(f"history_{last}_resident_mb") if last else None
    text = (one(f"history_{last}_pane_bytes") or 0) / 1048576.0 if last else 0
    if after is not None and start is not None and text:
        row(f"memory growth, start to {last:,} messages", after - start, "MB",
            "history text", text, "<= 5x", after - start <= 5 * text,
            f"start {start:.1f} MB, after {after:.1f} MB, 100 boxes open")
    # From 1,000 entries on, the 100 open boxes have settled: what grows is
    # the history and the pop-ups waiting behind the boxes.
    base = 1000
    at_base = one(f"history_{base}_resident_mb")
    text_base = (one(f"history_{base}_pane_bytes") or 0) / 1048576.0
    if after is not None and at_base is not None and text and last != base:
        row(f"memory growth, {base:,} to {last:,} messages", after - at_base, "MB",
            "history text added", text - text_base, "<= 5x", after - at_base <= 5 * (text - text_base),
            f"at {base:,}: {at_base:.1f} MB; {last - base:,} pop-ups wait behind the boxes")

    failed = sorted(k for k in v if k.startswith("failed_"))
    headers = ("figure", "value", "floor", "floor value", "ratio", "target", "", "spread")
    widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(len(headers))]
    line = "  ".join(h.ljust(w) for h, w in zip(headers, widths))
    print(line)
    print("-" * len(line))
    for r in rows:
        print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)))
    for f in failed:
        print(f"(phase {f[7:]} did not finish)")


if __name__ == "__main__":
    main(sys.argv[1])
