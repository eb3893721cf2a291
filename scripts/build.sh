#!/usr/bin/env bash
# Builds tindrel.exe for both kinds of Windows, each statically linked:
#   build/win32/tindrel.exe   32-bit x86, for Windows XP SP3 and later
#   build/win64/tindrel.exe   x86-64, for Windows XP x64 / Server 2003 SP2 and later
# build/win64 also holds the Windows test programs, which drive either file,
# and the helpers of tools/lan.
#   scripts/build.sh                    everything
#   scripts/build.sh tindrel            the two programs only
#   TINDREL_BUILD=DIR ...               build in DIR instead of build/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}
jobs=${TINDREL_JOBS:-2}
targets=()
for t in "$@"; do targets+=(--target "$t"); done

(cd "$root" && cmake --preset win32 -B "$build/win32" >/dev/null)
cmake --build "$build/win32" -j"$jobs" --target tindrel

(cd "$root" && cmake --preset win64 -B "$build/win64" -DTINDREL_STATION32="$build/win32/tindrel.exe" >/dev/null)
cmake --build "$build/win64" -j"$jobs" "${targets[@]}"
