#!/usr/bin/env bash
# Runs every case of a GoogleTest program in a process of its own, JOBS at a time, for test
# programs whose cases mostly wait on real time (lines at a given speed, programs starting) and
# a few of which take seconds. The cases start longest first, by the times of the last run (kept
# beside the program as PROGRAM.case-times; a case not timed yet counts as long), so the long
# ones do not end up last. Prints the output of each failed case and a count; exits 1 when a case
# failed.
#   scripts/run_test_cases.sh JOBS PROGRAM [ARGUMENTS...]
# CAMERA_TEST_JOBS, when set, overrides JOBS (1 runs the cases one by one, for a busy machine).
set -uo pipefail
jobs=${CAMERA_TEST_JOBS:-$1}
shift
outputs=$(mktemp -d)
trap 'rm -rf "$outputs"' EXIT

# "Suite." lines name a suite; the indented lines under it are its cases.
if ! listing=$("$@" --gtest_list_tests); then
    echo "cannot list the cases of $1" >&2
    exit 1
fi
cases=$(awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }' <<< "$listing")
[[ -n "$cases" ]] || exit 0
times="$1.case-times"
if [[ -r "$times" ]]; then
    cases=$(awk 'NR == FNR { ms[$1] = $2; next } { print ($1 in ms ? ms[$1] : 1e9), $1 }' \
        "$times" - <<< "$cases" | sort -k1,1nr -k2 | cut -d' ' -f2)
fi

# Each case's output goes to a file of its own; a failed one also leaves NAME.failed.
run_case() {
    local name=$1 file
    shift
    file="$outputs/${name//\//_}"
    local start=${EPOCHREALTIME/./}
    "$@" --gtest_filter="$name" > "$file" 2>&1 || touch "$file.failed"
    echo "$name $(((${EPOCHREALTIME/./} - start) / 1000))" > "$file.time"
}
export -f run_case
export outputs
xargs -P "$jobs" -I '{}' bash -c 'run_case "$@"' _ '{}' "$@" <<< "$cases"

total=$(wc -l <<< "$cases")
failed=0
while IFS= read -r name; do
    file="$outputs/${name//\//_}"
    if [[ -e "$file.failed" ]]; then
        echo "=== $name FAILED"
        cat "$file"
        ((++failed))
    fi
done <<< "$cases"
cat "$outputs"/*.time > "$times" 2> /dev/null || true
echo "$((total - failed)) of $total cases passed, $jobs at a time"
((failed == 0))
