#!/usr/bin/env bash
# Configures and builds one build folder: scripts/build.sh FOLDER [cmake options...]
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
folder=$1
shift
cmake -S "$top" -B "$top/$folder" "$@" > /dev/null
cmake --build "$top/$folder" -j"$(nproc)"
