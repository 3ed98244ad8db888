#!/usr/bin/env bash
# zelvox-decode as a logger: --rate 120 --format jsonl from the simulated meter for SECONDS
# (default 60); prints the decoder's CPU as a share of one core and the lines it wrote.
# The decoder is single-threaded, so its main thread's run time (/proc/PID/schedstat, in
# nanoseconds) is all of its CPU.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bin=${ZELVOX_BUILD:-build}/tools
format=${ZELVOX_FORMAT:-jsonl}
out=$(mktemp)
sim= dec=
cleanup() { [ -n "$dec" ] && kill "$dec" 2>/dev/null; [ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null || true; rm -f "$out"; }
trap cleanup EXIT
coproc SIM { exec "$bin/zelvox-sim"; }
sim=$SIM_PID
read -r port <&"${SIM[0]}"
"$bin/zelvox-decode" --port "$port" --rate 120 --format "$format" >"$out" &
dec=$!
sleep 2
cpu() { awk '{print $1}' "/proc/$dec/task/$dec/schedstat"; }
c0=$(cpu); w0=$(date +%s.%N); l0=$(wc -l <"$out")
sleep "$seconds"
c1=$(cpu); w1=$(date +%s.%N); l1=$(wc -l <"$out")
awk -v c0="$c0" -v c1="$c1" -v w0="$w0" -v w1="$w1" -v lines=$((l1 - l0)) -v f="$format" \
  'BEGIN{cpu=(c1-c0)/1e9; wall=w1-w0; printf "zelvox-decode --rate 120 --format %s: %.3f%% of one core (%.3f s CPU over %.1f s), %d lines (%.1f a minute)\n", f, 100*cpu/wall, cpu, wall, lines, lines*60/wall}'
