# How the test command runs a ctest label, shared by scripts/test.sh and
# scripts/repeat.sh so that a label repeated by hand runs as it does in the
# test command: in its build tree, as many at a time, with the same Wine
# environment. Source it after winelib.sh; it defines functions only.
#
#   tl_tree LABEL            echoes the build tree (native or win64) whose
#                            ctest holds LABEL
#   tl_ctest TREE ARGS...    ctest in $TINDREL_BUILD/TREE as the test command
#                            runs it (output on failure; Windows tests time
#                            out after 300 s)
#   tl_jobs LABEL            echoes how many tests of LABEL run at a time
#   tl_wine_up DIR [FROM]    a display and the booted Wine template in DIR,
#                            exported as TINDREL_WINE_DIR for wine-exec.sh;
#                            with FROM, DIR's template is a clone of FROM's
#                            (made there once). wl_stop DIR stops them
#   tl_wine_retries DIR      echoes how many times wine-exec.sh started a
#                            program again since the template was made

tl_tree() {
    case $1 in
        unit | case | fuzz | station-side | lan) echo native ;;
        *) echo win64 ;;
    esac
}

tl_ctest() {
    local tree=$1
    shift
    local extra=()
    [ "$tree" = win64 ] && extra=(--timeout 300)
    ctest --test-dir "$TINDREL_BUILD/$tree" --output-on-failure "${extra[@]}" "$@"
}

# Wine tests mostly wait on the stations they drive: three at a time keep two
# cores busy without starving any of them. The rest run one at a time (the
# fuzz label is fuzz.sh's: two at a time).
tl_jobs() {
    case $1 in
        win64 | win32 | imports | wine | 'win64|imports') echo "${TINDREL_WINE_JOBS:-3}" ;;
        fuzz) echo "${TINDREL_FUZZ_JOBS:-2}" ;;
        *) echo 1 ;;
    esac
}

tl_wine_up() {
    local dir=$1 from=${2:-$1}
    mkdir -p "$dir"
    wl_start_xvfb "$dir" || return 1
    wl_template "$from" || return 1
    if [ "$from" != "$dir" ] && [ ! -f "$dir/template/.ready" ]; then
        wl_clone "$from" template "$dir/template" >/dev/null || return 1
    fi
    export TINDREL_WINE_DIR=$dir
}

tl_wine_retries() {
    local log="$1/wine-start-retries.log"
    if [ -f "$log" ]; then wc -l <"$log"; else echo 0; fi
}
