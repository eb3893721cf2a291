#!/usr/bin/env bash
# Runs one Windows program under Wine in a throw-away prefix cloned from the
# test run's template, then stops that prefix's wineserver and removes it.
# ctest uses it as the cross-compiling emulator, so every Wine test starts
# from the same clean prefix and tests can run side by side.
#
# Needs TINDREL_WINE_DIR (a directory holding a booted template, see
# winelib.sh); each run gets a virtual display of its own. Without
# TINDREL_WINE_DIR it runs plain `wine` in the current WINEPREFIX and DISPLAY.
#
# When Wine could not start the program at all, it starts it once more in a
# fresh prefix and adds a line to $TINDREL_WINE_DIR/wine-start-retries.log,
# which scripts/test.sh counts. Nothing else is ever run twice.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/winelib.sh"
# The Windows tests skip what needs a 32-bit program where none can run.
wl_runs_32bit || export TINDREL_NO_32BIT=1
loader=$(wl_loader "$1")

# Wine keeps WINEPREFIX from its programs; tests that look at the prefix
# (the folders behind \\NAME\ paths) read it from here.
if [ -z "${TINDREL_WINE_DIR:-}" ]; then
    export TINDREL_WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
    exec "$loader" "$@"
fi

prefix="" display_dir=""
cleanup() {
    [ -n "$prefix" ] || return 0
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
    WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1
    wl_stop "$display_dir"
    rm -rf "$prefix" "$display_dir" "$prefix.out"
    prefix=""
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# With wine32 installed, `wine` runs the 32-bit loader, which hands a 64-bit
# program to Wine's start.exe; start.exe creates the program's process with
# the 64-bit loader. When that loader dies before the program's process is
# set up (seen once in a hundred test runs, while a package was being
# installed beside them), start.exe prints exactly this and exits 1, the
# program never having run. A loader that exits at once gives the same.
# A 64-bit program now starts with wine64 itself, off that road; a program
# started through `wine` may still meet it.
not_started=$'Application could not be started, or no application associated with the specified file.\nShellExecuteEx failed: Internal error.'

run_once() {
    prefix=$(mktemp -d "$TINDREL_WINE_DIR/run.XXXXXX")
    rmdir "$prefix"
    wl_clone "$TINDREL_WINE_DIR" "$(basename "$prefix")" >/dev/null
    display_dir="$prefix.display"
    # A display of its own, with the X server's default client limit: every
    # open pop-up box holds a connection, and tests running side by side on
    # one display would together exhaust it.
    wl_start_xvfb "$display_dir" || exit 1
    TINDREL_WINEPREFIX="$prefix" WINEPREFIX="$prefix" "$loader" "$@" | tee "$prefix.out"
    return "${PIPESTATUS[0]}"
}

run_once "$@"
status=$?
if [ "$status" -eq 1 ] && [ "$(tr -d '\r' <"$prefix.out")" = "$not_started" ]; then
    echo "wine-exec: Wine did not start $1; starting it once more" >&2
    echo "$(date '+%F %T') $*" >>"$TINDREL_WINE_DIR/wine-start-retries.log"
    cleanup
    run_once "$@"
    status=$?
fi
exit "$status"
