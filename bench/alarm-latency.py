#!/usr/bin/python3
# zelvox-decode's alarms on a pseudo-terminal meter: the time from writing the frame that crosses
# a limit to the --alarm-exec command starting (median of N crossings, at each sampling rate),
# and from the last frame written to the command of a `silent for 5s` rule, less the 5 s.
# The frames are the simulator's own (read once from zelvox-sim --displays).
from datetime import datetime
import os, statistics, subprocess, sys, tempfile, time, tty

bindir = os.path.join(os.environ.get("ZELVOX_BUILD", "build"), "tools")
crossings = int(sys.argv[1]) if len(sys.argv) > 1 else 10
tmp = tempfile.mkdtemp()

def frames():
    displays = os.path.join(tmp, "displays")
    with open(displays, "w") as f:
        f.write("1 4.000 1\n1 4.500 1\n")
    sim = subprocess.Popen([bindir + "/zelvox-sim", "--wait", "--frames", "2", "--displays", displays],
                           stdout=subprocess.PIPE, text=True)
    port = sim.stdout.readline().strip()
    fd = os.open(port, os.O_RDONLY | os.O_NOCTTY)
    tty.setraw(fd)
    data = b""
    while len(data) < 40:
        data += os.read(fd, 40 - len(data))
    sim.wait()
    os.close(fd)
    return data[:20], data[20:40]

def value_of(frame):
    p = subprocess.run([bindir + "/zelvox-decode", "-"], input=frame, capture_output=True)
    return float(p.stdout.split(b"\t")[0])

a, b = frames()
low, high = (a, b) if value_of(a) < value_of(b) else (b, a)

def run(rate, silence):
    master, slave = os.openpty()
    tty.setraw(master)
    log = os.path.join(tmp, "cmd%s" % rate)
    args = [bindir + "/zelvox-decode", "--port", os.ttyname(slave), "--alarm", "high: above 4.2 V",
            "--alarm", "quiet: silent for 5s",
            "--alarm-exec", "echo $(date +%%s.%%N) $ZELVOX_ALARM $ZELVOX_ALARM_STATE $ZELVOX_ALARM_TIME >> %s" % log]
    if rate:
        args += ["--rate", str(rate)]
    dec = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    crossed = []
    for i in range(crossings):
        for _ in range(6):
            os.write(master, low); time.sleep(0.083)
        crossed.append(time.time()); os.write(master, high); time.sleep(0.083)
        for _ in range(6):
            last = time.time(); os.write(master, low); time.sleep(0.083)
    time.sleep(6.5 if silence else 1.0)
    dec.terminate(); dec.wait(); os.close(master); os.close(slave)
    started = [l.split() for l in open(log)]
    fired = [(float(t), datetime.fromisoformat(at).timestamp()) for t, name, state, at in started
             if name == "high" and state == "firing"]
    quiet = [float(t) for t, name, state, at in started if name == "quiet" and state == "firing"]
    lat = [1000 * (f - c) for c, (f, at) in zip(crossed, fired)]
    seen = [1000 * (at - c) for c, (f, at) in zip(crossed, fired)]
    print("--rate %-4s crossing frame to command start: median %.1f ms, max %.1f ms (%d of %d fired;"
          " the frame's instant %.1f ms after it was written)"
          % (rate or "none", statistics.median(lat), max(lat), len(fired), crossings, statistics.median(seen)))
    if silence and quiet:
        print("last frame to the command of 'silent for 5s': 5 s + %.1f ms" % (1000 * (quiet[0] - last) - 5000))

for rate, silence in ((0, False), (1, True), (120, False)):
    run(rate, silence)
