#!/usr/bin/env python3
"""Start-up cost of Kestrix under Wine: the time from CreateProcess to main
for a program that does nothing, without the library (startup_plain), with
the library switched off by its settings (crashlab_off) and with it on
(crashlab), measured in one run by startup_clock, which reads the counter
the program prints on entering main; and the library's own start-up as the
crash lab reports it (its static constructor, timed in-process).

    python3 bench/startup_bench.py build/win [runs] [--vs OTHER_BUILD]

--vs: the crash lab of another build (an earlier version) runs in the same
rounds, for figures side by side.

Run it with a running wineserver (xvfb-run for the display, as the tests).
"""
import os
import re
import statistics
import subprocess
import sys


def measure(clock, program, args, runs, own):
    to_main, total = [], []
    for _ in range(runs):
        out = subprocess.run(["wine", clock, program, *args], capture_output=True, timeout=60,
                             env=dict(os.environ, WINEDEBUG="-all")).stdout.decode("latin-1")
        m = re.search(r"to main ([0-9.]+) end ([0-9.]+)", out)
        if not m:
            raise SystemExit("no time from %s: %r" % (program, out))
        to_main.append(float(m.group(1)))
        total.append(float(m.group(2)))
        mine = re.search(r"library start-up ([0-9.]+) ms", out)
        if mine:
            own.append(float(mine.group(1)))
    return to_main, total


def main():
    args = sys.argv[1:]
    other = None
    if "--vs" in args:
        at = args.index("--vs")
        other = args[at + 1]
        del args[at:at + 2]
    build = args[0]
    runs = int(args[1]) if len(args) > 1 else 30
    clock = os.path.join(build, "bench", "startup_clock.exe")
    programs = [
        ("without the library", os.path.join(build, "bench", "startup_plain.exe"), []),
        ("library switched off", os.path.join(build, "tests", "crashlab", "crashlab_off.exe"), ["startup"]),
        ("library on", os.path.join(build, "tests", "crashlab", "crashlab.exe"), ["startup"]),
    ]
    if other:
        programs += [
            ("switched off (--vs)", os.path.join(other, "tests", "crashlab", "crashlab_off.exe"), ["startup"]),
            ("library on (--vs)", os.path.join(other, "tests", "crashlab", "crashlab.exe"), ["startup"]),
        ]
    # Interleaved rounds, so that the machine's load falls on all alike.
    results = {name: ([], []) for name, _, _ in programs}
    own = {name: [] for name, _, _ in programs}
    for _ in range(runs):
        for name, program, args in programs:
            to_main, total = measure(clock, program, args, 1, own[name])
            results[name][0].extend(to_main)
            results[name][1].extend(total)
    floor = statistics.median(results[programs[0][0]][0])
    for name, _, _ in programs:
        to_main, total = results[name]
        print("%-22s to main: median %6.1f ms (+%5.1f), min %6.1f; to exit: median %6.1f ms  (%d runs)"
              % (name, statistics.median(to_main), statistics.median(to_main) - floor, min(to_main),
                 statistics.median(total), runs))
        if own[name]:
            print("%-22s   its own start-up (static constructor): median %.2f ms, min %.2f, max %.2f"
                  % ("", statistics.median(own[name]), min(own[name]), max(own[name])))
    print("The gap between the floor and the crash lab switched off is what the crash lab and the library")
    print("load before any code runs (the crash lab imports user32 itself). Load average %.1f." % os.getloadavg()[0])


if __name__ == "__main__":
    main()
