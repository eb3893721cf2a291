#!/usr/bin/env bash
# Builds tindrel.exe and runs it under Wine: on your display when there is
# one, otherwise on a private virtual display (then look at it with
# `tools/lan shot FILE` or any X client on the printed DISPLAY).
# Arguments go to the program: scripts/run.sh /M
# Stop it with its system menu "&Close", or Ctrl+C here.
# scripts/run.sh --lan ... joins this machine's network: see scripts/run-lan.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --lan ]; then shift; exec "$root/scripts/run-lan.sh" "$@"; fi
build=${TINDREL_BUILD:-$root/build}
source "$root/scripts/winelib.sh"
[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/win64" -j2 --target tindrel

run_dir="$build/run"
mkdir -p "$run_dir"
trap 'wl_stop "$run_dir"' EXIT
if [ -z "${DISPLAY:-}" ]; then
    wl_start_xvfb "$run_dir"
    echo "run: no display; started a virtual one on DISPLAY=$DISPLAY"
fi
wl_template "$run_dir"
[ -d "$run_dir/station" ] || wl_clone "$run_dir" station >/dev/null
echo "run: Zorvanta tindrel is running; end it with its system menu \"&Close\" or Ctrl+C"
WINEPREFIX="$run_dir/station" wine "$build/win64/tindrel.exe" "$@"
