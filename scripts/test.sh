#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what it needs, builds
# both ways, then runs ctest's labels (unit, fuzz, wine, soak, lan: see
# tests/CMakeLists.txt) with the Windows tests under Wine on private virtual
# displays, and stops what it started. Steps that want different things of
# the two cores run side by side: the native build, the unit tests and the
# fuzzing beside the Windows tests, which mostly wait on the stations they
# drive; the soak beside the network suite. Each step's output is shown when
# it ends; a summary of the steps and their seconds closes the run, also a
# failed one.
#   scripts/test.sh            everything
#   TINDREL_SKIP_SETUP=1 ...   skip the package check
#   TINDREL_FUZZ_SECONDS=N ... seconds per fuzz target (default 12)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export TINDREL_BUILD=${TINDREL_BUILD:-$root/build}
build=$TINDREL_BUILD
jobs=${TINDREL_JOBS:-$(nproc)}
source "$root/scripts/winelib.sh"
source "$root/scripts/testlib.sh"

[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

started=$SECONDS
logs="$build/test-logs"
rm -rf "$logs"
mkdir -p "$logs"
wine_dir="$build/wine"
summary=()      # one line per finished step
beside_pids=()  # steps running in the background, with their names and logs
beside_names=()

# A step's commands run as a job of their own, so that errexit holds inside
# them (a function called as `f || ...` runs without it). timed END COMMAND...
# also writes the status and the end time to END.
timed() {
    local end=$1 rc=0
    shift
    "$@" &
    wait $! || rc=$?
    echo "$rc $SECONDS" >"$end"
    return $rc
}
finished() { # NAME START END STATUS|stopped
    local result=passed
    [ "$4" = 0 ] || result="FAILED ($4)"
    [ "$4" != stopped ] || result=stopped
    summary+=("$(printf '[%4d s] %4d s  %-10s %s' $(($2 - started)) $(($3 - $2)) "$result" "$1")")
}
step() { # NAME COMMAND...: in the foreground; its output as it comes
    local name=$1 t=$SECONDS rc=0
    shift
    printf '\n== [%4d s] %s\n' $((t - started)) "$name"
    "$@" &
    wait $! || rc=$?
    finished "$name" "$t" "$SECONDS" "$rc"
    [ "$rc" -eq 0 ] || exit "$rc"
}
beside() { # NAME COMMAND...: in the background; its output when joined
    local name=$1 n=${#beside_pids[@]}
    shift
    printf '\n== [%4d s] %s (beside the next steps)\n' $((SECONDS - started)) "$name"
    echo "$SECONDS" >"$logs/beside-$n.start"
    timed "$logs/beside-$n.end" "$@" >"$logs/beside-$n.log" 2>&1 &
    beside_pids+=($!)
    beside_names+=("$name")
}
join() { # waits for every step started beside, shows its output and result
    local n rc t end
    for n in "${!beside_pids[@]}"; do
        [ -n "${beside_pids[n]}" ] || continue
        rc=0
        wait "${beside_pids[n]}" || rc=$?
        beside_pids[n]=""
        t=$(cat "$logs/beside-$n.start")
        end=$SECONDS
        [ -f "$logs/beside-$n.end" ] && read -r rc end <"$logs/beside-$n.end"
        printf '\n== [%4d s] %s: ended after %d s\n' $((t - started)) "${beside_names[n]}" $((end - t))
        cat "$logs/beside-$n.log"
        finished "${beside_names[n]}" "$t" "$end" "$rc"
        [ "$rc" -eq 0 ] || exit "$rc"
    done
}
# A step left running when the run fails: its processes, deepest first (a
# wine-exec.sh stops its own prefix when told to).
stop_tree() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do stop_tree "$child"; done
    kill "$1" 2>/dev/null || true
}
closing() {
    local status=$? n line
    for n in "${!beside_pids[@]}"; do
        [ -n "${beside_pids[n]}" ] || continue
        stop_tree "${beside_pids[n]}"
        wait "${beside_pids[n]}" 2>/dev/null || true
        finished "${beside_names[n]}" "$(cat "$logs/beside-$n.start")" "$SECONDS" stopped
    done
    wl_stop "$wine_dir"
    printf '\n== steps (start, seconds, result)\n'
    for line in "${summary[@]}"; do echo "$line"; done
    echo "wine start retried: $(tl_wine_retries "$wine_dir")"
    if [ "$status" -eq 0 ]; then
        printf '\n== [%4d s] all tests passed\n' $((SECONDS - started))
    else
        printf '\n== [%4d s] FAILED\n' $((SECONDS - started))
    fi
}
trap closing EXIT
trap 'exit 130' INT TERM

# A step that is one test runs it --verbose, so that its own summary (the
# unit count, the soak's figures, the network suites' cases) shows.
native() { tl_ctest native "$@"; }
win64() { tl_ctest win64 "$@"; }
# Beside the Windows tests, whose bounds on answer times hold for a station
# sharing the cores with other stations, not with a compiler or a fuzzer:
# the builds and the fuzzing take only what those tests leave (the fuzz
# targets run for their seconds all the same, with fewer executions). The
# unit tests, some of which time network exchanges, run at the usual priority.
native_build_unit_fuzz() {
    (cd "$root" && cmake --preset native -B "$build/native" -DTINDREL_WIN64_BUILD="$build/win64" >/dev/null)
    nice -n 19 cmake --build "$build/native" -j"$jobs"
    native -L unit --verbose
    echo
    nice -n 19 "$root/scripts/fuzz.sh" "${TINDREL_FUZZ_SECONDS:-12}"
    # What the network suite runs: the gateway as shipped (the Windows
    # programs are built already).
    echo
    nice -n 19 "$root/tools/lan" build
}
# Built beside the Windows tests, and the soak's build is the same tree.
lan_suite() { TINDREL_SKIP_BUILD=1 native -L lan --verbose; }

# Booted on a display of its own, which the end of the run stops.
wine_template() {
    tl_wine_up "$wine_dir"
    rm -f "$wine_dir/wine-start-retries.log"
}

beside "the booted Wine template the Windows tests clone" wine_template
step "Windows builds, 32-bit and 64-bit (MinGW-w64, static)" \
    env TINDREL_JOBS="$jobs" "$root/scripts/build.sh"
join
export TINDREL_WINE_DIR=$wine_dir

beside "native build and unit tests (AddressSanitizer, UBSan); fuzz targets (libFuzzer, bounded); the gateway's release build" \
    native_build_unit_fuzz
step "Windows tests under Wine: 64-bit station, 32-bit station (a subset), imports, scripts/run.sh and wine-exec.sh" \
    win64 -j"$(tl_jobs wine)" -L 'win64|win32|imports|scripts'
join

step "the gateway's station side under Wine (file system, inbox, relay)" native -L station-side --verbose
# The soak floods one station, the network suite mostly waits on names and
# datagrams: together they keep the cores under half busy.
beside "soak under Wine (short; the full one is scripts/soak.sh)" win64 -L soak --verbose
step "network suite: stations with their gateways on hosts in namespaces (tests/lan)" lan_suite
join
step "the Debian package: lintian, installed, a desktop user on a namespace LAN, purged" \
    native -L package --verbose
