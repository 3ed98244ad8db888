#!/usr/bin/env bash
# The whole program's CPU under a real X server (Xvfb): zelvox --demo, START pressed, all panes
# live at 120 readings per minute; prints the share of one core over SECONDS (default 30).
# Also prints the time from launch to the window shown.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
bin=${ZELVOX_BIN:-build/src/zelvox}
display=:$((190 + RANDOM % 50))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null; kill "$xvfb" 2>/dev/null; wait 2>/dev/null || true; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

t0=$(date +%s.%N)
QT_QPA_PLATFORM=xcb "$bin" --demo &
app=$!
win=$(xdotool search --sync --onlyvisible --name '^Zelvox$' | head -n1)
t1=$(date +%s.%N)
echo "launch to window shown: $(awk -v a="$t0" -v b="$t1" 'BEGIN{printf "%.0f", (b-a)*1000}') ms"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + ${ZELVOX_START_X:-455})) $((Y + ${ZELVOX_START_Y:-$((HEIGHT - 39))})) click 1
sleep 3
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
c0=$(cpu); w0=$(date +%s.%N)
sleep "$seconds"
c1=$(cpu); w1=$(date +%s.%N)
awk -v c0="$c0" -v c1="$c1" -v w0="$w0" -v w1="$w1" -v hz="$ticks" \
  'BEGIN{cpu=(c1-c0)/hz; wall=w1-w0; printf "CPU of zelvox --demo running (Xvfb, all panes live): %.2f%% of one core (%.2f s over %.1f s)\n", 100*cpu/wall, cpu, wall}'
