#!/usr/bin/env bash
# Sets up, builds and starts a program's window on an emulated camera module:
#   scripts/run.sh            the SPI program
#   scripts/run.sh comtrak    the comtrak program
# Further arguments go to the program.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=SPI
if [[ "${1:-}" == "comtrak" || "${1:-}" == "SPI" ]]; then
    program=$1
    shift
fi
"$top/scripts/setup.sh"
"$top/scripts/build.sh" build
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
    echo "No display to show the window on (DISPLAY is not set): run this in a desktop session, or as 'xvfb-run -a scripts/run.sh'." >&2
    exit 1
fi
exec "$top/build/src/programs/$program" --emulator "$@"
