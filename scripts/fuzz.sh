#!/usr/bin/env bash
# Runs one fuzz target for longer than the test command does:
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is a name from fuzz/CMakeLists.txt (socket_session, serial_session, text_number,
# register_values, frame_end, command_line, jpeg_check); SECONDS 0 runs until stopped (or until
# an option such as -runs=N ends it). The build folder (CAMERA_FUZZ_BUILD, default build-fuzz) is
# configured with Clang 14 on its first use, optimised, and only the target is built. The inputs
# it finds are kept in FOLDER/fuzz-corpus/TARGET for the next run; a crash is written to
# FOLDER/fuzz-artifacts/ and is run again with: FOLDER/fuzz/fuzz_TARGET FILE
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if (($# < 2)); then
    echo "usage: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
folder=$top/${CAMERA_FUZZ_BUILD:-build-fuzz}
if [[ ! -f $folder/CMakeCache.txt ]]; then
    CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$top" -B "$folder" -DCAMERA_FUZZ=ON \
        -DCAMERA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
fi
cmake --build "$folder" -j"$(nproc)" --target "fuzz_$target"

corpus=$folder/fuzz-corpus/$target
mkdir -p "$corpus" "$folder/fuzz-artifacts"
options=(-max_total_time="$seconds" -artifact_prefix="$folder/fuzz-artifacts/$target-")
if [[ -f $top/fuzz/$target.dict ]]; then
    options+=(-dict="$top/fuzz/$target.dict")
fi
export QT_QPA_PLATFORM=offscreen
# New inputs go into the first folder only: the seeds in the tree stay as they are.
exec "$folder/fuzz/fuzz_$target" "${options[@]}" "$@" "$corpus" "$top/fuzz/corpus/$target"
