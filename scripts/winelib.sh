# Shell functions shared by the station launcher, the test runner, the
# benchmarks, tools/lan and tools/shot: a private virtual display and Wine
# prefixes. Source it; it defines functions only.
#
#   wl_start_xvfb DIR [MAXCLIENTS]
#                            starts Xvfb on a free display, exports DISPLAY,
#                            remembers its number in DIR/xvfb.display and its
#                            pid in DIR/xvfb.pid; MAXCLIENTS (a power of two
#                            from 64 to 2048) raises the X server's limit
#   wl_template DIR          makes (once) a booted prefix in DIR/template,
#                            one that runs 32-bit and 64-bit programs
#   wl_clone DIR NAME [PATH] clones the template into DIR/NAME, or into PATH
#                            (0.03 s), and echoes its path
#   wl_prefix DIR NAME [COMPUTER]
#                            echoes DIR/NAME, a clone of the template kept
#                            across runs, made again when the template is
#                            newer; with COMPUTER, Wine reports that computer
#                            name there. DIR/NAME/.tindrel-computer holds the
#                            name it was given (empty: the host's)
#   wl_loader EXE            echoes the Wine loader that runs EXE as one
#                            process (wine64 for a 64-bit file)
#   wl_wine                  echoes the loader for Wine's own tools (reg,
#                            wineboot) in a 64-bit prefix
#   wl_runs_32bit            true when the machine runs 32-bit programs
#   wl_stop DIR              stops every wineserver of prefixes below DIR and
#                            the Xvfb started there

export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers; and no winemenubuilder, which would fill the
# user's desktop with Wine's menus and file types (.txt opened by Notepad).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml,winemenubuilder.exe="}

wl_start_xvfb() {
    local dir=$1 fdfile
    mkdir -p "$dir"
    fdfile="$dir/xvfb.display"
    rm -f "$fdfile"
    # -displayfd picks a free display number: never guess one. Each client
    # is a descriptor, and the usual soft limit of 1024 would refuse clients
    # long before a raised -maxclients does.
    (
        [ -z "${2:-}" ] || ulimit -n $(($2 + 64)) 2>/dev/null || ulimit -n "$(ulimit -Hn)"
        exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp ${2:+-maxclients "$2"} \
            3>"$fdfile" >/dev/null 2>&1
    ) &
    echo $! >"$dir/xvfb.pid"
    local i
    for i in $(seq 1 100); do
        [ -s "$fdfile" ] && break
        sleep 0.05
    done
    [ -s "$fdfile" ] || { echo "winelib: Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -n1 "$fdfile")"
}

wl_template() {
    local dir=$1
    local t="$dir/template"
    # Booted with wine32 installed, a prefix runs 32-bit programs too (it has
    # a syswow64); one booted before that, or made before X input methods
    # were turned off below, is made again.
    if [ -f "$t/.ready" ] && [ -d "$t/drive_c/windows/syswow64" ] &&
        grep -q '^"UseXIM"="N"' "$t/user.reg"; then return 0; fi
    rm -rf "$t"
    mkdir -p "$t"
    WINEPREFIX="$t" "$(wl_wine)" wineboot -i >/dev/null 2>&1 || true
    # Wine finds no "Arial" or "Courier New" of its own and draws both in one
    # proportional face; point them at their metric twins from fonts-liberation.
    WINEPREFIX="$t" "$(wl_wine)" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
        /v Arial /d "Liberation Sans" /f >/dev/null 2>&1 || true
    WINEPREFIX="$t" "$(wl_wine)" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
        /v "Courier New" /d "Liberation Mono" /f >/dev/null 2>&1 || true
    # Every pop-up has a thread, so an X connection, of its own, and Wine
    # opens an X input method on each. Threads that do so together corrupt
    # the process's heap now and then (glibc's "double free or corruption",
    # "realloc(): invalid next size"); with input methods off, never in our
    # runs. Wine then reads keys itself, dead keys included; the messenger's
    # ANSI texts need no input method.
    WINEPREFIX="$t" "$(wl_wine)" reg add 'HKCU\Software\Wine\X11 Driver' \
        /v UseXIM /d N /f >/dev/null 2>&1 || true
    WINEPREFIX="$t" wineserver -w
    if [ ! -d "$t/drive_c/windows/syswow64" ]; then
        echo "winelib: $t runs no 32-bit programs: is wine32:i386 installed? (scripts/setup.sh)" >&2
        return 1
    fi
    touch "$t/.ready"
}

wl_clone() {
    local dir=$1 name=$2
    local t="$dir/template" p="${3:-$dir/$name}"
    rm -rf "$p"
    cp -al "$t" "$p"
    # Wine rewrites its registry files in place: give each clone its own.
    cp --remove-destination "$t"/{system,user,userdef}.reg "$p"/
    echo "$p"
}

wl_prefix() {
    local dir=$1 name=$2 computer=${3:-}
    local p="$dir/$name"
    local marker="$p/.tindrel-computer"
    if [ ! -f "$marker" ] || [ "$marker" -ot "$dir/template/.ready" ]; then
        wl_clone "$dir" "$name" >/dev/null || return 1
        : >"$marker"
    fi
    if [ -n "$computer" ] && [ "$(cat "$marker")" != "$computer" ]; then
        # Wine takes the computer name from the host unless told not to, and
        # reads it when its wineserver starts: set both, then restart the server.
        WINEPREFIX="$p" "$(wl_wine)" reg add 'HKCU\Software\Wine\Network' \
            /v UseDnsComputerName /d N /f >/dev/null 2>&1 &&
        WINEPREFIX="$p" "$(wl_wine)" reg add 'HKLM\System\CurrentControlSet\Control\ComputerName\ComputerName' \
            /v ComputerName /d "$computer" /f >/dev/null 2>&1 ||
            { echo "winelib: cannot set the computer name in $p" >&2; return 1; }
        WINEPREFIX="$p" wineserver -k >/dev/null 2>&1
        WINEPREFIX="$p" wineserver -w
        echo "$computer" >"$marker"
    fi
    echo "$p"
}

wl_stop() {
    local dir=$1 p pid
    for p in "$dir"/*/; do
        [ -f "$p/system.reg" ] || continue
        WINEPREFIX="${p%/}" wineserver -k >/dev/null 2>&1 || true
    done
    # Their programs end before their display, which they would report lost.
    for p in "$dir"/*/; do
        [ -f "$p/system.reg" ] || continue
        WINEPREFIX="${p%/}" timeout 30 wineserver -w >/dev/null 2>&1 || true
    done
    if [ -f "$dir/xvfb.pid" ]; then
        pid=$(cat "$dir/xvfb.pid")
        # The file may outlive its Xvfb (a run killed outright): never end
        # another process that was given the same number.
        if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]; then
            kill "$pid" 2>/dev/null || true
            # Gone when this returns; reaped too when this shell started it.
            for _ in $(seq 1 50); do
                [[ $(cut -d')' -f2 "/proc/$pid/stat" 2>/dev/null) == " "[^Z]* ]] || break
                sleep 0.1
            done
            wait "$pid" 2>/dev/null || true
        fi
        rm -f "$dir/xvfb.pid"
    fi
}

# With wine32 installed, `wine` starts a 64-bit program through the 32-bit
# loader, which leaves a stand-in process of the program's name waiting for
# it: a pid taken from `wine EXE &` would be the stand-in's, not the program's.
wl_loader() {
    local pe machine
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    machine=$(od -An -tx2 -j$((${pe:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    if [ "$machine" = 8664 ]; then
        wl_wine
    else
        echo wine
    fi
}

# Debian's `wine` also picks the 32-bit loader where the kernel runs no
# 32-bit programs at all (its ia32 emulation off), and fails there with
# "Exec format error": Wine's own tools start with the 64-bit one.
wl_wine() {
    if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}

wl_runs_32bit() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}
