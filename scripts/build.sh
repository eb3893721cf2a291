#!/usr/bin/env bash
# Builds the project's programs, each in the tree of its CMake preset
# (CMakePresets.json), configured once:
#   build/win32/tindrel.exe   32-bit x86, for Windows XP SP3 and later
#   build/win64/tindrel.exe   x86-64, for Windows XP x64 / Server 2003 SP2 and later
#   build/win64               also the Windows test programs, which drive
#                             either file, and the helpers of tools/lan
#   build/gateway             tindrel-gateway as shipped (no sanitizers)
#
#   scripts/build.sh                      both tindrel.exe and everything of build/win64
#   scripts/build.sh [PRESET:]TARGET...   only these; PRESET defaults to win64, e.g.
#                                         scripts/build.sh tindrel tindrel-relay gateway:tindrel-gateway
#   TINDREL_BUILD=DIR ...                 build in DIR instead of build/
#   TINDREL_JOBS=N ...                    N compile jobs (default: one per core)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}
jobs=${TINDREL_JOBS:-$(nproc)}

# The win64 tree's tests drive the 32-bit file too; it is named there.
declare -A setting=([win64]="TINDREL_STATION32=$build/win32/tindrel.exe")
# Configured when new, or when a tree configured elsewhere lacks the setting;
# otherwise cmake --build configures again by itself when a CMakeLists changes.
configured() {
    local preset=$1 cache="$build/$1/CMakeCache.txt" set=${setting[$1]:-}
    if [ ! -f "$cache" ] || { [ -n "$set" ] && ! grep -q "^${set%%=*}:[A-Z]*=${set#*=}\$" "$cache"; }; then
        (cd "$root" && cmake --preset "$preset" -B "$build/$preset" ${set:+"-D$set"} >/dev/null)
    fi
    echo "$build/$preset"
}

if [ $# -eq 0 ]; then
    cmake --build "$(configured win32)" -j"$jobs" --target tindrel
    cmake --build "$(configured win64)" -j"$jobs"
    exit 0
fi
declare -A targets=()
order=()
for spec in "$@"; do
    preset=win64
    [[ $spec == *:* ]] && preset=${spec%%:*}
    [ -n "${targets[$preset]+set}" ] || order+=("$preset")
    targets[$preset]+=" --target ${spec#*:}"
done
for preset in "${order[@]}"; do
    # shellcheck disable=SC2086
    cmake --build "$(configured "$preset")" -j"$jobs" ${targets[$preset]}
done
