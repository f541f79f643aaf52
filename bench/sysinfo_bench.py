#!/usr/bin/env python3
"""The system-information collectors' share of fault-to-saved-report, under
Wine.

    python3 bench/sysinfo_bench.py build/win [runs] [processes]

First starts the given number of sleeping processes (default 300; this
script's children, ended at the end), then:
1. sysinfo_bench.exe: each collector timed with 100 loaded modules;
2. the crash lab's 20-thread report (av-read in a click handler, as in
   crash_report_bench.py) with the "modules", "processes" and "hardware"
   plug-ins and without them (--set Plugins=labitem): medians and the
   difference, the collectors' share.
Run it with a display (xvfb-run) and a running wineserver.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

ENV = dict(os.environ, WINEDEBUG="-all")


def report_time(lab, plugins, runs):
    times = []
    with tempfile.TemporaryDirectory() as tmp:
        report = "Z:" + os.path.join(tmp, "bench.txt").replace("/", "\\")
        for _ in range(runs):
            args = ["wine", lab, "av-read", "--click", "--times", "--threads", "19", "--report", report]
            if plugins is not None:
                args += ["--set", "Plugins=\"%s\"" % plugins]
            out = subprocess.run(args, capture_output=True, timeout=120, env=ENV).stdout.decode("latin-1")
            m = re.search(r"handled in ([0-9.]+) ms", out)
            if not m:
                raise SystemExit("no time in output: " + out)
            times.append(float(m.group(1)))
    return times


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/win"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    processes = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    bench = os.path.join(build, "bench", "sysinfo_bench.exe")
    children = []
    try:
        for i in range(processes):
            children.append(subprocess.Popen(["wine", bench, "--sleep"], env=ENV, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL))
            if i % 20 == 19:
                time.sleep(1)
        time.sleep(5)
        # Into a file: a pipe would stay open in the desktop process that
        # the first drawing call starts.
        with tempfile.TemporaryFile() as out:
            subprocess.run(["wine", bench, "100", "0", str(runs)], stdout=out, timeout=600, env=ENV)
            out.seek(0)
            print(out.read().decode("latin-1").replace("\r", ""), end="")
        lab = os.path.join(build, "tests", "crashlab", "crashlab.exe")
        with_lists = report_time(lab, None, runs)
        without = report_time(lab, "labitem", runs)
    finally:
        for child in children:
            child.kill()
        for child in children:
            child.wait()
    a, b = statistics.median(with_lists), statistics.median(without)
    print("20-thread report, %d runs (median, min-max):" % runs)
    print("  with the three lists     %7.1f ms  (%.1f-%.1f)" % (a, min(with_lists), max(with_lists)))
    print("  without them             %7.1f ms  (%.1f-%.1f)" % (b, min(without), max(without)))
    print("  the lists' share         %7.1f ms  (%.0f%%)" % (a - b, 100.0 * (a - b) / a if a else 0))


if __name__ == "__main__":
    main()
