#!/usr/bin/env python3
"""Time from a processor fault to the saved bug report, under Wine.

    python3 bench/crash_report_bench.py build/win/tests/crashlab/crashlab.exe [runs] [--kinds]

The crash lab faults inside a click handler (access violation, display mode
4, no screenshot) and prints the time from just before the fault to the
return of the handling, by which the report is saved to the bug report file.
Each process is measured once; the figures are the median and the spread over
the runs, for a process with 1 thread and with 20 threads (19 idle ones).

--kinds: the same for every way of crashing in the crash lab's table
(tests/crashlab/crash_scenarios.py). A program that goes on prints the time
to the end of the handling; for one that ends, the time runs from the crash
to the process's end (exit_code.exe takes the counter then), which comes
right after the report is saved.
Run it with a display (xvfb-run) and a running wineserver.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile


def measure(lab, threads, runs):
    times = []
    with tempfile.TemporaryDirectory() as tmp:
        report = "Z:" + os.path.join(tmp, "bench.txt").replace("/", "\\")
        for _ in range(runs):
            args = ["wine", lab, "av-read", "--click", "--times", "--report", report]
            if threads > 1:
                args += ["--threads", str(threads - 1)]
            out = subprocess.run(args, capture_output=True, timeout=120,
                                 env=dict(os.environ, WINEDEBUG="-all")).stdout.decode("latin-1")
            m = re.search(r"handled in ([0-9.]+) ms", out)
            if not m:
                raise SystemExit("no time in output: " + out)
            times.append(float(m.group(1)))
        size = os.path.getsize(os.path.join(tmp, "bench.txt"))
    return times, size


def measure_kind(lab, scenario, runs):
    launcher = os.path.join(os.path.dirname(lab), "exit_code.exe")
    times = []
    with tempfile.TemporaryDirectory() as tmp:
        report = "Z:" + os.path.join(tmp, "bench.txt").replace("/", "\\")
        for _ in range(runs):
            proc = subprocess.run(["wine", launcher, lab, scenario.name, *scenario.args, "--times", "--report", report],
                                  capture_output=True, timeout=120, env=dict(os.environ, WINEDEBUG="-all"))
            out, err = proc.stdout.decode("latin-1"), proc.stderr.decode("latin-1")
            handled = re.search(r"handled in ([0-9.]+) ms", out)
            raised = re.search(r"raised at (\d+) per (\d+)", out)
            ended = re.search(r"ended at (\d+)", err)
            if handled:
                times.append(float(handled.group(1)))
            elif raised and ended:
                times.append((int(ended.group(1)) - int(raised.group(1))) * 1000.0 / int(raised.group(2)))
            else:
                raise SystemExit("no time for %s: %r %r" % (scenario.label(), out, err))
    return times


def kinds(lab, runs):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "crashlab"))
    from crash_scenarios import SCENARIOS
    for s in SCENARIOS:
        if s.cls is None:
            continue
        times = measure_kind(lab, s, runs)
        print("%-34s %-8s median %7.1f ms, min %7.1f ms, max %7.1f ms"
              % (s.label(), "goes on" if s.goes_on else "ends", statistics.median(times), min(times), max(times)))


def main():
    lab = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 and not sys.argv[2].startswith("-") else 15
    if "--kinds" in sys.argv:
        kinds(lab, runs)
        return
    for threads in (1, 20):
        times, size = measure(lab, threads, runs)
        print("%2d thread(s): median %.1f ms, min %.1f ms, max %.1f ms over %d runs (file %d bytes)"
              % (threads, statistics.median(times), min(times), max(times), runs, size))


if __name__ == "__main__":
    main()
