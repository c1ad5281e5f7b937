#!/usr/bin/env bash
# Throughput of `tavrel-cli analyze` on a generated 1 GiB multiplex, next to `cat` and to
# ffmpeg copying the same file through its demuxer (data streams too: -copy_unknown), in one
# run on the same cached file.
# Usage: bench/analyze.sh [SIZE_MIB]   (build the release preset first)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
cli=build/release/src/tavrel-cli
[ -x "$cli" ] || { echo "build the release preset first: cmake --preset release && cmake --build --preset release" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/multiplex.ts"
# 16 Mbit/s gives 2 MB a second.
seconds=$(( size_mib * 1048576 * 8 / 16000000 + 1 ))
echo "generating ${size_mib} MiB ($seconds s of 16 Mbit/s)..."
"$cli" generate "$file" --seconds "$seconds" --seed 1 >/dev/null
bytes=$(stat -c %s "$file")
cat "$file" > /dev/null  # into the page cache

now() { date +%s.%N; }
rate() { awk -v b="$bytes" -v t="$1" 'BEGIN { printf "%.1f", b / t / 1e6 }'; }

t0=$(now); cat "$file" > /dev/null; t1=$(now)
cat_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')

# GNU time gives the peak memory; without it the figure is left out.
measure=()
[ -x /usr/bin/time ] && measure=(/usr/bin/time -f "%M" -o "$work/rss")
t0=$(now); "${measure[@]}" "$cli" analyze "$file" --json > "$work/report.json"; t1=$(now)
analyze_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
rss_kib=$(cat "$work/rss" 2>/dev/null || echo 0)

echo "file: $bytes bytes"
echo "cat:     $(rate "$cat_s") MB/s"
echo "analyze: $(rate "$analyze_s") MB/s, peak memory $(( rss_kib / 1024 )) MiB"
if command -v ffmpeg >/dev/null; then
    t0=$(now); ffmpeg -v fatal -i "$file" -map 0 -c copy -copy_unknown -f null -; t1=$(now)
    ffmpeg_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    echo "ffmpeg:  $(rate "$ffmpeg_s") MB/s"
    awk -v a="$analyze_s" -v f="$ffmpeg_s" -v c="$cat_s" 'BEGIN {
        printf "analyze is %.2fx ffmpeg copy, %.2fx slower than cat\n", f / a, a / c }'
else
    echo "ffmpeg:  not installed (apt-get install ffmpeg)"
    awk -v a="$analyze_s" -v c="$cat_s" 'BEGIN { printf "analyze is %.2fx slower than cat\n", a / c }'
fi
