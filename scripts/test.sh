#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what it needs, builds
# both ways, then runs ctest's labels one step at a time (unit, fuzz, wine,
# soak, lan: see tests/CMakeLists.txt) with the Windows tests under Wine on a
# private virtual display, and stops what it started.
#   scripts/test.sh            everything
#   TINDREL_SKIP_SETUP=1 ...   skip the package check
#   TINDREL_FUZZ_SECONDS=N ... seconds per fuzz target (default 12)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export TINDREL_BUILD=${TINDREL_BUILD:-$root/build}
build=$TINDREL_BUILD
jobs=${TINDREL_JOBS:-$(nproc)}
# Wine tests mostly wait on the stations they drive: three at a time keep
# two cores busy without starving any of them.
wine_jobs=${TINDREL_WINE_JOBS:-3}
source "$root/scripts/winelib.sh"

[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

started=$SECONDS
step() { printf '\n== [%4d s] %s\n' $((SECONDS - started)) "$*"; }
# A step that is one test runs it --verbose, so that its own summary (the
# unit count, the soak's figures, the network suites' cases) shows.
native() { ctest --test-dir "$build/native" --output-on-failure "$@"; }
win64() { ctest --test-dir "$build/win64" --output-on-failure --timeout 300 "$@"; }

step "native build and unit tests (AddressSanitizer, UBSan)"
(cd "$root" && cmake --preset native -B "$build/native" -DTINDREL_WIN64_BUILD="$build/win64" >/dev/null)
cmake --build "$build/native" -j"$jobs"
native -L unit --verbose

step "fuzz targets (libFuzzer, ASan + UBSan, bounded)"
"$root/scripts/fuzz.sh" "${TINDREL_FUZZ_SECONDS:-12}"

step "Windows builds, 32-bit and 64-bit (MinGW-w64, static)"
TINDREL_JOBS="$jobs" "$root/scripts/build.sh"

step "Windows tests under Wine, 64-bit station; what both files import"
wine_dir="$build/wine"
mkdir -p "$wine_dir"
trap 'wl_stop "$wine_dir"' EXIT
wl_start_xvfb "$wine_dir"
wl_template "$wine_dir"
export TINDREL_WINE_DIR="$wine_dir"
win64 -j"$wine_jobs" -L 'win64|imports'

step "the gateway's station side under Wine (file system, inbox, relay)"
native -L station-side --verbose

step "Windows tests under Wine, 32-bit station (a subset)"
win64 -j"$wine_jobs" -L win32

step "scripts/run.sh started again beside its running station"
win64 -L scripts --verbose

step "soak under Wine (short; the full one is scripts/soak.sh)"
win64 -L soak --verbose

step "network suite: stations with their gateways on hosts in namespaces (tests/lan)"
native -L lan --verbose

step "the Debian package: lintian, installed, a desktop user on a namespace LAN, purged"
native -L package --verbose

step "all tests passed"
