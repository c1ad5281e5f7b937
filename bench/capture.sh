#!/usr/bin/env bash
# Peak resident memory and CPU time of `tavrel-cli capture`: 20 s of the simulated tuner at
# 24 Mbit/s with recording and UDP sending on (to a local port nobody reads).
# Usage: bench/capture.sh [SECONDS]   (build the release preset first)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cli=build/release/src/tavrel-cli
[ -x "$cli" ] || { echo "build the release preset first: cmake --preset release && cmake --build --preset release" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" capture --seconds "$seconds" --bitrate 24000000 --record "$work/capture.ts" \
    --udp 127.0.0.1:45999 --settings-dir "$work" > "$work/out.txt" &
pid=$!
peak=0
cpu=0
while kill -0 "$pid" 2>/dev/null; do
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$hwm" ] && peak=$hwm
    # utime + stime in clock ticks, fields 14 and 15 of stat
    ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || true)
    [ -n "$ticks" ] && cpu=$ticks
    sleep 0.2
done
wait "$pid"
hz=$(getconf CLK_TCK)
tail -n 2 "$work/out.txt"
echo "peak resident memory: $(( peak / 1024 )) MiB"
awk -v t="$cpu" -v hz="$hz" -v s="$seconds" 'BEGIN {
    printf "CPU time: %.2f s over %d s = %.1f%% of one core\n", t / hz, s, 100 * t / hz / s }'
