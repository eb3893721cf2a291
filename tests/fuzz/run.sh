#!/usr/bin/env bash
# Runs one fuzz target for $TINDREL_FUZZ_SECONDS (default 30) on its seeds
# and a working corpus that grows from run to run, and writes its row of
# scripts/fuzz.sh's table. Fails on a finding: a crash, a sanitizer report
# or a broken property; its input is kept under OUT/findings/NAME/.
#   tests/fuzz/run.sh NAME BINARY MAX_LEN OUT      (ctest's Fuzz.NAME)
set -euo pipefail
name=$1 binary=$2 max_len=$3 out=$4
seconds=${TINDREL_FUZZ_SECONDS:-30}
seeds=$(cd "$(dirname "$0")" && pwd)/corpus/$name
corpus=$out/corpus/$name artifacts=$out/findings/$name log=$out/logs/$name.log
mkdir -p "$corpus" "$artifacts" "$out/logs" "$out/rows"
rm -f "$out/rows/$name"

status=0
"$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
size=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
if [ "$status" -eq 0 ]; then
    result="no finding"
else
    input=$(grep -o "Test unit written to .*" "$log" | tail -1 | sed 's/Test unit written to //' || true)
    result="FINDING (exit $status${input:+, input $input})"
    echo "$name: see $log"
    grep -m3 -A2 'property failed\|runtime error\|ERROR: \(Address\|Leak\)Sanitizer\|SUMMARY:' "$log" || tail -20 "$log"
fi
echo "$name $seconds ${runs:-?} ${size:-?} $result" >"$out/rows/$name"
echo "$name: $seconds s, ${runs:-?} executions, corpus ${size:-?}, $result"
[ "$status" -eq 0 ]
