#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake make                       # the build (presets in CMakePresets.json, Unix Makefiles)
  g++                              # the default compiler: the release gateway of tools/lan and bench
  python3                          # tools/lan, tools/pecheck.py, the network suites, bench tables
  googletest                       # sources for the cross-built test programs
  libgtest-dev                     # GoogleTest for the native unit tests (find_package(GTest))
  mingw-w64                        # cross compilers and windres
  wine wine64                      # runs the program and its Windows tests; wine64 is the harness's loader
  wine32:i386                      # runs the 32-bit build (needs the i386 architecture)
  xvfb                             # virtual displays
  xdotool                          # tests/scripts/run_test.sh looks for the shown window
  fonts-liberation                 # Arial/Courier New metrics; without it Wine can crash drawing byte 0x98
  clang libclang-rt-14-dev         # the native build: libFuzzer and the sanitizer runtimes
  imagemagick                      # screenshots of the virtual display (import)
  iproute2 tshark                  # network namespaces of tools/lan and its tests; captures (dumpcap)
  fuse3 libfuse3-dev pkg-config    # the gateway's UNC file system (libfuse3, found with pkg-config;
                                   # fusermount3 when the kernel refuses libfuse's own mount)
  libcap2-bin                      # setcap: lets the gateway bind ports 137 and 138 as its user
                                   # (the one sudo step of run.sh --lan, the network suite, the package)
  dpkg-dev file                    # the Debian package: CPack's dependency list (dpkg-shlibdeps, file)
  lintian                          # the package test
  samba                            # nmbd: the WINS server of the gateway's peer tests, only ever run
                                   # inside their network namespaces (its services are kept off below)
  samba-common-bin                 # nmblookup: node status and WINS queries in the peer tests
  nbtscan                          # the peer tests' subnet scan of the gateway's names
)

# Some kernels run no i386 program at all ("Exec format error"); there
# wine32 could not run the 32-bit build, and the i386 architecture it needs
# only costs a mirror's i386 lists. A 91-byte i386 program that exits 0 tells.
runs_i386() {
    local probe status=0
    probe=$(mktemp "${TMPDIR:-/tmp}/tindrel-i386.XXXXXX") || return 1
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\133\000\000\000\133\000\000\000\005\000\000\000\000\020\000\000\061\333\061\300\100\315\200' >"$probe"
    chmod 700 "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return "$status"
}
if ! runs_i386; then
    for i in "${!packages[@]}"; do
        [ "${packages[$i]}" != wine32:i386 ] || unset 'packages[i]'
    done
    echo "setup: this machine runs no 32-bit programs; wine32 is left out (the 32-bit build is built, its tests are skipped)"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
# A mirror in the middle of a sync can fail one index (seen: the i386
# security list "File has unexpected size"); the others are fresh, and the
# install below fails in its own words if a package really cannot be had.
if ! $SUDO apt-get update -qq; then
    echo "setup: apt-get update could not read every index (above); installing from those it read"
fi
# No recommends: imagemagick would otherwise pull in ghostscript's URW fonts,
# which make Wine fall back to a font it cannot draw with.
# Debian's samba would start smbd and nmbd on the machine's own network: a
# policy-rc.d refuses every service start during the install (one already in
# place is left alone), and the services are disabled afterwards.
policy=/usr/sbin/policy-rc.d
own_policy=
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    own_policy=1
fi
status=0
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || status=$?
[ -z "$own_policy" ] || $SUDO rm -f "$policy"
[ "$status" -eq 0 ] || exit "$status"
for service in smbd nmbd samba-ad-dc; do
    if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
        $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
    elif [ -e "/etc/init.d/$service" ]; then
        $SUDO update-rc.d "$service" disable >/dev/null 2>&1 || true
    fi
done
echo "setup: done"
