#!/usr/bin/env bash
# Sets up, builds and starts a program's window, on an emulated camera module unless a port is
# named:
#   scripts/run.sh                              the SPI program
#   scripts/run.sh comtrak                      the comtrak program
#   scripts/run.sh comtrak --com2=/dev/ttyUSB0  the comtrak program on a real line
#   scripts/run.sh comtrak --help               the program's options (no display needed)
# Further arguments go to the program. Only the programs are built, not the tests.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program=SPI
if [[ "${1:-}" == "comtrak" || "${1:-}" == "SPI" ]]; then
    program=$1
    shift
fi
binary="$top/build/src/programs/$program"

# Builds what the window needs: the two programs and the emulator, nothing else.
build() {
    "$top/scripts/setup.sh"
    cmake -S "$top" -B "$top/build" > /dev/null
    cmake --build "$top/build" -j"$(nproc)" --target "$@"
}

# --help and --version need no display, and no build when the program is there already.
for argument in "$@"; do
    case "$argument" in
        -h | --help | --help-all | -v | --version)
            [[ -x "$binary" ]] || build "$program"
            exec "$binary" "$@"
            ;;
    esac
done

# The same test the programs make: a platform that needs no display, or a display.
display_available() {
    case "${QT_QPA_PLATFORM:-}" in
        "" | xcb* | wayland*) ;;
        *) return 0 ;;
    esac
    [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]
}
if ! display_available; then
    echo "No display to show the window on (DISPLAY is not set). Run this in a desktop session, or on a virtual display:" >&2
    printf '  xvfb-run -a %s %s' "$0" "$program" >&2
    if (($# > 0)); then
        printf ' %q' "$@" >&2
    fi
    echo >&2
    exit 1
fi

# The emulated module, unless the command line names a port (or the emulator) itself: the
# programs refuse --emulator beside a port of their own.
emulator=(--emulator)
for argument in "$@"; do
    case "$argument" in
        --emulator | --port-io | --port-io=* | --com[1-4] | --com[1-4]=*) emulator=() ;;
    esac
done

build SPI comtrak camera-emulator
exec "$binary" "${emulator[@]}" "$@"
