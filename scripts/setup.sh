#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  cmake g++ make git python3
  googletest                       # sources for the cross-built test programs
  mingw-w64 mingw-w64-tools        # cross compiler, windres
  wine wine64                      # runs the program and its Windows tests
  wine32:i386                      # runs the 32-bit build (needs the i386 architecture)
  xvfb xauth x11-utils xdotool     # virtual display, window inspection, real key presses
  fonts-liberation                 # Arial/Courier New metrics; without it Wine can crash drawing byte 0x98
  clang libclang-rt-14-dev         # libFuzzer and sanitizer runtimes for the fuzz targets
  imagemagick                      # screenshots of the virtual display
  iproute2 tshark                  # network namespaces of tools/lan and its tests; captures
  fuse3 libfuse3-dev pkg-config    # the gateway's UNC file system (libfuse3, found with pkg-config)
)

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
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
# No recommends: imagemagick would otherwise pull in ghostscript's URW fonts,
# which make Wine fall back to a font it cannot draw with.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
