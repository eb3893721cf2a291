#!/usr/bin/env bash
# Fuzzes the parsers of the portable modules with libFuzzer under
# AddressSanitizer and UBSan, each target for a bounded time, and fails when
# any target makes a finding (a crash, a sanitizer report or a broken property).
#   scripts/fuzz.sh                 every target for 30 s
#   scripts/fuzz.sh 1800            the long run: every target for 30 minutes
#   scripts/fuzz.sh 60 stamps       one target for 60 s
# The targets are ctest's fuzz tests of the native build ($TINDREL_BUILD/native,
# default build/native, configured with clang by the preset when new), run two
# at a time (TINDREL_FUZZ_JOBS). Seeds: tests/fuzz/corpus/<name>/ (read, never
# written); the growing working corpora, logs and the inputs of findings go to
# the build's fuzz/ folder. The closing table and summary line are in the
# form of the README's Reliability section.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${TINDREL_FUZZ_SECONDS:-30}}
[ $# -gt 0 ] && shift
native=${TINDREL_BUILD:-$root/build}/native
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2; }
for target in "$@"; do
    [ -f "$root/tests/fuzz/${target}_fuzz.cpp" ] || { echo "fuzz.sh: no target $target" >&2; exit 2; }
done

[ -f "$native/CMakeCache.txt" ] || (cd "$root" && cmake --preset native -B "$native" >/dev/null)
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$native/CMakeCache.txt")
if ! grep -q '^TINDREL_SANITIZE:BOOL=ON' "$native/CMakeCache.txt" || [[ $(basename "$cxx") != clang* ]]; then
    echo "fuzz.sh: $native is built with $cxx or without sanitizers; libFuzzer needs clang: remove it, or configure with cmake --preset native" >&2
    exit 2
fi
cmake --build "$native" -j"${TINDREL_JOBS:-2}" --target fuzz_targets >/dev/null
selection=()
[ $# -eq 0 ] || selection=(-R "^Fuzz\.($(IFS='|'; echo "$*"))\$")

rm -rf "$native/fuzz/rows"
status=0
TINDREL_FUZZ_SECONDS=$seconds ctest --test-dir "$native" -L fuzz "${selection[@]}" \
    -j"${TINDREL_FUZZ_JOBS:-2}" --timeout $((seconds + 120)) --output-on-failure || status=$?

grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
total=0 findings=0 count=0
echo
echo "| Fuzz target | Time | Executions | Corpus | Result |"
echo "|---|---|---|---|---|"
for row in "$native"/fuzz/rows/*; do
    [ -f "$row" ] || continue
    read -r name secs runs size result <"$row"
    echo "| $name | $secs s | $(grouped "$runs") | $size | $result |"
    [ "$result" = "no finding" ] || findings=$((findings + 1))
    [[ $runs =~ ^[0-9]+$ ]] && total=$((total + runs))
    count=$((count + 1))
done
echo
printf 'Fuzzing: %d targets x %s s, %s executions, findings: %d (scripts/fuzz.sh %s; %s, libFuzzer, ASan + UBSan)\n' \
    "$count" "$seconds" "$(grouped "$total")" "$findings" "$seconds" "$("$cxx" --version | head -1)"
[ "$status" -eq 0 ] && [ "$findings" -eq 0 ] && [ "$count" -gt 0 ]
