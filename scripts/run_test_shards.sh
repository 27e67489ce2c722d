#!/usr/bin/env bash
# Runs a GoogleTest program as N shards at once, for test programs whose cases mostly wait on
# real time (lines at a given speed, programs starting): the cases are split among the shards
# by GoogleTest's own sharding, every case runs once. Prints each shard's output under a
# heading and exits 1 when any shard failed.
#   scripts/run_test_shards.sh N PROGRAM [ARGUMENTS...]
set -uo pipefail
shards=$1
shift
outputs=$(mktemp -d)
pids=()
trap 'rm -rf "$outputs"' EXIT
# A run stopped from outside (CTest's time limit, Ctrl-C) stops the shards too.
trap 'kill "${pids[@]}" 2> /dev/null; exit 1' INT TERM

for ((shard = 0; shard < shards; ++shard)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard "$@" > "$outputs/$shard" 2>&1 &
    pids+=($!)
done
status=0
for ((shard = 0; shard < shards; ++shard)); do
    result=passed
    if ! wait "${pids[shard]}"; then
        result=FAILED
        status=1
    fi
    echo "=== shard $((shard + 1)) of $shards: $result"
    cat "$outputs/$shard"
done
exit "$status"
