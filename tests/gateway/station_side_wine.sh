#!/usr/bin/env bash
# Runs station_wine_check: the UNC file system, the inbox and the relay
# against the real tindrel.exe, in a prefix of its own on a private display.
#   tests/gateway/station_side_wine.sh NATIVE_BUILD WINDOWS_BUILD
# Needs root and /dev/fuse. Stops everything it started, also on failure.
# Clones the booted template of $TINDREL_WINE_DIR when the test run has one.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
source "$root/scripts/winelib.sh"

dir="$native/station-wine"
mkdir -p "$dir"
prefix="$dir/prefix"
cleanup() {
    # A mount left by a crash would keep the prefix from being removed.
    umount -l "$prefix/dosdevices/unc" 2>/dev/null || true
    wl_stop "$dir"
    rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
wl_start_xvfb "$dir"
templates=${TINDREL_WINE_DIR:-$dir}
wl_template "$templates"
wl_clone "$templates" prefix "$prefix" >/dev/null
"$native/tests/station_wine_check" "$prefix" "$windows"
