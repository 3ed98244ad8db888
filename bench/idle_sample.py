#!/usr/bin/python3
"""Samples a running process twice, SECONDS apart, and prints what it cost in between:
whole-program and per-thread CPU (share of one core), wake-ups per second per thread
(voluntary + involuntary context switches) and, with --paints, repaints per second per pane
read from the counter file that zelvox keeps when ZELVOX_PAINT_COUNTS names it.

    idle_sample.py PID SECONDS [--paints FILE] [--title TEXT] [--summary FILE]

With --summary, one more line goes to the end of FILE for idle-cost.sh's closing figure:
    CPU-PERCENT<TAB>BUSIEST-THREAD<TAB>ITS-WAKE-UPS-PER-SECOND
(the run time of the threads alive throughout; the busiest thread is the one woken most often).
"""
import os
import struct
import sys
import time

TICKS = os.sysconf("SC_CLK_TCK")
SLOT = struct.Struct("56sQ")


def task_snapshot(pid):
    tasks = {}
    base = f"/proc/{pid}/task"
    for tid in os.listdir(base):
        try:
            with open(f"{base}/{tid}/stat") as f:
                stat = f.read()
            with open(f"{base}/{tid}/status") as f:
                status = f.read()
            with open(f"{base}/{tid}/schedstat") as f:
                run_ns = int(f.read().split()[0])
        except OSError:
            continue  # the thread ended while we looked
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        switches = 0
        for line in status.splitlines():
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                switches += int(line.split()[1])
        tasks[int(tid)] = (name, run_ns, switches)
    return tasks


def process_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime of the whole process, dead threads too


def paint_snapshot(path):
    counts = {}
    if not path:
        return counts
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return counts
    for i in range(len(data) // SLOT.size):
        name, count = SLOT.unpack_from(data, i * SLOT.size)
        name = name.split(b"\0", 1)[0].decode("latin-1")
        if name:
            counts[name] = count
    return counts


def main():
    args = sys.argv[1:]
    paints = title = summary = None
    if "--paints" in args:
        i = args.index("--paints")
        paints = args[i + 1]
        del args[i:i + 2]
    if "--title" in args:
        i = args.index("--title")
        title = args[i + 1]
        del args[i:i + 2]
    if "--summary" in args:
        i = args.index("--summary")
        summary = args[i + 1]
        del args[i:i + 2]
    pid, seconds = int(args[0]), float(args[1])

    t0 = time.monotonic()
    tasks0, ticks0, paints0 = task_snapshot(pid), process_ticks(pid), paint_snapshot(paints)
    time.sleep(seconds)
    tasks1, ticks1, paints1 = task_snapshot(pid), process_ticks(pid), paint_snapshot(paints)
    wall = time.monotonic() - t0

    if title:
        print(f"== {title}")
    run_ns = sum(t[1] for tid, t in tasks1.items() if tid in tasks0) - sum(
        t[1] for tid, t in tasks0.items() if tid in tasks1)
    print(f"whole program: {100 * (ticks1 - ticks0) / TICKS / wall:.3f}% of one core (ticks), "
          f"{100 * run_ns / 1e9 / wall:.3f}% (run time of the threads alive throughout), over {wall:.1f} s")
    print(f"  {'tid':>7}  {'thread':<18} {'CPU %':>7} {'wake-ups/s':>11}")
    busiest = ("-", 0.0)
    for tid in sorted(set(tasks0) | set(tasks1)):
        if tid in tasks0 and tid in tasks1:
            name, ns0, sw0 = tasks0[tid]
            _, ns1, sw1 = tasks1[tid]
            wakes = (sw1 - sw0) / wall
            busiest = max(busiest, (name, wakes), key=lambda b: b[1])
            print(f"  {tid:>7}  {name:<18} {100 * (ns1 - ns0) / 1e9 / wall:7.3f} {wakes:11.1f}")
        else:
            name = (tasks0.get(tid) or tasks1.get(tid))[0]
            print(f"  {tid:>7}  {name:<18} {'(' + ('ended' if tid in tasks0 else 'started') + ' during the run)':>19}")
    if paints is not None:
        print(f"  {'repaints/s':>10}  pane/widget")
        rows = sorted(((paints1.get(k, 0) - paints0.get(k, 0)) / wall, k) for k in set(paints0) | set(paints1))
        # "(window) ..." rows count the window's repaint cycles, not a widget's paints.
        shown = [(rate, k) for rate, k in reversed(rows) if rate > 0 and not k.startswith("(")]
        for rate, k in shown:
            print(f"  {rate:10.2f}  {k}")
        if not shown:
            print("  (no repaints)")
        print(f"  {sum(r for r, _ in shown):10.2f}  all widgets")
        for rate, k in reversed(rows):
            if k.startswith("("):
                print(f"  {rate:10.2f}  {k}")
    if summary:
        with open(summary, "a") as f:
            f.write(f"{100 * run_ns / 1e9 / wall:.4f}\t{busiest[0]}\t{busiest[1]:.1f}\n")


if __name__ == "__main__":
    main()
