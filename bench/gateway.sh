#!/usr/bin/env bash
# Figures of the gateway: two tindrel-gateway daemons in network namespaces
# of their own (gwC-*, 10.77.201.0/24, joined by a veth pair; nothing on the
# machine's own interfaces), datagrams written into alice's UNC file system
# as Wine writes them and counted as frames in bob's inbox FIFO.
# Then the same from Wine: a Windows program in alice's prefix writes to
# \\bob\mailslot\messngr and reads the frame from bob's inbox through Z:,
# against the same program writing into a local mailslot and reading it back.
# Last, the name service: a query storm from 250 hosts, and lookups through
# WINS (Samba's nmbd) against by broadcast (bench/names_bench.py).
#   bench/gateway.sh               builds (release gateway, MinGW helper), then about a minute
#   BENCH_GATEWAY_COUNT=20000      datagrams of the burst
#   BENCH_GATEWAY_SAMPLES=300      datagrams of each latency
# Needs root and /dev/fuse. Removes its namespaces and stops its gateways and
# Wine, also when it fails. Results: $TINDREL_BUILD/bench-gateway/results.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
builds=${TINDREL_BUILD:-$root/build}
build=$builds/bench-gateway
count=${BENCH_GATEWAY_COUNT:-20000}
samples=${BENCH_GATEWAY_SAMPLES:-300}

mkdir -p "$build"
(cd "$root" && cmake --preset gateway -B "$builds/gateway" && cmake --preset win64 -B "$builds/win64") >/dev/null
cmake --build "$builds/gateway" --target tindrel-gateway -j"${TINDREL_JOBS:-2}" >/dev/null
cmake --build "$builds/win64" --target bench_mailslot_floor -j"${TINDREL_JOBS:-2}" >/dev/null
gateway="$builds/gateway/gateway/tindrel-gateway"
floor="$builds/win64/bench/bench_mailslot_floor.exe"
source "$root/scripts/winelib.sh"
wine_dir="$build/wine"
wl_template "$wine_dir"

run=gwC-$$
work=$(mktemp -d /tmp/gwC-bench.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    for side in a b; do
        umount -l "$work/$side/dosdevices/unc" 2>/dev/null || true
        ip netns del "$run-$side" 2>/dev/null || true
    done
    WINEPREFIX="$work/a" wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Two hosts on one wire.
ip netns add "$run-a"
ip netns add "$run-b"
ip link add "${run}a" netns "$run-a" type veth peer name "${run}b" netns "$run-b"
ip -n "$run-a" addr add 10.77.201.1/24 broadcast 10.77.201.255 dev "${run}a"
ip -n "$run-b" addr add 10.77.201.2/24 broadcast 10.77.201.255 dev "${run}b"
for side in a b; do
    ip -n "$run-$side" link set lo up
    ip -n "$run-$side" link set "${run}$side" up
done

# alice's prefix is a Wine prefix; bob's needs nothing but its folders.
wl_clone "$wine_dir" a "$work/a" >/dev/null
start() { # side user computer
    local side=$1
    mkdir -p "$work/$side/dosdevices"
    nsenter --net="/run/netns/$run-$side" "$gateway" --user "$2" --computer "$3" --workgroup GWBENCH \
        --prefix "$work/$side" >"$work/$side.out" 2>"$work/$side.err" &
    pids+=($!)
}
start a alice ALICE-PC
start b bob BOB-PC
for side in a b; do
    for _ in $(seq 1 100); do grep -q ready "$work/$side.out" 2>/dev/null && break; sleep 0.1; done
    grep -q ready "$work/$side.out" || { echo "gateway $side did not start:" >&2; cat "$work/$side.err" >&2; exit 1; }
done

slot="$work/a/dosdevices/unc/bob/mailslot/messngr"
inbox="$work/b/tindrel-gateway/inbox"
bench=(python3 "$root/bench/gateway_bench.py")
wine_in_a=(nsenter --net="/run/netns/$run-a" env WINEPREFIX="$work/a" WINEDEBUG=-all "$(wl_loader "$floor")" "$floor")
{
    "${bench[@]}" throughput "$slot" "$inbox" "$count"
    "${bench[@]}" latency "$slot" "$inbox" "$samples"
    "${bench[@]}" fifo-floor "$inbox" "$samples"
    "${wine_in_a[@]}" local "$samples" | tr -d '\r'
    "${wine_in_a[@]}" remote "$samples" '\\bob\mailslot\messngr' "Z:${inbox//\//\\}" | tr -d '\r'
} | tee "$build/results.txt"
echo "--- bob's gateway:"
"$gateway" status --prefix "$work/b"
# Datagrams the kernel dropped for a full socket buffer never reach the gateway's counts.
ip netns exec "$run-b" cat /proc/net/snmp | awk '/^Udp:/ { if (!h) { split($0, n); h = 1 } else { split($0, v); for (i = 2; i <= NF; i++) if (n[i] ~ /Errors|Drops/) printf "udp %s %s\n", n[i], v[i] } }'
echo "--- name service (namespaces tdb-*):"
{
    python3 "$root/bench/names_bench.py" "$gateway" storm 5
    python3 "$root/bench/names_bench.py" "$gateway" resolve 50
} | tee -a "$build/results.txt"
