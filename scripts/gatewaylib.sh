# Shell functions for running a station's tindrel-gateway, shared by the
# station launcher and tools/lan: waiting for its ready line, and the watch
# that starts it again when it ends while its station runs. Source it; it
# defines functions only.
#
#   gw_ready LOG PID [FROM] [SECONDS]
#                      waits until LOG, read from byte FROM on, holds the
#                      gateway's ready line; sets GW_SAID to what follows
#                      "ready: " (names and address). When PID ends first,
#                      or SECONDS (default 30) pass, sets GW_SAID to the
#                      gateway's own last line (it says what went wrong and
#                      what to do) and returns 1
#   gw_watch LOG GATEWAY ARGS...
#                      runs GATEWAY ARGS... and, once it has been ready,
#                      starts it again whenever it ends by itself (it clears
#                      the mount a killed gateway left, and registers the
#                      names again), saying so. Its caller appends its stdout
#                      and stderr to LOG; it only reads LOG. Returns 1 when
#                      the first start fails; on TERM, INT or HUP it ends the
#                      gateway (which releases the names) and returns 0

GW_READY='^tindrel-gateway: ready: '

# Running, and not ended waiting to be reaped.
gw_alive() {
    [ -r "/proc/$1/stat" ] && [[ $(cut -d')' -f2 "/proc/$1/stat" 2>/dev/null) != " Z"* ]]
}

# Sets GW_SAID rather than echoing it: run in a command substitution it
# would hold back the watch's signal traps until it returns.
gw_ready() {
    local log=$1 pid=$2 from=${3:-0} seconds=${4:-30} i ended=
    for ((i = 0; i <= seconds * 10; i++)); do
        gw_alive "$pid" || ended=1
        GW_SAID=$(tail -c +$((from + 1)) "$log" 2>/dev/null | grep -m1 "$GW_READY") &&
            { GW_SAID=${GW_SAID#tindrel-gateway: ready: }; return 0; }
        if [ -n "$ended" ]; then
            GW_SAID=$(tail -c +$((from + 1)) "$log" 2>/dev/null | grep '^tindrel-gateway: ' | tail -n1)
            GW_SAID=${GW_SAID:-the gateway ended without a word; see $log}
            return 1
        fi
        sleep 0.1
    done
    GW_SAID="the gateway was not ready within $seconds s; see $log"
    return 1
}

gw_note() {
    echo "tindrel: $(date +%T) $*" >&2
}

# Waits for the gateway to end; its exit status in GW_STATUS.
gw_reap() {
    wait "$1"
    GW_STATUS=$?
    # A signal to the watch interrupts the wait, not the gateway.
    while gw_alive "$1"; do
        wait "$1"
        GW_STATUS=$?
    done
}

gw_watch() {
    local log=$1
    shift
    local pid= stopping= first=1 failed= from
    set +e # a gateway's end is the watch's business, not a fault of its shell
    trap 'stopping=1; [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null' TERM INT HUP
    while [ -z "$stopping" ]; do
        from=$(stat -c %s "$log")
        "$@" &
        pid=$!
        if gw_ready "$log" "$pid" "$from"; then
            [ -n "$first" ] || gw_note "the gateway runs again: $GW_SAID"
            failed=
        elif [ -n "$first" ] || [ -n "$stopping" ]; then
            kill -TERM "$pid" 2>/dev/null
            gw_reap "$pid"
            [ -n "$stopping" ]
            return
        elif [ "$GW_SAID" != "$failed" ]; then
            # Said once, not every few seconds for as long as it lasts.
            gw_note "the gateway did not start again: $GW_SAID; trying every 5 s"
            failed=$GW_SAID
        fi
        first=
        gw_reap "$pid"
        pid=
        [ -z "$stopping" ] || break
        if [ -n "$failed" ]; then
            sleep 5 &
        else
            if [ "$GW_STATUS" -gt 128 ]; then
                gw_note "the gateway was ended by signal $((GW_STATUS - 128)); starting it again"
            else
                gw_note "the gateway ended with exit status $GW_STATUS; starting it again"
            fi
            sleep 1 &
        fi
        wait $! # a TERM ends this wait at once
    done
    return 0
}
