#!/usr/bin/env bash
# Builds the four build types with both compilers the project supports (GCC 12 and Clang 14),
# tests and benchmarks included, warnings as errors, so a warning that one optimisation level or
# one compiler alone gives is found before a user's build meets it. Run by hand; it takes long
# (eight builds), far less with CMAKE_CXX_COMPILER_LAUNCHER=ccache in the environment.
#   scripts/check_builds.sh [FOLDER]
# Each build keeps its folder, FOLDER/COMPILER-TYPE (FOLDER is build-check by default, under the
# repository), so a second run builds only what changed. Exits 1 when a build failed.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/setup.sh" || exit 1
parent=${1:-build-check}
compilers=(g++-12 clang++-14)
types=(Debug Release RelWithDebInfo MinSizeRel)

failed=()
for compiler in "${compilers[@]}"; do
    for type in "${types[@]}"; do
        folder=$parent/$compiler-$type
        echo "check_builds: $compiler $type in $folder"
        "$top/scripts/build.sh" "$folder" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE="$type" \
            -DCAMERA_WERROR=ON -DCAMERA_BUILD_TESTS=ON -DCAMERA_BUILD_BENCH=ON -DCAMERA_SANITIZE=OFF ||
            failed+=("$compiler $type")
    done
done

if ((${#failed[@]} > 0)); then
    printf 'check_builds: failed: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "check_builds: ${#types[@]} build types with ${compilers[*]} compile"
