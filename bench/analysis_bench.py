#!/usr/bin/env python3
"""Analysis against the floor of reading the project's files, under Wine.

    analysis_bench.py BUILD_DIR PROJECTS_DIR [--runs N] [--window-runs N]
                      [--sizes 1000,5000,20000] [--shapes chain,fan,layered]

For every generated project (PROJECTS_DIR/<shape>-<units>, made by
make_project.py) it measures in one run, interleaved and after a warm-up:
  floor  wall time of `wine read_floor.exe DIR` (opens and reads every file once)
  cli    wall time of `wine quorrin-cli.exe -I ... --json Bench.dpr`
and reports medians, the ratio cli/floor, and the same ratio with Wine's
process start (`wine read_floor.exe` with nothing to do) taken off both.
For the largest size it also times the window (window_fill.exe: from the
dialog's OK until tree and order list are filled and painted) against the
CLI. Needs a display and a running wineserver (bench/run arranges both).
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

SEARCH = ["lib\\base", "lib\\extra", "src\\core", "src\\ui"]


def wall(args, cwd=None):
    start = time.perf_counter()
    p = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=1800)
    elapsed = time.perf_counter() - start
    if p.returncode != 0:
        sys.exit(f"{' '.join(args)} failed ({p.returncode}): {p.stderr.decode('latin-1')[-500:]}")
    return elapsed * 1000.0, p.stdout.decode("latin-1")


def cli_args(build):
    args = ["wine", os.path.join(build, "cli", "quorrin-cli.exe")]
    for s in SEARCH:
        args += ["-I", s]
    # JSON: its size grows with the tree; the text form indents each level
    # by two blanks, which for a chain 20,000 deep is 400 MB of blanks.
    return args + ["--json", "Bench.dpr"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("projects")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--window-runs", type=int, default=3)
    ap.add_argument("--sizes", default="1000,5000,20000")
    ap.add_argument("--shapes", default="chain,fan,layered")
    a = ap.parse_args()
    floor_exe = os.path.join(a.build, "bench", "read_floor.exe")
    window_exe = os.path.join(a.build, "bench", "window_fill.exe")
    quorrin_exe = os.path.join(a.build, "app", "quorrin.exe")
    sizes = [int(s) for s in a.sizes.split(",")]

    start_cost = statistics.median(wall(["wine", floor_exe])[0] for _ in range(max(5, a.runs)))
    print(f"Wine process start (empty program): {start_cost:.0f} ms (median)")
    print()
    header = (f"{'project':<16}{'files':>7}{'MB':>7}{'floor ms':>10}{'cli ms':>9}{'cli/floor':>11}"
              f"{'net floor':>11}{'net cli':>9}{'net ratio':>11}")
    print(header)
    print("-" * len(header))
    cli_medians = {}
    for size in sizes:
        for shape in a.shapes.split(","):
            d = os.path.join(a.projects, f"{shape}-{size}")
            wall(["wine", floor_exe, d])  # warm-up: page cache and Wine's file cache
            wall(cli_args(a.build), cwd=d)
            floors, clis = [], []
            for _ in range(a.runs):
                ms, out = wall(["wine", floor_exe, d])
                floors.append(ms)
                m = re.search(r"(\d+) files (\d+) bytes", out)
                files, size_bytes = int(m.group(1)), int(m.group(2))
                ms, out = wall(cli_args(a.build), cwd=d)
                clis.append(ms)
            f, c = statistics.median(floors), statistics.median(clis)
            cli_medians[(shape, size)] = c
            net_f, net_c = f - start_cost, c - start_cost
            print(f"{shape + '-' + str(size):<16}{files:>7}{size_bytes / 1e6:>7.1f}{f:>10.0f}{c:>9.0f}"
                  f"{c / f:>10.2f}x{net_f:>11.0f}{net_c:>9.0f}{net_c / net_f:>10.2f}x", flush=True)
    print()
    largest = max(sizes)
    print(f"Window, {largest} units: from the dialog's OK to tree and order list filled and painted,")
    print("and to the whole log in the console")
    header = (f"{'project':<16}{'nodes':>8}{'items':>8}{'window ms':>11}{'cli ms':>9}{'window/cli':>12}"
              f"{'console ms':>12}{'console/cli':>13}")
    print(header)
    print("-" * len(header))
    for shape in a.shapes.split(","):
        d = os.path.join(a.projects, f"{shape}-{largest}")
        args = ["wine", window_exe, quorrin_exe, os.path.join(d, "Bench.dpr"), str(a.window_runs)] + SEARCH
        _, out = wall(args)
        runs = [tuple(float(x) for x in m)
                for m in re.findall(r"([\d.]+) ms (\d+) nodes (\d+) items ([\d.]+) ms console", out)]
        w = statistics.median(r[0] for r in runs)
        log = statistics.median(r[3] for r in runs)
        c = cli_medians[(shape, largest)]
        print(f"{shape + '-' + str(largest):<16}{int(runs[0][1]):>8}{int(runs[0][2]):>8}{w:>11.0f}{c:>9.0f}"
              f"{w / c:>11.2f}x{log:>12.0f}{log / c:>12.2f}x", flush=True)


if __name__ == "__main__":
    main()
