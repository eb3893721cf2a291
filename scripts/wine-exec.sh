#!/usr/bin/env bash
# Runs one Windows program under Wine in a throw-away prefix cloned from the
# test run's template, then stops that prefix's wineserver and removes it.
# ctest uses it as the cross-compiling emulator, so every Wine test starts
# from the same clean prefix and tests can run side by side.
#
# Needs TINDREL_WINE_DIR (a directory holding a booted template, see
# winelib.sh); each run gets a virtual display of its own. Without
# TINDREL_WINE_DIR it runs plain `wine` in the current WINEPREFIX and DISPLAY.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/winelib.sh"

# Wine keeps WINEPREFIX from its programs; tests that look at the prefix
# (the folders behind \\NAME\ paths) read it from here.
if [ -z "${TINDREL_WINE_DIR:-}" ]; then
    export TINDREL_WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
    exec wine "$@"
fi

prefix=$(mktemp -d "$TINDREL_WINE_DIR/run.XXXXXX")
rmdir "$prefix"
wl_clone "$TINDREL_WINE_DIR" "$(basename "$prefix")" >/dev/null
display_dir="$prefix.display"
cleanup() {
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1
    wl_stop "$display_dir"
    rm -rf "$prefix" "$display_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# A display of its own, with the X server's default client limit: every open
# pop-up box holds a connection, and tests running side by side on one
# display would together exhaust it.
wl_start_xvfb "$display_dir" || exit 1
TINDREL_WINEPREFIX="$prefix" WINEPREFIX="$prefix" wine "$@"
