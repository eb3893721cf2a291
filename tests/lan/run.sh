#!/usr/bin/env bash
# The cross-station acceptance suite over real network namespaces: first the
# namespace LAN and the test B-node on their own; then the gateway among
# Samba's name tools and nmbd as a WINS server; then three stations under
# tools/lan, each the real tindrel.exe with its own tindrel-gateway on a host
# of its own; then a 64-bit and a 32-bit station; then scripts/run.sh --lan
# inside a namespace whose interface plays the machine's network. Removes
# every namespace and stops every process it started, whether the tests pass
# or not. Needs root.
#   tests/lan/run.sh            builds what is missing, runs the suite
#   tests/lan/run.sh tests/lan/test_lan.py CrossStation.test_18_up_refuses_clashes_and_down_leaves_nothing
#                               one suite file, or the named tests of it in
#                               the order given
# The stations run as an account added for the run (tests/testuser.sh), with
# /dev/fuse open to it as on a Debian desktop; both are put back at the end.
# Uses $TINDREL_BUILD (default build/ of this checkout); the LAN state lives
# in that account's home, its logs are kept in $TINDREL_BUILD/lan-test-log;
# its namespaces are tdt-PID-*, its addresses 10.77.N.0/24.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/testuser.sh"
export TINDREL_BUILD=${TINDREL_BUILD:-$root/build}
export TINDREL_LAN_USER=tdt-lan
export TINDREL_LAN_DIR=/var/tmp/$TINDREL_LAN_USER/lan
export TINDREL_LAN_NETNS="tdt-$$-"
export TINDREL_LAN_SUBNET="10.77.$(($$ % 250 + 1))"
unset DISPLAY # never the user's desktop

python=$(command -v python3)
# What killed earlier runs left: their namespaces, their stations, their account.
"$python" -c "import sys; sys.path.insert(0, '$root/tools/lanlib'); import netns; netns.sweep_dead_runs('tdt-')"
[ ! -d "$TINDREL_LAN_DIR" ] || "$python" "$root/tools/lan" down >/dev/null 2>&1
id -u "$TINDREL_LAN_USER" >/dev/null 2>&1 || rm -rf "/var/tmp/$TINDREL_LAN_USER"
tu_add "$TINDREL_LAN_USER" >/dev/null || { echo "lan tests: cannot add the account $TINDREL_LAN_USER" >&2; exit 1; }
fuse_mode=$(stat -c %a /dev/fuse)
finish() {
    "$python" "$root/tools/lan" down >/dev/null 2>&1 || echo "lan tests: down failed" >&2
    rm -rf "$TINDREL_BUILD/lan-test-log"
    cp -r "$TINDREL_LAN_DIR/log" "$TINDREL_BUILD/lan-test-log" 2>/dev/null
    chmod "$fuse_mode" /dev/fuse
    tu_remove "$TINDREL_LAN_USER" || echo "lan tests: could not remove the account $TINDREL_LAN_USER" >&2
}
trap finish EXIT
chmod 0666 /dev/fuse
# Each in the background, so that a signal to this script stops it at once.
tests=
suite() {
    "$python" -W ignore::ResourceWarning "$@" &
    tests=$!
    wait $tests
}
trap 'kill -TERM $tests 2>/dev/null; exit 130' INT TERM
# Built once before any suite, so that each runs alone on a fresh checkout.
if [ -z "${TINDREL_SKIP_BUILD:-}" ]; then
    suite "$root/tools/lan" build || exit 1
    export TINDREL_SKIP_BUILD=1
fi
if [ $# -gt 0 ]; then
    suite "$@"
else
    suite "$root/tests/netns/test_netns.py" && suite "$root/tests/lan/test_peers.py" &&
        suite "$root/tests/lan/test_lan.py" &&
        suite "$root/tests/lan/test_kinds.py" && suite "$root/tests/lan/test_run_lan.py"
fi
