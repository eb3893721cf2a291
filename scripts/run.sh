#!/usr/bin/env bash
# Installs what is missing, builds, and runs the station launcher
# (scripts/tindrel.sh, installed as /usr/bin/tindrel) on the build tree, as
# you: on your display, or on a virtual one when there is none.
#
#   scripts/run.sh [PROGRAM ARGUMENTS]       a station that reaches no other machine
#   scripts/run.sh --lan [--user NAME] [--computer NAME] [--workgroup NAME]
#                  [--interface IFNAME] [--wins ADDRESS] [--] [PROGRAM ARGUMENTS]
#                                            a station on this machine's network
#
# Stop it with its system menu "&Close", or Ctrl+C here. Started again while
# its station runs, it runs the program against that station. See
# scripts/tindrel.sh for where the prefix and the logs live.
# TINDREL_SKIP_SETUP and TINDREL_SKIP_BUILD skip those steps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TINDREL_BUILD:-$root/build}
TL_COMMAND=scripts/run.sh
source "$root/scripts/tindrel.sh"
tl_parse "$@"
# Before anything is installed or built: nothing here may belong to root.
tl_check_user
[ -n "${TINDREL_SKIP_SETUP:-}" ] || "$root/scripts/setup.sh"
targets=(tindrel)
[ -z "$tl_lan" ] || targets+=(tindrel-relay gateway:tindrel-gateway)
[ -n "${TINDREL_SKIP_BUILD:-}" ] || "$root/scripts/build.sh" "${targets[@]}"
export TINDREL_EXE=${TINDREL_EXE:-$build/win64/tindrel.exe}
export TINDREL_RELAY=${TINDREL_RELAY:-$build/win64/gateway/relay/tindrel-relay.exe}
export TINDREL_GATEWAY=${TINDREL_GATEWAY:-$build/gateway/gateway/tindrel-gateway}
tl_run
