#!/usr/bin/env bash
# Sets up, checks the include arrows, builds and runs every test twice: in the normal build and
# under AddressSanitizer and UndefinedBehaviorSanitizer. Windows run offscreen, so no display is
# needed.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen

# The arrows between the folders of src/, before anything is built.
"$top/scripts/check_layers.sh" "$top"

# Each build names every option it needs, so what an earlier configure of the folder cached (tests
# off, warnings allowed) cannot change what is tested. The sanitizer build uses Clang and the
# normal one the system's compiler (GCC on Debian), so every run compiles with both;
# scripts/check_builds.sh tries every build type. The fuzz targets need Clang, so they are built
# and run briefly in the sanitizer build.
"$top/scripts/build.sh" build-asan -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
    -DCAMERA_SANITIZE=ON -DCAMERA_BUILD_TESTS=ON -DCAMERA_BUILD_BENCH=OFF -DCAMERA_WERROR=ON \
    -DCAMERA_FUZZ=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions="$top/scripts/lsan.supp" \
    ctest --test-dir "$top/build-asan" --output-on-failure -j2

# The threads (each link's own, the emulator's peers, the test servers) under ThreadSanitizer,
# Clang 14: the test programs that start threads, with the end-to-end cases that keep the module
# in this process (its TSan fails a check in the children QProcess forks). Reports go to files, as
# some cases capture standard error; any report fails the step. Qt is not built with TSan, so
# what it reports inside Qt's own thread machinery is left out by name (scripts/tsan.supp), and
# the windows use the minimal platform, which paints without Qt Gui's pool of threads.
cmake -S "$top" -B "$top/build-tsan" -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCAMERA_TSAN=ON -DCAMERA_SANITIZE=OFF -DCAMERA_FUZZ=OFF \
    -DCAMERA_BUILD_TESTS=ON -DCAMERA_BUILD_BENCH=OFF -DCAMERA_WERROR=ON > /dev/null
cmake --build "$top/build-tsan" -j"$(nproc)" --target test_lpt test_session test_serial \
    test_camctl test_emulator test_end_to_end
"$top/scripts/run_tsan.sh" "$top/build-tsan"

# The benchmarks are built here too (setup.sh installs Google Benchmark), so they keep compiling;
# they are run by hand (README).
"$top/scripts/build.sh" build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCAMERA_SANITIZE=OFF -DCAMERA_BUILD_TESTS=ON -DCAMERA_BUILD_BENCH=ON -DCAMERA_WERROR=ON
ctest --test-dir "$top/build" --output-on-failure -j2

# What `cmake --install` and `cpack -G DEB` make of the normal build.
"$top/scripts/check_install.sh" "$top/build"
