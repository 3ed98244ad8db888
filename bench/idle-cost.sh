#!/usr/bin/env bash
# What the running program costs while it logs, under a real X server (Xvfb, no window manager):
# START pressed, all panes live at 120 readings per minute, for two meters in turn:
#   demo   zelvox --demo (the built-in simulated meter, whole frames)
#   bytes  zelvox-sim on a pseudo-terminal, a display that changes on every frame, sent one byte
#          at a time at line speed (when zelvox-sim has a byte-at-a-time option)
#   rules  bytes with five alarm rules that the meter never meets (above with clear, below for,
#          overload, silent, unchanged)
#   floor  build/bench/repaint_floor: a bare Qt window whose worker wakes it 12 times a second to
#          repaint one rectangle as large as a changed LCD picture: what this machine and X
#          server charge for a live display at the meter's frame rate, before any of the program
# For each: launch -> window mapped (timed on the X map event itself), whole-program and
# per-thread CPU, wake-ups per second per thread, repaints per second per pane and the window's
# repaint cycles per second over SECONDS. The last lines put each program case beside the floor:
#   bytes: program 0.41 % of a core = 1.22x floor (0.34 %); busiest thread zelvox-reader 24 wake-ups/s
# (CPU from the threads' run times; over several rounds the medians, and each round's ratio).
#
#   bench/idle-cost.sh [SECONDS] [demo|bytes|rules|floor ...]   (default 30 s: demo, bytes, floor)
# Environment: ZELVOX_ROUNDS (default 1: the cases run that many times, interleaved, so that a
# machine whose load drifts charges the program and the floor alike),
# ZELVOX_BIN, ZELVOX_SIM, ZELVOX_LAUNCHER (default build/...), ZELVOX_START_X/Y
# (START's position in the window; default 455, height - 39), ZELVOX_APP_LOG (where the program's
# messages go), ZELVOX_SIM_BYTE_ARGS (zelvox-sim's
# options for byte-at-a-time pacing; found in its --help by default).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
cases=("$@")
[ ${#cases[@]} -eq 0 ] && cases=(demo bytes floor)
rounds=${ZELVOX_ROUNDS:-1}
bin=${ZELVOX_BIN:-build/bench/zelvox-painted}
sim=${ZELVOX_SIM:-build/tools/zelvox-sim}
launcher=${ZELVOX_LAUNCHER:-build/bench/launch_mapped}
for f in "$bin" "$launcher"; do
  [ -x "$f" ] || { echo "missing $f (build it first: ninja -C build zelvox-painted launch_mapped zelvox-sim repaint_floor)" >&2; exit 1; }
done

work=$(mktemp -d /dev/shm/zelvox-idle.XXXXXX)
xvfb= app= simpid=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number of our own (a server elsewhere may hold a low one through its abstract socket);
# Xvfb reports on a pipe once it accepts clients: no polling.
mkfifo "$work/display"
number=
for _ in 1 2 3 4 5; do
  n=$((300 + RANDOM % 600))
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  if read -r number <"$work/display"; then break; fi
  wait "$xvfb" 2>/dev/null || true
  xvfb= number=
done
[ -n "$number" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$number

threads() { ls "/proc/$1/task" | wc -l; }

# run_case CASE TITLE ZELVOX-ARGS...
run_case() {
  local name=$1 title=$2
  shift 2
  local paints=$work/paints.$RANDOM line pid window mapped
  # The program inherits the launcher's output: a file, not a pipe that would stay open.
  ZELVOX_PAINT_COUNTS=$paints QT_QPA_PLATFORM=xcb "$launcher" -- "$bin" "$@" >"$work/launch" 2>>"${ZELVOX_APP_LOG:-$work/app.log}"
  eval "$(grep -m1 '^pid=' "$work/launch")" # pid= window= mapped_ms=
  app=$pid
  echo "== $title"
  echo "launch -> window mapped: ${mapped_ms} ms"
  sleep 1
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  local before
  before=$(threads "$app")
  xdotool mousemove $((X + ${ZELVOX_START_X:-455})) $((Y + ${ZELVOX_START_Y:-$((HEIGHT - 39))})) click 1
  for _ in $(seq 30); do [ "$(threads "$app")" -gt "$before" ] && break; sleep 0.1; done
  if [ "$(threads "$app")" -le "$before" ]; then
    echo "START did not start the acquisition (no new threads); set ZELVOX_START_X/Y" >&2
    exit 1
  fi
  sleep 3 # past the first readings and the start-up paints
  /usr/bin/python3 bench/idle_sample.py "$app" "$seconds" --paints "$paints" --summary "$work/sum.$name"
  kill "$app"
  wait "$app" 2>/dev/null || true
  app=
  echo
}

# run_floor: the bare window; it starts its frames at once, there is nothing to press.
run_floor() {
  local floor=${ZELVOX_FLOOR:-build/bench/repaint_floor}
  [ -x "$floor" ] || { echo "missing $floor (ninja -C build repaint_floor)" >&2; exit 1; }
  QT_QPA_PLATFORM=xcb "$launcher" -- "$floor" >"$work/launch" 2>>"${ZELVOX_APP_LOG:-$work/app.log}"
  eval "$(grep -m1 '^pid=' "$work/launch")"
  app=$pid
  echo "== repaint_floor (bare Qt window, 12 repaints/s of 212 x 119 pixels), ${seconds} s"
  echo "launch -> window mapped: ${mapped_ms} ms"
  sleep 4
  /usr/bin/python3 bench/idle_sample.py "$app" "$seconds" --summary "$work/sum.floor"
  kill "$app"
  wait "$app" 2>/dev/null || true
  app=
  echo
}

# run_one CASE
run_one() {
  local c=$1
  case $c in
  floor)
    run_floor
    ;;
  demo)
    run_case demo "zelvox --demo, 120 readings/min, ${seconds} s" --demo
    ;;
  bytes | rules)
    [ -x "$sim" ] || { echo "missing $sim" >&2; exit 1; }
    # rules: the same meter with five alarm rules checked on every frame, none of them met (the
    # cost of watching; what a firing rule then says is the notices' own).
    local rules=()
    [ "$c" = rules ] && rules=(--alarm 'high: above 6 V clear 5.9 V' --alarm 'low: below 0.5 V for 2s'
      --alarm 'over: overload' --alarm 'quiet: silent for 5s' --alarm 'stuck: unchanged for 1min')
    # A display that changes on every frame: 200 different values, one frame each, looping.
    for i in $(seq 0 199); do printf '1 %d.%03d 1\n' $((1 + i % 5)) $(((i * 37) % 1000)); done >"$work/displays"
    # The pacing option is found in the simulator's help (ZELVOX_SIM_BYTE_ARGS overrides it).
    byteopt=${ZELVOX_SIM_BYTE_ARGS-$("$sim" --help | grep -oE -- '--[a-z-]*byte[a-z-]*' | head -n1 || true)}
    how="one byte at a time at line speed ($byteopt)"
    if [ -z "$byteopt" ]; then
      how="whole frames: this zelvox-sim has no byte-at-a-time option"
    fi
    coproc SIM { exec "$sim" --displays "$work/displays" --wait $byteopt; }
    simpid=$SIM_PID
    read -r pts <&"${SIM[0]}"
    run_case "$c" "zelvox --port (zelvox-sim, display changing every frame, $how${rules:+, five alarm rules}), 120 readings/min, ${seconds} s" --port "$pts" "${rules[@]}"
    kill "$simpid" 2>/dev/null || true
    wait "$simpid" 2>/dev/null || true
    simpid=
    ;;
  *)
    echo "unknown case: $c (demo, bytes, rules or floor)" >&2
    exit 2
    ;;
  esac
}

for round in $(seq "$rounds"); do
  [ "$rounds" -gt 1 ] && echo "-- round $round of $rounds"
  for c in "${cases[@]}"; do run_one "$c"; done
done

# The closing figures: each program case beside the floor of the same run.
/usr/bin/python3 - "$work" "${cases[@]}" <<'PY'
import statistics, sys
work, cases = sys.argv[1], list(dict.fromkeys(sys.argv[2:]))
def rows(case):
    try:
        with open(f"{work}/sum.{case}") as f:
            return [(float(c), t, float(w)) for c, t, w in (l.rstrip("\n").split("\t") for l in f)]
    except OSError:
        return []
floor = rows("floor")
for case in cases:
    got = rows(case)
    if case == "floor" or not got:
        continue
    cpu = statistics.median(r[0] for r in got)
    thread, wakes = max(((r[1], r[2]) for r in got), key=lambda b: b[1])
    text = f"{case}: program {cpu:.2f} % of a core"
    if floor:
        base = statistics.median(r[0] for r in floor)
        text += f" = {cpu / base:.2f}x floor ({base:.2f} %)"
    text += f"; busiest thread {thread} {wakes:.0f} wake-ups/s"
    if floor and len(got) > 1 and len(got) == len(floor):
        text += "; each round " + " ".join(f"{p[0] / f[0]:.2f}x" for p, f in zip(got, floor))
    print(text)
# What the alarm rules add: the same meter with and without them.
if rows("rules") and rows("bytes"):
    r = statistics.median(x[0] for x in rows("rules"))
    b = statistics.median(x[0] for x in rows("bytes"))
    print(f"rules: {r / b:.2f}x the same meter without rules ({r:.2f} % against {b:.2f} %)")
PY
