#!/usr/bin/env bash
# What each window costs while nothing happens: starts it offscreen on the emulator program, lets
# it settle, and prints the CPU time it took over SECONDS as a share of one core (the
# scheduler's count of every thread's time on a CPU). For SPI it then counts the status reads a second it sends over the
# port socket (strace on the sends of all its threads, after the CPU measurement, so tracing
# costs nothing measured).
#   bench/idle_cost.sh [BUILD_FOLDER] [SECONDS]     (defaults: build 20)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
seconds=${2:-20}
settle=3
count_seconds=5
programs="$build/src/programs"
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2> /dev/null && wait "$pid" 2> /dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

"$programs/camera-emulator" --serial "$work/tty" --port-io-socket "$work/port" \
    > "$work/emulator.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [[ -S "$work/port" && -e "$work/tty" ]] && break
    sleep 0.1
done

# Nanoseconds on a CPU of every thread of PID (the scheduler's own count, finer than the clock
# ticks of /proc/PID/stat).
cpu_ns() {
    cat /proc/"$1"/task/*/schedstat | awk '{ ns += $1 } END { printf "%d", ns }'
}

measure() {
    local name=$1 pid before after
    shift
    QT_QPA_PLATFORM=offscreen "$@" > "$work/$name.out" 2>&1 &
    pid=$!
    pids+=("$pid")
    sleep "$settle"
    before=$(cpu_ns "$pid")
    sleep "$seconds"
    after=$(cpu_ns "$pid")
    awk -v n="$name" -v ns=$((after - before)) -v s="$seconds" \
        'BEGIN { printf "%-8s idle CPU over %d s: %.2f%% of a core (%.1f ms)\n", n, s,
                 100 * ns / 1e9 / s, ns / 1e6 }'
    measured=$pid
}

measure SPI "$programs/SPI" --port-io="unix:$work/port"
# Each status read is one 3-byte send: 'r' and the status register's address.
timeout "$count_seconds" strace -f -qq -e trace=sendto -p "$measured" -o "$work/sends" 2> /dev/null || true
reads=$(grep -c 'sendto([0-9]*, "r' "$work/sends" || true)
awk -v r="$reads" -v s="$count_seconds" \
    'BEGIN { printf "SPI      status reads: %.1f a second (%d in %d s)\n", r / s, r, s }'
kill "$measured"

measure comtrak "$programs/comtrak" --com2="$work/tty"
