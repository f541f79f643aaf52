#!/usr/bin/env python3
"""Size and time of the minidump of each kind, under Wine.

    python3 bench/minidump_bench.py build/win/tests/crashlab/crashlab.exe [runs [full-runs]]

The crash lab faults inside a click handler (access violation, display mode
4, no screenshot) and prints the time from just before the fault to the end
of the handling, by which the report and its dump are saved. For a process
with 1 thread and with 20 threads (19 idle ones), each dump kind (0: none)
is measured over the same number of runs, interleaved so that the machine's
drift hits every kind alike (the whole-memory kind, which takes Wine tens of
seconds, only full-runs times); the table gives the median time, the median's
increase over no dump, and the dump's size.
Run it with a display (xvfb-run) and a running wineserver.
"""
import os
import re
import statistics
import subprocess
import sys
import tempfile

KINDS = (0, 1, 2, 3)


def once(lab, threads, kind, tmp):
    report = os.path.join(tmp, "bench-%d-%d.txt" % (threads, kind))
    dump = report[:-4] + ".dmp"
    for path in (report, dump):
        if os.path.exists(path):
            os.remove(path)
    args = ["wine", lab, "av-read", "--click", "--times", "--report", "Z:" + report.replace("/", "\\"),
            "--set", "DumpKind=%d" % kind]
    if threads > 1:
        args += ["--threads", str(threads - 1)]
    out = subprocess.run(args, capture_output=True, timeout=180,
                         env=dict(os.environ, WINEDEBUG="-all")).stdout.decode("latin-1")
    m = re.search(r"handled in ([0-9.]+) ms", out)
    if not m:
        raise SystemExit("no time in output: " + out)
    size = os.path.getsize(dump) if os.path.exists(dump) else 0
    if kind and not size:
        raise SystemExit("no dump of kind %d" % kind)
    return float(m.group(1)), size


def main():
    lab = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    full_runs = int(sys.argv[3]) if len(sys.argv) > 3 else runs
    print("%-8s %-5s %12s %12s %12s %12s" % ("threads", "kind", "median ms", "added ms", "spread ms", "dump bytes"))
    with tempfile.TemporaryDirectory() as tmp:
        for threads in (1, 20):
            times = {k: [] for k in KINDS}
            sizes = {k: [] for k in KINDS}
            for run in range(runs):
                for kind in KINDS:
                    if kind == 3 and run >= full_runs:
                        continue
                    t, size = once(lab, threads, kind, tmp)
                    times[kind].append(t)
                    sizes[kind].append(size)
            base = statistics.median(times[0])
            for kind in KINDS:
                med = statistics.median(times[kind])
                print("%-8d %-5d %12.1f %12.1f %12.1f %12d" % (threads, kind, med, med - base,
                                                               max(times[kind]) - min(times[kind]),
                                                               int(statistics.median(sizes[kind]))))


if __name__ == "__main__":
    main()
