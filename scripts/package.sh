#!/usr/bin/env bash
# Builds the Debian package build/tindrel_<version>_amd64.deb with CPack:
# tindrel.exe for 64-bit and 32-bit Windows and tindrel-relay.exe (MinGW-w64),
# tindrel-gateway as shipped (the gateway preset: Release, no sanitizers), the
# launcher, the menu entry, icons and manual pages (packaging/).
#   scripts/package.sh          builds what is out of date, prints the package's path
#   TINDREL_BUILD=DIR ...       builds in DIR instead of build/
#   TINDREL_JOBS=N ...          N compile jobs (default: one a core)
# Then: sudo apt install ./build/tindrel_<version>_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}
jobs=${TINDREL_JOBS:-$(nproc)}
[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"

TINDREL_BUILD="$build" TINDREL_JOBS="$jobs" "$root/scripts/build.sh" win32:tindrel tindrel tindrel-relay >/dev/null
(cd "$root" && cmake --preset gateway -B "$build/gateway" -DTINDREL_WIN64_BUILD="$build/win64" \
    -DTINDREL_WIN32_BUILD="$build/win32" -DTINDREL_PACKAGE_DIR="$build" >/dev/null)
cmake --build "$build/gateway" -j"$jobs" >/dev/null
log="$build/gateway/cpack.log"
(cd "$build/gateway" && cpack -G DEB) >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$log"
