#!/usr/bin/env bash
# scripts/wine-exec.sh starts a program again only when Wine could not start
# it at all, and only once: a `wine` placed first in PATH answers its first
# calls as Wine's start.exe does when the 64-bit loader dies before the
# program runs, then hands over to the real one.
# Needs TINDREL_WINE_DIR with a booted template (scripts/test.sh makes it).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/winelib.sh"
source "$root/scripts/testlib.sh"
[ -f "${TINDREL_WINE_DIR:-}/template/.ready" ] || { echo "wine_exec_test: no TINDREL_WINE_DIR template" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "wine_exec_test: FAILED: $*" >&2; exit 1; }

mkdir "$work/bin"
cat >"$work/bin/wine" <<EOF
#!/bin/sh
left=\$(cat "$work/failures")
if [ "\$left" -gt 0 ]; then
    echo \$((left - 1)) >"$work/failures"
    printf 'Application could not be started, or no application associated with the specified file.\nShellExecuteEx failed: Internal error.\r\n\n'
    exit 1
fi
exec $(wl_wine) "\$@"
EOF
chmod +x "$work/bin/wine"
# Runs wine-exec.sh with a Wine folder of its own (the test run's template
# cloned), N start failures to come; sets out, err, status, retries.
exec_with_failures() {
    local n=$1
    shift
    rm -rf "$work/wine" && mkdir "$work/wine"
    wl_clone "$TINDREL_WINE_DIR" template "$work/wine/template" >/dev/null
    echo "$n" >"$work/failures"
    status=0
    PATH="$work/bin:$PATH" TINDREL_WINE_DIR="$work/wine" "$root/scripts/wine-exec.sh" "$@" \
        >"$work/out" 2>"$work/err" || status=$?
    out=$(tr -d '\r' <"$work/out")
    err=$(cat "$work/err")
    retries=$(tl_wine_retries "$work/wine")
    [ -z "$(find "$work/wine" -mindepth 1 -maxdepth 1 ! -name template ! -name '*.log')" ] ||
        fail "a prefix or display was left behind: $(ls "$work/wine")"
}

exec_with_failures 1 cmd /c "echo ran&exit 3"
# The failed start's message stays in the output, before the program's own.
[ "$status" = 3 ] && [[ $out == "Application could not"*$'\n'ran ]] && [ "$retries" = 1 ] ||
    fail "one failed start: status $status, output '$out', $retries retries"
[[ $err == *"Wine did not start cmd; starting it once more"* ]] || fail "no note of the retry: $err"

exec_with_failures 2 cmd /c "echo ran"
[ "$status" = 1 ] && [[ $out == *"ShellExecuteEx failed: Internal error." ]] && [ "$retries" = 1 ] ||
    fail "two failed starts: status $status, output '$out', $retries retries"

# A program that ran and failed, whatever it printed, is not run again.
exec_with_failures 0 cmd /c "echo ShellExecuteEx failed: Internal error.&exit 1"
[ "$status" = 1 ] && [ "$retries" = 0 ] || fail "a failing program: status $status, $retries retries"
echo "wine_exec_test: passed (a failed start retried once, counted; a failing program not retried)"
