#!/usr/bin/env bash
# CPU time and wake-ups (voluntary context switches) per thread of a command, by thread name,
# sampled from /proc every 100 ms (the last sample of a thread that ends in between is lost,
# so short-lived threads read a little low). Wake-ups do not depend on the machine's load.
# Usage: bench/thread_cpu.sh COMMAND [ARGS...]
set -uo pipefail
"$@" &
pid=$!
declare -A ticks names switches
while kill -0 "$pid" 2>/dev/null; do
    for stat in /proc/"$pid"/task/*/stat; do
        read -r line < "$stat" 2>/dev/null || continue
        tid=${stat#/proc/"$pid"/task/}
        tid=${tid%/stat}
        name=${line#*(}
        name=${name%)*}
        rest=${line##*) }
        read -ra f <<< "$rest"
        # after the name: state is field 3, utime 14 and stime 15 of the whole line
        ticks[$tid]=$(( f[11] + f[12] ))
        names[$tid]=$name
        switches[$tid]=$(awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$pid/task/$tid/status" 2>/dev/null)
    done
    sleep 0.1
done
wait "$pid"
rc=$?
hz=$(getconf CLK_TCK)
echo "per thread: tid name CPU-seconds wake-ups"
for tid in $(printf '%s\n' "${!ticks[@]}" | sort -n); do
    awk -v t="${ticks[$tid]}" -v hz="$hz" -v id="$tid" -v n="${names[$tid]}" \
        -v w="${switches[$tid]:-0}" 'BEGIN { printf "  %-8s %-16s %7.2f %8d\n", id, n, t / hz, w }'
done
exit "$rc"
