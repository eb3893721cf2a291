#!/usr/bin/env bash
# The cross-station acceptance suites under tools/lan, each station the real
# tindrel.exe in a Wine prefix of its own, on a private virtual display:
# three 64-bit stations (test_lan.py), then a 64-bit and a 32-bit one
# (test_kinds.py). Stops every station it started, whether the tests pass or not.
#   tests/lan/run.sh            builds what is missing, runs the suite
# Uses $TINDREL_BUILD (default build/ of this checkout) and keeps its LAN
# state in $TINDREL_BUILD/lan-test, apart from a LAN started by hand.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
export TINDREL_BUILD=${TINDREL_BUILD:-$root/build}
export TINDREL_LAN_DIR=$TINDREL_BUILD/lan-test
unset DISPLAY TINDREL_SKIP_BUILD # never the user's desktop; the first start builds

python=$(command -v python3)
"$python" "$root/tools/lan" down >/dev/null 2>&1 # what a killed earlier run left
trap '"$python" "$root/tools/lan" down >/dev/null 2>&1 || echo "lan tests: down failed" >&2' EXIT
# In the background, so that a signal to this script stops the tests at once.
status=0
for suite in test_lan.py test_kinds.py; do
    "$python" "$root/tests/lan/$suite" &
    tests=$!
    trap 'kill -TERM $tests 2>/dev/null; exit 130' INT TERM
    wait $tests || status=1
done
exit $status
