#!/usr/bin/env bash
# The benchmark suite, from a fresh clone: builds tindrel.exe and the bench
# programs, runs the real station under Wine on a private virtual display
# and prints one table: each figure, its floor measured in the same run, the
# ratio and the target. Every phase has a time cap, so the run ends by
# itself in under 5 minutes (the first run also builds and boots a Wine
# prefix template, about two minutes more).
#   bench/run.sh                   everything
#   TINDREL_SKIP_SETUP=1 ...       skip the package check
#   BENCH_DRAIN_RUNS=3             runs of each drain (median and spread)
# Results: $build/bench/results.txt ("R name value" lines) and the table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win64=${TINDREL_BUILD:-$root/build}/win64
build=${TINDREL_BUILD:-$root/build}/bench
jobs=${TINDREL_JOBS:-2}
drain_runs=${BENCH_DRAIN_RUNS:-3}
count=1000         # messages of a drain
text_bytes=30      # message text: a history entry of about 100 bytes (10,000: under 1 MB)
sizes=100,1000,10000
samples=15         # measured messages at each history size
repeats=3          # whole-text sets at each history size
idle=60            # seconds of idle measurement
drain_cap=${BENCH_DRAIN_CAP:-30}      # seconds a station drain may take
history_cap=${BENCH_HISTORY_CAP:-80}  # seconds for filling and measuring the history
started=$(date +%s)

[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh" >/dev/null

mkdir -p "$build"
(cd "$root" && cmake --preset win64 -B "$win64") >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log"; exit 1; }
cmake --build "$win64" -j"$jobs" --target tindrel bench_driver bench_bare_loop bench_one_window \
      >"$build.build.log" 2>&1 ||
    { tail -40 "$build.build.log"; exit 1; }

source "$root/scripts/winelib.sh"
wine_dir=$build/wine
mkdir -p "$wine_dir"
trap 'wl_stop "$wine_dir"' EXIT
wl_start_xvfb "$wine_dir"
wl_template "$wine_dir"
prefix=$(wl_clone "$wine_dir" run)
export WINEPREFIX=$prefix BENCH_PREFIX=$prefix
wineserver -p
# Without a window manager Wine waits 2 s for every closed box to be
# withdrawn; unmanaged windows close at once, as under a desktop's manager.
"$(wl_wine)" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

# Receipts to the sender "x" land in a FIFO that the driver reads.
fifo=$prefix/dosdevices/unc/x/mailslot/messngr
mkdir -p "$(dirname "$fifo")"
rm -f "$fifo"
mkfifo "$fifo"

win() { printf 'Z:%s' "$1" | tr / '\\'; }
driver=$win64/bench/bench_driver.exe
station=$(win "$win64/tindrel.exe")
bare=$(win "$win64/bench/bench_bare_loop.exe")
one=$(win "$win64/bench/bench_one_window.exe")
results=$build/results.txt
: >"$results"

# phase NAME CAP RENAME ARGS...: one driver run, cut off after CAP seconds.
phase() {
    local name=$1 cap=$2 rename=$3
    shift 3
    printf 'bench: %-14s (cap %3s s, %3s s so far)\n' "$name" "$cap" "$(($(date +%s) - started))" >&2
    if ! timeout --kill-after=5 "$cap" "$(wl_loader "$driver")" "$driver" "$@" 2>>"$build/driver.log" |
            sed "$rename" >>"$results"; then
        echo "R failed_$name 1" >>"$results"
    fi
}

# Boxes left open: the station shows 100 and queues the rest; the floor is
# the bare mailslot loop.
for run in $(seq 1 "$drain_runs"); do
    phase floor-drain 30 's/^R drain_seconds /R drain_seconds_floor /' \
          drain "$bare" "$count" "$fifo" "$text_bytes" 20 keep
    phase station-drain $((drain_cap + 15)) 's/^R drain_seconds /R drain_seconds_station /' \
          drain "$station" "$count" "$fifo" "$text_bytes" "$drain_cap" keep
done
# Every box closed as it appears, so every message opens one: once each,
# against the bare loop that opens a box per datagram the same way.
phase floor-churn 60 's/^R drain_seconds /R churn_seconds_floor /' \
      drain "$bare" "$count" "$fifo" "$text_bytes" 50 close
phase station-churn 60 's/^R drain_seconds /R churn_seconds_station /' \
      drain "$station" "$count" "$fifo" "$text_bytes" 50 close
phase history $((history_cap + 20)) '' \
      history "$station" "$fifo" "$text_bytes" "$sizes" "$samples" "$repeats" "$history_cap"
phase idle $((idle + 30)) '' idle "$station" "$one" "$idle"
phase one-shot 60 '' oneshot 10 "$station /S x \"one line\"" "$one" "$fifo"

echo
echo "Zorvanta tindrel under Wine ($("$(wl_wine)" --version 2>/dev/null)), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(($(date +%s) - started)) s"
python3 "$root/bench/table.py" "$results"
