#!/usr/bin/env bash
# Fuzzes the parsers of the portable modules with libFuzzer under
# AddressSanitizer and UBSan, each target for a bounded time, and fails when
# any target makes a finding (a crash, a sanitizer report or a broken property).
#   scripts/fuzz.sh                 every target for 30 s
#   scripts/fuzz.sh 1800            the long run: every target for 30 minutes
#   scripts/fuzz.sh 60 stamps       one target for 60 s
# Targets: tests/fuzz/<name>_fuzz.cpp; seeds: tests/fuzz/corpus/<name>/ (read,
# never written). Binaries, the growing working corpora, logs and the inputs of
# findings go to $TINDREL_BUILD/fuzz (default build/fuzz). The closing table
# and summary line are in the form of the README's Reliability section.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${TINDREL_FUZZ_SECONDS:-30}}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(datagram commandline stamps netbiosname nameservice nbdatagram)
out=${TINDREL_BUILD:-$root/build}/fuzz
cxx=${TINDREL_FUZZ_CXX:-clang++}

declare -A max_len=([datagram]=4096 [commandline]=1024 [stamps]=4096 [netbiosname]=64 [nameservice]=1024
                   [nbdatagram]=1024)
sources=(transport/Record.cpp transport/ReceiveBook.cpp presentation/HistoryText.cpp
         presentation/Stamps.cpp shell/CommandLine.cpp gateway/codec/NetbiosName.cpp
         gateway/codec/NameService.cpp gateway/codec/Datagram.cpp gateway/codec/MailslotWrite.cpp)
flags=(-std=c++17 -g -O1 -Wall -Wextra -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=all -I"$root")

if ! command -v "$cxx" >/dev/null; then
    echo "fuzz.sh: $cxx not found (apt-get install clang libclang-rt-14-dev)" >&2
    exit 2
fi

mkdir -p "$out/obj" "$out/bin" "$out/logs"
printf '== building %d fuzz targets with %s\n' "${#targets[@]}" "$("$cxx" --version | head -1)"
objects=()
for source in "${sources[@]}"; do
    object="$out/obj/$(basename "$source" .cpp).o"
    "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$root/$source" -o "$object"
    objects+=("$object")
done
for target in "${targets[@]}"; do
    [ -f "$root/tests/fuzz/${target}_fuzz.cpp" ] || { echo "fuzz.sh: no target $target" >&2; exit 2; }
    "$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/tests/fuzz/${target}_fuzz.cpp" "${objects[@]}" \
           -o "$out/bin/${target}_fuzz"
done

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
rows=() total=0 findings=0
grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
for target in "${targets[@]}"; do
    corpus="$out/corpus/$target" artifacts="$out/findings/$target" log="$out/logs/$target.log"
    mkdir -p "$corpus" "$artifacts"
    printf '== fuzzing %s for %s s\n' "$target" "$seconds"
    status=0
    "$out/bin/${target}_fuzz" -max_total_time="$seconds" -max_len="${max_len[$target]:-4096}" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    size=$(grep -o 'corp: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    if [ "$status" -eq 0 ]; then
        result="no finding"
    else
        findings=$((findings + 1))
        input=$(grep -o "Test unit written to .*" "$log" | tail -1 | sed 's/Test unit written to //' || true)
        result="FINDING (exit $status${input:+, input $input})"
        echo "-- $target: see $log"
        grep -m3 -A2 'property failed\|runtime error\|ERROR: \(Address\|Leak\)Sanitizer\|SUMMARY:' "$log" || tail -20 "$log"
    fi
    total=$((total + ${runs:-0}))
    rows+=("| $target | $seconds s | $(grouped "${runs:-?}") | ${size:-?} | $result |")
done

echo
echo "| Fuzz target | Time | Executions | Corpus | Result |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
printf 'Fuzzing: %d targets x %s s, %s executions, findings: %d (scripts/fuzz.sh %s; %s, libFuzzer, ASan + UBSan)\n' \
    "${#targets[@]}" "$seconds" "$(grouped "$total")" "$findings" "$seconds" "$("$cxx" --version | head -1)"
[ "$findings" -eq 0 ]
