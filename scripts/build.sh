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

cmake -S "$root" -B "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build/win32" -j"$jobs" --target tindrel

cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINDREL_STATION32="$build/win32/tindrel.exe" >/dev/null
cmake --build "$build/win64" -j"$jobs" "${targets[@]}"
