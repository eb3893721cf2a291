#!/usr/bin/env bash
# Runs station_wine_check: the UNC file system, the inbox and the relay
# against the real tindrel.exe, in a prefix of its own on a private display,
# as a gateway started as root runs them: the check mounts as root, then
# becomes an unprivileged test user, whose prefix it is and as whom Wine runs.
#   tests/gateway/station_side_wine.sh NATIVE_BUILD WINDOWS_BUILD
# Needs root and /dev/fuse. Stops everything it started and removes the user
# (its home holds the prefix), also on failure. Clones the booted template of
# $TINDREL_WINE_DIR when the test run has one.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
source "$root/scripts/winelib.sh"
source "$root/tests/testuser.sh"

# Its own name: other test runs on the machine add users of their own.
user=tdl-ss$$
dir="$native/station-wine"
mkdir -p "$dir"
prefix=
cleanup() {
    # A mount left by a crash would keep the home from being removed.
    [ -z "$prefix" ] || umount -l "$prefix/dosdevices/unc" 2>/dev/null || true
    local uid
    uid=$(id -u "$user" 2>/dev/null) || uid=
    tu_remove "$user"
    # Wine's server folders of the user's, and whatever else it left there.
    [ -z "$uid" ] || find /tmp -maxdepth 1 -uid "$uid" -exec rm -rf {} + 2>/dev/null || true
    wl_stop "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
home=$(tu_add "$user")
wl_start_xvfb "$dir"
templates=${TINDREL_WINE_DIR:-$dir}
wl_template "$templates"
# The user's clone: its folders and the files Wine rewrites are the user's
# (the registry, and the wineserver file of Debian's wrapper, made anew);
# every other file stays a hard link to the template, only read.
prefix="$home/prefix"
wl_clone "$templates" prefix "$prefix" >/dev/null
find "$prefix" -type d -exec chown "$user:" {} +
chown "$user:" "$prefix"/{system,user,userdef}.reg
rm -f "$prefix/wineserver"
# Made now, while nothing else runs: the first Wine programs of the check
# (the relay and a /S) start at once, and of two that both find the file
# missing, one fails ("error opening file descriptor for wineserver tmpdir
# file") and the gateway starts its relay a second time.
runuser -u "$user" -- env HOME="$home" WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
[ -f "$prefix/wineserver" ] || { echo "station side: no wineserver file in $prefix" >&2; exit 1; }
# Copies of the programs where the user can read them: the checkout may be
# out of its reach (/root is 0700).
install -d -o "$user" "$home/programs"
install -m 0755 -o "$user" "$windows/tindrel.exe" "$windows/gateway/relay/tindrel-relay.exe" \
    "$windows/tools/lanpeek.exe" "$home/programs/"
"$native/tests/station_wine_check" "$prefix" "$home/programs" "$user"
