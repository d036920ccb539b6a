#!/usr/bin/env bash
# Instructions that the hook's decision costs per key event, counted by
# callgrind: only RemapKeyEvent and what it calls (the counting seam) are
# collected, then divided by the number of calls the benchmark made. The
# mouse cases, events that pass while an Alt tap is pending, are counted the
# same way inside RemapMouseEvent. Fails when a guard is broken: a key that
# passes at most 25 instructions, the mixed stream with every switch on at
# most 80 an event.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v valgrind >/dev/null || bash scripts/deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench --target remap_bench >/dev/null

bench=build/bench/bench/remap_bench
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# count CASE FUNCTION [LIMIT]: instructions inside FUNCTION per call of it;
# over LIMIT, the run fails at the end.
broken=""
count() {
    local name=$1 function=$2 file="$out/callgrind.out"
    log=$(valgrind --tool=callgrind --callgrind-out-file="$file" --toggle-collect="${function}*" \
        "$bench" --benchmark_filter="^${name}\$" --benchmark_min_time=0.01 2>/dev/null)
    calls=$(sed -n "s/^${function} calls: //p" <<<"$log")
    ir=$(sed -n 's/^summary: *//p; s/^totals: *//p' "$file" | head -1 | awk '{print $1}')
    per=$(awk -v ir="$ir" -v calls="$calls" 'BEGIN { printf "%.1f", ir / calls }')
    printf '%-16s %14s %12s %10s\n' "$name" "$ir" "$calls" "$per"
    if [ -n "${3:-}" ] && awk -v per="$per" -v limit="$3" 'BEGIN { exit !(per > limit) }'; then
        broken="$broken $name ($per > $3)"
    fi
}

printf '%-16s %14s %12s %10s\n' case instructions events per-event
# AltTap judges two events per tap: a press and a release.
count PassThrough RemapKeyEvent 25
for name in Dvorak LetterNoTapPending CapsLockPress AltTap; do
    count "$name" RemapKeyEvent
done
count Stream/1000 RemapKeyEvent 80
count Stream/1000000 RemapKeyEvent 80
for name in MouseMove ButtonRelease; do
    count "$name" RemapMouseEvent
done
if [ -n "$broken" ]; then
    echo "guard broken:$broken" >&2
    exit 1
fi
