#!/usr/bin/env bash
# tindrel: runs Zorvanta tindrel (tindrel.exe under Wine) as the user who
# starts it, on their display, or on a virtual one when there is none.
#
#   tindrel [PROGRAM ARGUMENTS]          a station that reaches no other machine
#   tindrel --lan [--user NAME] [--computer NAME] [--workgroup NAME]
#                 [--interface IFNAME] [--wins ADDRESS] [--] [PROGRAM ARGUMENTS]
#                                        a station on this machine's network,
#                                        with a tindrel-gateway of its own
#   tindrel --autostart [--lan ...]      starts that station hidden (/H) at
#                                        each login (scripts/autostart.sh)
#   tindrel --no-autostart               no longer at login
#
# The Wine template, the station's prefix and the gateway's log live in
# $XDG_DATA_HOME/tindrel (~/.local/share/tindrel); the first run makes them.
# Started again while its station runs, it runs the program against that
# station (its display, prefix and names) and leaves it alone: to bring the
# window back, or to send with /S. The run that started the station stops
# the gateway, Wine and the virtual display when the station ends or on
# Ctrl+C. The gateway is watched: when it ends while the station runs, it
# is started again and the log says so.
#
# Installed, the program files are found from this script's place:
# ../lib/tindrel/win64/ (tindrel.exe, tindrel-relay.exe; win32/tindrel.exe
# without a 64-bit Wine) and ../sbin/tindrel-gateway. TINDREL_EXE,
# TINDREL_RELAY and TINDREL_GATEWAY name others (scripts/run.sh points them
# at the build tree). Sourced, it defines the tl_ functions and runs nothing.

tl_here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
if [ -f "$tl_here/winelib.sh" ]; then tl_lib=$tl_here; else tl_lib=$(readlink -m "$tl_here/../lib/tindrel"); fi
source "$tl_lib/winelib.sh"
source "$tl_lib/gatewaylib.sh"
TL_COMMAND=${TL_COMMAND:-tindrel}

tl_say() { echo "tindrel: $*" >&2; }
tl_fail() { tl_say "$*"; exit 1; }

# Sets tl_lan, tl_user, tl_computer, tl_workgroup, tl_interface, tl_wins and
# tl_args (the program's arguments) from the command line.
tl_parse() {
    tl_lan= tl_interface= tl_wins= tl_workgroup=WORKGROUP
    tl_user=${USER:-$(id -un)}
    tl_computer=$(hostname -s 2>/dev/null | tr '[:lower:]' '[:upper:]' | cut -c1-15)
    if [ "${1:-}" = --lan ]; then
        tl_lan=1
        shift
        while [ $# -gt 0 ]; do
            case $1 in
                --user|--computer|--workgroup|--interface|--wins)
                    [ $# -ge 2 ] && [ -n "$2" ] || tl_fail "$1 needs a value"
                    printf -v "tl_${1#--}" '%s' "$2"
                    shift 2 ;;
                --) shift; break ;;
                *) break ;;
            esac
        done
        local name
        for name in "$tl_user" "$tl_computer" "$tl_workgroup"; do
            [[ $name =~ ^[A-Za-z0-9][A-Za-z0-9_-]{0,14}$ ]] ||
                tl_fail "bad name '$name': 1 to 15 letters, digits, '-' or '_' (see --user, --computer, --workgroup)"
        done
    fi
    tl_args=("$@")
}

# A station and every file it makes belong to the desktop user who runs it.
tl_check_user() {
    [ "$(id -u)" -eq 0 ] || return 0
    if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
        tl_fail "run it as yourself, without sudo: $TL_COMMAND${tl_lan:+ --lan ...} (the files of a station belong to its user)"
    elif [ -n "$tl_lan" ]; then
        tl_fail "--lan runs a desktop user's station, not root's: run $TL_COMMAND --lan from that user's account (from root: runuser -u USER -- $TL_COMMAND --lan)"
    fi
}

tl_start_time() {
    cut -d')' -f2 "/proc/$1/stat" 2>/dev/null | cut -d' ' -f21
}

# True when the run that started a station still runs; sets tl_owner_mode,
# tl_owner_user and tl_owner_display.
tl_owner() {
    local pid start
    [ -f "$tl_data/owner" ] || return 1
    read -r pid start tl_owner_mode tl_owner_user tl_owner_display <"$tl_data/owner" || return 1
    # A pid of a run that has ended may have been handed out again.
    [ -n "$start" ] && [ "$(tl_start_time "$pid")" = "$start" ]
}

tl_stop() {
    local i
    if [ -n "${tl_watch:-}" ]; then
        # The gateway releases the names, unmounts and stops its relay.
        kill -TERM "$tl_watch" 2>/dev/null || true
        for i in $(seq 1 100); do gw_alive "$tl_watch" || break; sleep 0.1; done
        gw_alive "$tl_watch" || wait "$tl_watch" 2>/dev/null || true
    fi
    wl_stop "$tl_data"
    rm -f "$tl_data/owner"
}

tl_run() {
    local lib=$tl_lib bits=win64 mode=local loader prefix notes=() log i
    [ -z "$tl_lan" ] || mode=lan
    [ -x /usr/lib/wine/wine64 ] || bits=win32
    local exe=${TINDREL_EXE:-$lib/$bits/tindrel.exe}
    local relay=${TINDREL_RELAY:-$lib/win64/tindrel-relay.exe}
    local gateway=${TINDREL_GATEWAY:-$(readlink -m "$tl_here/../sbin/tindrel-gateway")}
    [ -f "$exe" ] || tl_fail "there is no $exe (in a checkout, start scripts/run.sh)"
    if [ -n "$tl_lan" ]; then
        [ -f "$relay" ] || tl_fail "there is no $relay (in a checkout, start scripts/run.sh)"
        [ -x "$gateway" ] || tl_fail "there is no $gateway (in a checkout, start scripts/run.sh)"
    fi
    [[ ${XDG_DATA_HOME:-} == /* ]] || XDG_DATA_HOME=${HOME:?HOME is not set}/.local/share
    tl_data=$XDG_DATA_HOME/tindrel
    mkdir -p "$tl_data"
    prefix=$tl_data/station
    loader=$(wl_loader "$exe")
    if tl_owner; then
        [ -f "$prefix/.tindrel-computer" ] || tl_fail "a station is starting here; try again in a moment"
        [ -z "$tl_lan" ] || [ "$tl_owner_mode" = lan ] ||
            tl_fail "a station without the network runs already: close it, then start $TL_COMMAND --lan"
        tl_say "a station runs here already (DISPLAY=$tl_owner_display); running the program against it"
        exec env DISPLAY="$tl_owner_display" WINEPREFIX="$prefix" USER="$tl_owner_user" \
            LOGNAME="$tl_owner_user" "$loader" "$exe" "${tl_args[@]}"
    fi

    trap tl_stop EXIT
    trap 'exit 130' INT TERM HUP
    if [ -z "${DISPLAY:-}" ]; then
        wl_start_xvfb "$tl_data" || exit 1
        notes+=("no display; started a virtual one on DISPLAY=$DISPLAY")
    fi
    echo "$$ $(tl_start_time $$) $mode $tl_user $DISPLAY" >"$tl_data/owner"
    [ -f "$tl_data/template/.ready" ] || tl_say "making the Wine prefix in $tl_data (once; about half a minute)"
    wl_template "$tl_data" || exit 1
    wl_prefix "$tl_data" station ${tl_lan:+"$tl_computer"} >/dev/null || exit 1

    if [ -n "$tl_lan" ]; then
        log=$tl_data/gateway.log
        : >"$log"
        gw_watch "$log" "$gateway" --user "$tl_user" --computer "$tl_computer" \
            --workgroup "$tl_workgroup" --prefix "$prefix" --relay "$relay" \
            ${tl_interface:+--interface "$tl_interface"} ${tl_wins:+--wins "$tl_wins"} >>"$log" 2>&1 &
        tl_watch=$!
        gw_ready "$log" "$tl_watch" || tl_fail "$GW_SAID"
        notes+=("$tl_user on $tl_computer in $tl_workgroup: $GW_SAID")
        notes+=("the gateway's log: $log")
    fi
    for i in "${notes[@]}"; do tl_say "$i"; done
    tl_say "Zorvanta tindrel is running; end it with its system menu \"&Close\" or Ctrl+C"
    # In the background, so that a signal ends the run, and with it everything, at once.
    WINEPREFIX="$prefix" USER="$tl_user" LOGNAME="$tl_user" "$loader" "$exe" "${tl_args[@]}" &
    wait $!
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    case ${1:-} in --autostart|--no-autostart) source "$tl_lib/autostart.sh"; as_main "$@"; exit ;; esac
    tl_parse "$@"
    tl_check_user
    tl_run
fi
