#!/usr/bin/env bash
# Runs one ctest label, or the tests matching a pattern, several times in a
# row as the test command runs them, optionally beside a load of its own,
# and prints which tests failed in which run: to tell a flaky test from a
# broken one, and to see whether a mend holds.
#   scripts/repeat.sh LABEL [RUNS] [--load[=build|apt]] [--lock FILE]
#   scripts/repeat.sh -R REGEX [RUNS] [...]
#     RUNS        how many runs (default 3)
#     --load      a from-scratch build of the native unit tests at -j2,
#                 over and over, beside each run (--load=build); or
#                 --load=apt: `apt-get install --reinstall` of a small
#                 package in a loop, with its dpkg triggers
#     --lock FILE each run holds FILE (flock) while it runs, load included
# Builds nothing: run scripts/test.sh (or the builds) first. Each run's
# ctest output and JUnit file stay in $TINDREL_BUILD/repeat/SELECTION/; the table at
# the end has a row per test that failed at least once (cases inside a
# test, gtest's or unittest's, as rows of their own), a column per run
# (. passed, F failed, T timed out, - not run), and the totals.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export TINDREL_BUILD=${TINDREL_BUILD:-$root/build}
source "$root/scripts/winelib.sh"
source "$root/scripts/testlib.sh"

usage() { sed -n '6,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
label="" regex="" runs=3 load="" lock=""
while [ $# -gt 0 ]; do
    case $1 in
        -R) [ $# -ge 2 ] || usage; regex=$2; shift ;;
        --load | --load=build) load=build ;;
        --load=apt) load=apt ;;
        --lock) [ $# -ge 2 ] || usage; lock=$2; shift ;;
        -h | --help) usage ;;
        -*) echo "repeat.sh: unknown option $1" >&2; usage ;;
        *)
            if [ -z "$label" ] && [ -z "$regex" ]; then label=$1
            elif [[ $1 =~ ^[1-9][0-9]*$ ]]; then runs=$1
            else echo "repeat.sh: '$1' is neither a label nor a number of runs" >&2; usage; fi ;;
    esac
    shift
done
[ -n "$label$regex" ] || usage

# The trees to run in: the label's, or, for a pattern, both (the Windows
# tests are listed only when they run, inside a prefix of the run's own).
selection=(-R "$regex") trees=(native win64)
if [ -n "$label" ]; then
    selection=(-L "$label")
    trees=("$(tl_tree "$label")")
fi
for tree in "${trees[@]}"; do
    [ -f "$TINDREL_BUILD/$tree/CTestTestfile.cmake" ] ||
        { echo "repeat.sh: $TINDREL_BUILD/$tree is not built: run scripts/test.sh first" >&2; exit 2; }
done
jobs_of() { if [ "$1" = win64 ]; then tl_jobs "${label:-wine}"; else tl_jobs "${label:-unit}"; fi; }

# One folder per selection, so that two selections can be repeated side by side.
out="$TINDREL_BUILD/repeat/$(tr -c 'A-Za-z0-9_.-' _ <<<"${label:-R-$regex}" | sed 's/_$//')"
rm -rf "$out"
mkdir -p "$out"
# The test command's template, cloned: a Wine folder of this selection's own.
wine_dir="$out/wine"

# The load: its own process group, so that one kill stops every compiler;
# bounded by the run it stands beside and, whatever happens, by an hour.
load_pid=""
start_load() {
    case $load in
        build)
            local tree="$out/load-build"
            (cd "$root" && cmake --preset native -B "$tree" >/dev/null) || return 1
            setsid timeout 3600 bash -c 'while :; do
                cmake --build "$1" -j2 --target clean >/dev/null
                cmake --build "$1" -j2 --target unit_tests >/dev/null 2>&1 || sleep 5
            done' load "$tree" &
            ;;
        apt)
            # A package with manual pages: its reinstall runs man-db's trigger.
            setsid timeout 3600 bash -c 'while :; do
                flock /tmp/tindrel-apt.lock apt-get install -y --reinstall --no-install-recommends xauth >/dev/null 2>&1
                sleep 1
            done' &
            ;;
        *) return 0 ;;
    esac
    load_pid=$!
}
stop_load() {
    [ -n "$load_pid" ] || return 0
    kill -TERM -- "-$load_pid" 2>/dev/null
    wait "$load_pid" 2>/dev/null
    load_pid=""
}
cleanup() {
    stop_load
    wl_stop "$wine_dir"
    rm -rf "$out/load-build" "$wine_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

one_run() {
    local n=$1 tree status=0
    if [[ ! $label =~ ^(unit|case|fuzz)$ ]]; then
        tl_wine_up "$wine_dir" "$TINDREL_BUILD/wine" || return 1
        rm -f "$wine_dir/wine-start-retries.log"
    fi
    start_load || return 1
    for tree in "${trees[@]}"; do
        tl_ctest "$tree" -j"$(jobs_of "$tree")" "${selection[@]}" --output-junit "$out/run-$n-$tree.xml" \
            >"$out/run-$n-$tree.log" 2>&1 || status=1
    done
    stop_load
    echo "$(tl_wine_retries "$wine_dir")" >"$out/run-$n.retries"
    wl_stop "$wine_dir"
    return $status
}

# The machine's busy share of its cores over a run, from /proc/stat.
cpu_ticks() { awk '/^cpu /{ print $2+$3+$4+$7+$8, $5+$6 }' /proc/stat; }
busy_since() {
    local b0 i0 b1 i1
    read -r b0 i0 <<<"$1"
    read -r b1 i1 <<<"$(cpu_ticks)"
    echo $(( (b1 - b0) * 100 / (b1 - b0 + i1 - i0 + 1) ))
}

began=$SECONDS
for n in $(seq 1 "$runs"); do
    [ -z "$lock" ] || { exec 9>"$lock" && flock 9; } || exit 1
    t=$SECONDS
    ticks=$(cpu_ticks)
    one_run "$n"
    status=$?
    busy=$(busy_since "$ticks")
    if ! grep -qs '<testcase' "$out/run-$n"-*.xml; then
        echo "repeat.sh: no test matches${label:+ label} '${label:-$regex}'" >&2
        exit 2
    fi
    [ -z "$lock" ] || exec 9>&-
    result=passed
    [ $status -eq 0 ] || result="FAILED: $(grep -h -A1000 'The following tests FAILED' "$out/run-$n"-*.log | tail -n +2 | sed 's/^\t*//' | tr '\n' ';')"
    printf 'run %d of %d: %d s, cores %d%% busy, %s\n' "$n" "$runs" $((SECONDS - t)) "$busy" "$result"
done

python3 - "$out" "$runs" $((SECONDS - began)) "${load:-none}" <<'EOF'
import glob, os, re, sys
import xml.etree.ElementTree as ET

out, runs, seconds, load = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
# Cases inside one ctest test: GoogleTest's and unittest's failure lines.
inner = [re.compile(r'^\[  FAILED  \] ([\w./]+)(?: \(\d+ ms\))?$', re.M),
         re.compile(r'^(?:FAIL|ERROR): (\w+) \(([\w.]+)\)', re.M)]
marks = {}  # test -> {run: mark}
counted = set()
retries = 0
for n in range(1, runs + 1):
    try:
        retries += int(open(os.path.join(out, f'run-{n}.retries')).read() or 0)
    except (OSError, ValueError):
        pass
    for path in glob.glob(os.path.join(out, f'run-{n}-*.xml')):
        try:
            cases = ET.parse(path).getroot().iter('testcase')
        except ET.ParseError:
            continue
        for case in cases:
            name = case.get('name')
            counted.add(name)
            failure = case.find('failure')
            status = case.get('status', '')
            if failure is None and status != 'notrun':
                marks.setdefault(name, {})[n] = '.'
                continue
            text = (failure.get('message', '') if failure is not None else '') + \
                   (case.findtext('system-out') or '')
            mark = 'T' if 'Timeout' in text else ('-' if status == 'notrun' else 'F')
            marks.setdefault(name, {})[n] = mark
            for pattern in inner:
                for m in pattern.finditer(text):
                    case_name = m.group(1)
                    if m.lastindex == 2:  # unittest: "test (module.Class)", or ".Class.test)" from 3.11
                        case_name = m.group(2) if m.group(2).endswith('.' + case_name) else m.group(2) + '.' + case_name
                    if name.endswith(case_name):  # the test is that one case
                        continue
                    inner_name = name + ' > ' + case_name
                    marks.setdefault(inner_name, {})[n] = 'F'

# A case that did not fail passed where its test ran.
for t, by in marks.items():
    if ' > ' in t:
        outer = marks.get(t.split(' > ')[0], {})
        for n, mark in outer.items():
            by.setdefault(n, '.' if mark in '.F' else mark)
# A test skipped in a run (ctest's "notrun") has not failed there: the win32
# tests on a machine that runs no 32-bit programs.
failing = sorted(t for t, by in marks.items() if any(v in 'FT' for v in by.values()))
skipped = [t for t, by in marks.items() if by and all(v == '-' for v in by.values())]
print()
print(f'{runs} runs, {seconds} s, load: {load}; {len(counted)} tests, '
      f'{len(failing)} failed at least once, {len(skipped)} skipped in every run; wine start retried: {retries}')
if failing:
    width = max(len(t) for t in failing)
    print(f'{"test":<{width}}  ' + ' '.join(f'{n:>2}' for n in range(1, runs + 1)) + '  failed')
    for t in failing:
        by = marks[t]
        row = ' '.join(f'{by.get(n, "-"):>2}' for n in range(1, runs + 1))
        print(f'{t:<{width}}  {row}  {sum(v in "FT" for v in by.values())}/{runs}')
fails = [sum(marks[t].get(n, '.') in 'FT' for t in marks if ' > ' not in t) for n in range(1, runs + 1)]
print('failed tests per run: ' + ' '.join(map(str, fails)))
print(f'logs: {out}/run-N-TREE.log')
sys.exit(1 if any(fails) else 0)
EOF
