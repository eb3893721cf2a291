#!/usr/bin/env bash
# Soak of the real tindrel.exe under Wine: one station on a virtual display
# of its own (the X server's default client limit), flooded with hostile
# datagrams between valid messages by tests/soak/SoakDriver.cpp, which
# closes the pop-up boxes as they come and checks what the station owes.
# Then this script checks that the station still runs, that it wrote no
# file anywhere, and stops everything it started. Bounded and self-stopping.
#
#   scripts/soak.sh                 the full soak: 10,000 hostile datagrams
#   scripts/soak.sh --quick         a short one (1,000) for the test command
#   SOAK_DATAGRAMS=N SOAK_SEED=S    other sizes and draws
# Uses $TINDREL_BUILD (default build/): brings win64/tindrel.exe and the
# driver (target soak_driver) up to date there and keeps the logs in
# $TINDREL_BUILD/soak; reuses the Wine template of $TINDREL_WINE_DIR when
# there is one. ctest's Soak.Quick (label soak, in the win64 build) is --quick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}
source "$root/scripts/winelib.sh"

# The driver's own budget; with set-up and clean-up the whole run stays
# under ten minutes (five with --quick).
datagrams=${SOAK_DATAGRAMS:-10000}
seconds=540
receipt_budget=20
if [ "${1:-}" = "--quick" ]; then
    datagrams=${SOAK_DATAGRAMS:-1000}
    seconds=270
    receipt_budget=5
fi
seed=${SOAK_SEED:-$(date +%s)}

exe="$build/win64/tindrel.exe"
"$root/scripts/build.sh" tindrel soak_driver >/dev/null
driver="$build/win64/tests/soak_driver.exe"

began=$SECONDS
work=$(mktemp -d /tmp/soak-XXXXXX)
prefix="$work/prefix"
station=""
cleanup() {
    local t=$SECONDS
    if [ -n "$station" ] && kill -0 "$station" 2>/dev/null; then kill "$station" 2>/dev/null || true; fi
    if [ -d "$prefix" ]; then
        WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$prefix" timeout 30 wineserver -w >/dev/null 2>&1 || true
    fi
    wl_stop "$work"
    # The logs of the last run stay for a look afterwards.
    mkdir -p "$build/soak"
    cp "$work"/*.log "$build/soak/" 2>/dev/null || true
    rm -rf "$work"
    echo "soak: stopped the station, its wineserver and Xvfb in $((SECONDS - t)) s"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wl_start_xvfb "$work"
template="${TINDREL_WINE_DIR:-}/template"
if [ -n "${TINDREL_WINE_DIR:-}" ] && [ -f "$template/.ready" ]; then
    wl_clone "$TINDREL_WINE_DIR" prefix "$prefix" >/dev/null
else
    wl_template "$work"
    mv "$work/template" "$prefix"
fi
export WINEPREFIX="$prefix"
# A crash ends the process instead of waiting behind a dialog.
"$(wl_wine)" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1

# The soaker's mailslot, and a file where forged senders point.
unc="$prefix/dosdevices/unc"
mkdir -p "$unc/soaker/mailslot" "$work/probe/mailslot"
mkfifo "$unc/soaker/mailslot/messngr"
: >"$work/probe/mailslot/messngr"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
sleep 1
touch "$work/before"
unc_before=$(cd "$unc" && find . | sort)

"$(wl_loader "$exe")" "$exe" >"$work/station.log" 2>&1 &
station=$!
echo "soak: $datagrams hostile datagrams, seed $seed, station pid $station, set up in $((SECONDS - began)) s"
rc=0
timeout $((seconds + 30)) "$(wl_loader "$driver")" "$driver" unix-pid="$station" datagrams="$datagrams" seed="$seed" \
    seconds="$seconds" receipt-budget="$receipt_budget" fifo="$(winpath "$unc/soaker/mailslot/messngr")" \
    probe="$(winpath "$work/probe")" 2>"$work/driver-stderr.log" | tee "$work/driver.log" || rc=$?

crashes=0
if ! kill -0 "$station" 2>/dev/null; then
    echo "soak: the station's process has ended"
    crashes=1
fi
if grep -qiE 'unhandled exception|page fault|backtrace' "$work/station.log"; then
    echo "soak: the station reported a crash:"; head -20 "$work/station.log"
    crashes=1
fi
# Nothing may have appeared where names lead, nor anywhere in the prefix.
unc_after=$(cd "$unc" && find . | sort)
created=$(find "$prefix" "$work/probe" -newer "$work/before" \( -type f -o -type p \) \
          ! -name '*.reg' ! -path "$unc/soaker/mailslot/messngr" | head -20)
if [ "$unc_before" != "$unc_after" ] || [ -n "$created" ]; then
    echo "soak: files appeared:"; diff <(echo "$unc_before") <(echo "$unc_after") || true
    echo "$created"
    rc=1
fi
[ "$crashes" -eq 0 ] || rc=1
echo "soak: station crashes=$crashes, files created=$(echo -n "$created" | grep -c . || true), rc=$rc, $((SECONDS - began)) s"
exit "$rc"
