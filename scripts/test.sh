#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what it needs, builds
# both ways, runs the native unit tests under the sanitizers and the Windows
# tests under Wine on a private virtual display, and stops what it started.
#   scripts/test.sh            everything
#   TINDREL_SKIP_SETUP=1 ...   skip the package check
#   TINDREL_FUZZ_SECONDS=N ... seconds per fuzz target (default 12)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}
jobs=${TINDREL_JOBS:-2}
# Wine tests mostly wait on the stations they drive: three at a time keep
# two cores busy without starving any of them.
wine_jobs=${TINDREL_WINE_JOBS:-3}
source "$root/scripts/winelib.sh"

[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

started=$SECONDS
step() { printf '\n== [%4d s] %s\n' $((SECONDS - started)) "$*"; }

step "native build and unit tests (AddressSanitizer, UBSan)"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native" -j"$jobs"
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# One process for all of them: a sanitizer start per test would cost a minute.
"$build/native/tests/unit_tests" --gtest_brief=1

step "fuzz targets (libFuzzer, ASan + UBSan, bounded)"
"$root/scripts/fuzz.sh" "${TINDREL_FUZZ_SECONDS:-12}"

step "Windows builds, 32-bit and 64-bit (MinGW-w64, static)"
TINDREL_BUILD="$build" TINDREL_JOBS="$jobs" "$root/scripts/build.sh"

step "Windows tests under Wine, 64-bit station; what both files import"
wine_dir="$build/wine"
mkdir -p "$wine_dir"
trap 'wl_stop "$wine_dir"' EXIT
wl_start_xvfb "$wine_dir"
wl_template "$wine_dir"
export TINDREL_WINE_DIR="$wine_dir"
# Labels: win64, win32 (the station each test drives), imports (the check of
# both files against the Windows XP list).
ctest --test-dir "$build/win64" --output-on-failure -j"$wine_jobs" --timeout 300 -L 'win64|imports'

step "the gateway's station side under Wine (file system, inbox, relay)"
"$root/tests/gateway/station_side_wine.sh" "$build/native" "$build/win64"

step "Windows tests under Wine, 32-bit station (a subset)"
ctest --test-dir "$build/win64" --output-on-failure -j"$wine_jobs" --timeout 300 -L win32

step "scripts/run.sh started again beside its running station"
TINDREL_BUILD="$build" "$root/tests/scripts/run_test.sh"

step "soak under Wine (short; the full one is scripts/soak.sh)"
TINDREL_BUILD="$build" "$root/scripts/soak.sh" --quick

step "network suite: stations with their gateways on hosts in namespaces (tests/lan)"
TINDREL_BUILD="$build" "$root/tests/lan/run.sh"

step "all tests passed"
