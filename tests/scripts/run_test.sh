#!/usr/bin/env bash
# scripts/run.sh started again while its station runs, as the README tells a
# user to: once with no arguments (bring the hidden window back) and once with
# /S. The first station keeps running with its history, its window is shown
# again, and only the end of the first run stops its display and wineserver.
# The station's files go to a temporary XDG_DATA_HOME. Runs as root, as CI
# does, so SUDO_USER is cleared. Needs the Windows build in $TINDREL_BUILD/win64
# (scripts/test.sh makes it).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${TINDREL_BUILD:-$root/build}
source "$root/scripts/winelib.sh"
mkdir -p "$build"
# Beside the build, not in /tmp: a clone of the template is hard links.
xdg=$(mktemp -d "$build/run-test.XXXXXX")
data="$xdg/tindrel"
peek_exe="$build/win64/tools/lanpeek.exe"

fail() { echo "run_test: FAILED: $*" >&2; exit 1; }
# A process that has ended but that nobody reaped (an init that does not
# reap its adopted children leaves them so) counts as ended.
alive() { [ -r "/proc/$1/stat" ] && [[ $(cut -d')' -f2 "/proc/$1/stat") != " Z"* ]]; }
run() {
    env -u DISPLAY -u SUDO_USER TINDREL_SKIP_SETUP=1 TINDREL_BUILD="$build" XDG_DATA_HOME="$xdg" \
        "$root/scripts/run.sh" "$@"
}
# The display of the running station, from the record of the run that owns it.
display() { cut -d' ' -f5 "$data/owner"; }
peek() { DISPLAY=$(display) WINEPREFIX="$data/station" "$(wl_loader "$peek_exe")" "$peek_exe" "$@"; }
shown() { DISPLAY=$(display) xdotool search --onlyvisible --name "tindrel" >/dev/null; }
# A wineserver works in a directory named after its prefix's device and inode.
server_running() {
    local dir p
    dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$data/station" 2>/dev/null || echo "0 0"))
    for p in /proc/[0-9]*; do
        [[ $(readlink "$p/cwd" 2>/dev/null) == */"$dir" ]] && return 0
    done
    return 1
}

mkdir -p "$data"
# A booted template of this test run saves run.sh a wineboot.
if [ -f "${TINDREL_WINE_DIR:-/nonexistent}/template/.ready" ]; then
    wl_clone "$TINDREL_WINE_DIR" template "$data/template" >/dev/null
fi

run /H >"$xdg/first.log" 2>&1 &
first=$!
cleanup() {
    if kill -0 "$first" 2>/dev/null; then
        kill "$first" 2>/dev/null || true
        wait "$first" 2>/dev/null || true
    fi
    wl_stop "$data"
    rm -rf "$xdg"
}
trap cleanup EXIT

for _ in $(seq 1 240); do
    [ -s "$data/owner" ] && [ -f "$data/station/.tindrel-computer" ] && break
    kill -0 "$first" 2>/dev/null || fail "the first run ended: $(cat "$xdg/first.log")"
    sleep 0.5
done
xvfb=$(cat "$data/xvfb.pid" 2>/dev/null) || fail "the first run started no display"
pid=$(peek up 0 0 60000 | tr -d '\r') || fail "the station did not come up"
peek type "$pid" nobody "kept across starts" >/dev/null || fail "could not send from the station"
history=$(peek history "$pid")
[[ $history == *"kept across starts"* ]] || fail "no history entry: $history"
! shown || fail "started with /H, the window is shown"
server_running || fail "no wineserver seen for the station's prefix"

run >"$xdg/second.log" 2>&1 || fail "the second start failed: $(cat "$xdg/second.log")"
shown || fail "the second start did not bring the window back"
[ "$(peek history "$pid")" = "$history" ] || fail "the history changed with the second start"

# "." is the local mailslot: the running station gets the message.
run /S . "from a run beside it" >"$xdg/third.log" 2>&1 ||
    fail "/S beside the station failed: $(cat "$xdg/third.log")"
peek wait "$pid" history "from a run beside it" 1 20000 >/dev/null ||
    fail "the running station did not get the /S message"
[[ $(peek history "$pid") == *"kept across starts"* ]] || fail "the history was lost"
kill -0 "$first" 2>/dev/null || fail "the first run ended"
alive "$xvfb" || fail "the display was stopped"
server_running || fail "the wineserver was stopped"

# The station ends as a close message ends it; so does its run, with its display and server.
DISPLAY=$(display) WINEPREFIX="$data/station" "$(wl_wine)" taskkill /pid "$pid" >/dev/null 2>&1 || true
for _ in $(seq 1 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.2; done
! kill -0 "$first" 2>/dev/null || fail "the first run did not end with its station"
wait "$first" || fail "the first run ended with status $?"
! alive "$xvfb" || fail "the display of the first run is still running"
for _ in $(seq 1 50); do server_running || break; sleep 0.2; done
! server_running || fail "the wineserver of the first run is still running"
echo "run_test: passed (second start, /S beside a running station, end of the first run)"
