#!/usr/bin/env bash
# Builds tindrel.exe and runs it under Wine: on your display when there is
# one, otherwise on a private virtual display (then look at it with
# `tools/lan shot FILE` or any X client on the printed DISPLAY).
# Arguments go to the program: scripts/run.sh /M
# Stop it with its system menu "&Close", or Ctrl+C here.
# scripts/run.sh --lan ... joins this machine's network: see scripts/run-lan.sh.
#
# Started again while its station runs (to bring the window back, or with
# /S), it runs the program against that station on the station's display and
# leaves the station, its wineserver and its display alone: only the run
# that started them stops them, when its station ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --lan ]; then shift; exec "$root/scripts/run-lan.sh" "$@"; fi
build=${TINDREL_BUILD:-$root/build}
source "$root/scripts/winelib.sh"
[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

(cd "$root" && cmake --preset win64 -B "$build/win64" >/dev/null)
cmake --build "$build/win64" -j2 --target tindrel

run_dir=${TINDREL_RUN_DIR:-$build/run}
mkdir -p "$run_dir"
owner="$run_dir/owner.pid"   # the run that started the station's display and wineserver
display="$run_dir/display"   # the display that station is on

owner_running() {
    local pid
    pid=$(cat "$owner" 2>/dev/null) || return 1
    # A pid of a run that has ended may have been handed out again.
    [ -n "$pid" ] && grep -qs "run\.sh" "/proc/$pid/cmdline"
}

if owner_running; then
    export DISPLAY
    DISPLAY=$(cat "$display")
    echo "run: a station runs here already (DISPLAY=$DISPLAY); running the program against it"
    exec env WINEPREFIX="$run_dir/station" wine "$build/win64/tindrel.exe" "$@"
fi

echo $$ >"$owner"
trap 'wl_stop "$run_dir"; rm -f "$owner" "$display"' EXIT
if [ -z "${DISPLAY:-}" ]; then
    wl_start_xvfb "$run_dir"
    echo "run: no display; started a virtual one on DISPLAY=$DISPLAY"
fi
echo "$DISPLAY" >"$display"
wl_template "$run_dir"
[ -d "$run_dir/station" ] || wl_clone "$run_dir" station >/dev/null
echo "run: Zorvanta tindrel is running; end it with its system menu \"&Close\" or Ctrl+C"
WINEPREFIX="$run_dir/station" wine "$build/win64/tindrel.exe" "$@"
