#!/usr/bin/env bash
# Sets up, builds and runs every test twice: in the normal build and under AddressSanitizer and
# UndefinedBehaviorSanitizer. Windows run offscreen, so no display is needed.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen

"$top/scripts/build.sh" build-asan -DCAMERA_SANITIZE=ON -DCAMERA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$top/scripts/lsan.supp" \
    ctest --test-dir "$top/build-asan" --output-on-failure -j2

"$top/scripts/build.sh" build
ctest --test-dir "$top/build" --output-on-failure -j2
