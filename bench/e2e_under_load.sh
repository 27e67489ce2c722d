#!/usr/bin/env bash
# The end-to-end program RUNS times in a row beside BUSY processes that spin on the processor
# (an equal of `stress --cpu BUSY`), as the machine's cores allow: prints each run's count and the
# load, and exits 1 unless every run passed. A failed run's output stays in the folder it names.
#   bench/e2e_under_load.sh [BUILD_FOLDER] [RUNS] [BUSY]     (defaults: build 10 4)
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-10}
busy=${3:-4}
outputs=$(mktemp -d)
spinners=()
for _ in $(seq "$busy"); do
    sh -c 'while :; do :; done' &
    spinners+=($!)
done
trap 'kill "${spinners[@]}" 2> /dev/null' EXIT

passed=0
for run in $(seq "$runs"); do
    output="$outputs/run-$run.txt"
    QT_QPA_PLATFORM=offscreen "$top/scripts/run_test_cases.sh" "$(nproc)" \
        "$build/tests/test_end_to_end" > "$output" 2>&1
    status=$?
    echo "run $run: $(tail -n 1 "$output"), load $(cut -d' ' -f1 /proc/loadavg)"
    if ((status == 0)); then
        ((++passed))
        rm "$output"
    fi
done
echo "$passed of $runs runs passed beside $busy busy processes"
if ((passed < runs)); then
    echo "the failed runs' output: $outputs"
    exit 1
fi
rmdir "$outputs"
