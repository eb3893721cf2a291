#!/usr/bin/env bash
# scripts/run.sh --lan: one station on this machine's own network. Builds
# tindrel.exe and tindrel-gateway, starts the gateway (which registers the
# station's NetBIOS names on UDP 137 and carries its messages on UDP 138),
# then runs the station under Wine until you close it or press Ctrl+C; then
# the gateway releases the names and everything started here ends.
#
#   scripts/run.sh --lan [--user NAME] [--computer NAME] [--workgroup NAME]
#                        [--interface IFNAME] [-- PROGRAM ARGUMENTS...]
#
# Defaults: the user who ran sudo (or $USER), this host's name in capitals,
# WORKGROUP, and the first IPv4 interface that is up. Needs root: ports 137
# and 138 are privileged, and the gateway mounts a FUSE file system.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}

say() { echo "run: $*" >&2; }
fail() { say "$*"; exit 1; }

user=${SUDO_USER:-${USER:-$(id -un)}}
computer=$(hostname -s 2>/dev/null | tr '[:lower:]' '[:upper:]' | cut -c1-15)
workgroup=WORKGROUP
interface=
while [ $# -gt 0 ]; do
    case $1 in
        --user|--computer|--workgroup|--interface)
            [ $# -ge 2 ] && [ -n "$2" ] || fail "$1 needs a value"
            declare "${1#--}=$2"
            shift 2 ;;
        --) shift; break ;;
        *) break ;;
    esac
done
for name in "$user" "$computer" "$workgroup"; do
    [[ $name =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,14}$ ]] ||
        fail "bad name '$name': 1 to 15 letters, digits, '-' or '_' (see --user, --computer, --workgroup)"
done
[ "$(id -u)" -eq 0 ] ||
    fail "--lan needs root: UDP ports 137 and 138 are privileged and the gateway mounts a FUSE file system; run: sudo scripts/run.sh --lan"

source "$root/scripts/winelib.sh"
[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

win="$build/win64"  # the Windows build folder of run.sh and tools/lan
if [ -z "${TINDREL_SKIP_BUILD:-}" ]; then
    (cd "$root" && cmake --preset win64 -B "$win" && cmake --preset gateway -B "$build/gateway") >/dev/null
    cmake --build "$win" -j2 --target tindrel tindrel-relay >/dev/null
    cmake --build "$build/gateway" -j2 --target tindrel-gateway >/dev/null
fi
gateway=$(find "$build/gateway" -name tindrel-gateway -type f -perm -u+x | head -n1)
relay=$(find "$win" -name tindrel-relay.exe -type f | head -n1)
[ -n "$gateway" ] && [ -n "$relay" ] || fail "tindrel-gateway or tindrel-relay.exe is not built"

run_dir="$build/run-lan"
prefix="$run_dir/station"
mkdir -p "$run_dir"
gateway_pid=
stop_all() {
    if [ -n "$gateway_pid" ]; then
        # It releases the names, unmounts and stops its relay; then it is gone.
        kill -TERM "$gateway_pid" 2>/dev/null || true
        local i
        for i in $(seq 1 100); do kill -0 "$gateway_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    wl_stop "$run_dir"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
    wl_start_xvfb "$run_dir"
    say "no display; started a virtual one on DISPLAY=$DISPLAY"
fi
wl_template "$run_dir"
# The prefix answers to the computer name the gateway registers.
if [ "$(cat "$prefix/.lan-computer" 2>/dev/null)" != "$computer" ]; then
    wl_clone "$run_dir" station >/dev/null
    WINEPREFIX="$prefix" wine reg add 'HKCU\Software\Wine\Network' /v UseDnsComputerName /d N /f >/dev/null
    WINEPREFIX="$prefix" wine reg add \
        'HKLM\System\CurrentControlSet\Control\ComputerName\ComputerName' \
        /v ComputerName /d "$computer" /f >/dev/null
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$prefix" wineserver -w
    echo "$computer" >"$prefix/.lan-computer"
fi

log="$run_dir/gateway.log"
"$gateway" --user "$user" --computer "$computer" --workgroup "$workgroup" --prefix "$prefix" \
    --relay "$relay" ${interface:+--interface "$interface"} >"$log" 2>&1 &
gateway_pid=$!
for i in $(seq 1 300); do
    grep -q '^tindrel-gateway: ready:' "$log" && break
    if ! kill -0 "$gateway_pid" 2>/dev/null; then
        gateway_pid=
        # The gateway says in one line what went wrong and what to do.
        fail "$(grep '^tindrel-gateway: ' "$log" | tail -n1 || echo "the gateway ended; see $log")"
    fi
    sleep 0.1
done
grep -q '^tindrel-gateway: ready:' "$log" || fail "the gateway was not ready within 30 s; see $log"
say "${user} on ${computer} in ${workgroup}: $(grep '^tindrel-gateway: ready:' "$log" | sed 's/^tindrel-gateway: ready: //')"
say "Zorvanta tindrel is running; end it with its system menu \"&Close\" or Ctrl+C"
# In the background, so that a TERM ends the station and the gateway at once.
WINEPREFIX="$prefix" USER="$user" LOGNAME="$user" wine "$win/tindrel.exe" "$@" &
wait $!
