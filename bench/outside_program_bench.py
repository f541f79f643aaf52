#!/usr/bin/env python3
"""What Kestrix costs a program that never crashes: the outside corpus
program (tests/corpus/program) built as a user ships it (CMake Release:
stripped, names embedded) from the installed package, against the same
program without the library, under Wine: start to exit doing nothing
(`kxcorpus idle`), peak memory, executable size.

    python3 bench/outside_program_bench.py [--runs N] NAME=BUILD_OR_PREFIX...

Each NAME=PATH is a Windows build folder (installed into a prefix under the
work folder first) or an installed prefix; the corpus is built against each,
and every program runs in turn in the same rounds, so that the machine's
load falls on all alike. The program without the library comes from the
first package's corpus build. Wine's prefix: $WINEPREFIX or the first
build's (scripts/wine-env); a wineserver is kept up for the run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
CORPUS = os.path.join(ROOT, "tests", "corpus", "program")


def build_corpus(name, path, work):
    prefix = path
    if os.path.exists(os.path.join(path, "CMakeCache.txt")):
        prefix = os.path.join(work, name, "prefix")
        subprocess.run(["cmake", "--install", path, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(work, name, "corpus")
    toolchain = os.path.join(prefix, "share", "kestrix", "mingw-i686.cmake")
    subprocess.run(["cmake", "-S", CORPUS, "-B", out, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DCMAKE_TOOLCHAIN_FILE=" + toolchain, "-DCMAKE_PREFIX_PATH=" + prefix],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", out, "-j2"], check=True, stdout=subprocess.DEVNULL)
    return out


def run_once(exe, env):
    """Wall milliseconds from start to exit and peak resident memory (KiB)
    of one `wine exe idle`."""
    start = time.perf_counter()
    proc = subprocess.Popen(["wine", exe, "idle"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            cwd=os.path.dirname(exe), env=env)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = (time.perf_counter() - start) * 1000.0
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise SystemExit("%s idle ended with %d" % (exe, proc.returncode))
    return elapsed, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-outside"))
    parser.add_argument("packages", nargs="+", metavar="NAME=PATH")
    args = parser.parse_args()

    programs = []
    for i, package in enumerate(args.packages):
        name, _, path = package.partition("=")
        corpus = build_corpus(name, os.path.abspath(path), os.path.abspath(args.work))
        if i == 0:
            programs.append(("without the library", os.path.join(corpus, "kxcorpus_plain.exe")))
            if "WINEPREFIX" not in os.environ and os.path.exists(os.path.join(path, "CMakeCache.txt")):
                os.environ["WINEPREFIX"] = os.path.join(os.path.abspath(path), "wineprefix")
        programs.append(("with Kestrix (%s)" % name, os.path.join(corpus, "kxcorpus.exe")))

    env = dict(os.environ, WINEDEBUG="-all", WINEARCH="win32")
    subprocess.run(["wineserver", "-p"], env=env)
    try:
        subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _, exe in programs:
            run_once(exe, env)  # warm the file cache
        times = {name: [] for name, _ in programs}
        memory = {name: [] for name, _ in programs}
        for _ in range(args.runs):
            for name, exe in programs:
                ms, kib = run_once(exe, env)
                times[name].append(ms)
                memory[name].append(kib)
    finally:
        subprocess.run(["wineserver", "-k"], env=env)

    floor_ms = statistics.median(times[programs[0][0]])
    floor_kib = statistics.median(memory[programs[0][0]])
    floor_size = os.path.getsize(programs[0][1])
    print("%-28s %24s %22s %20s" % ("kxcorpus idle, under Wine", "start to exit (median)", "peak memory (median)",
                                   "executable"))
    for name, exe in programs:
        ms, kib, size = statistics.median(times[name]), statistics.median(memory[name]), os.path.getsize(exe)
        print("%-28s %8.1f ms (%+6.1f, %4.2fx) %9.1f MiB (%+5.1f) %8.2f MB (%+5.2f)"
              % (name, ms, ms - floor_ms, ms / floor_ms, kib / 1024.0, (kib - floor_kib) / 1024.0,
                 size / 1e6, (size - floor_size) / 1e6))
    print("%d rounds, every program once per round; load average %s" % (args.runs, os.getloadavg()[0]))


if __name__ == "__main__":
    sys.exit(main())
