#!/usr/bin/env python3
"""The call-chain lab under Wine: runs every generated case, reads the true
chain the program recorded, the report's call stack and the two baselines
(the frame-pointer walk and dbghelp's StackWalk64, taken by the program at
the fault), and compares each with the truth.

A chain is compared as the set of its call sites in the program's own code
(each line of a report names the call instruction; a walker's return
address is mapped to the call instruction before it), from the frame below
the top (the fault, or the waiting thread's system call) down to the call
in the lab's entry (main, or the chain thread's function). Frames inside
system DLLs (the inside of qsort, EnumWindows and Sleep) are counted on
neither side: the truth cannot know them. Precision: reported call sites
that are true; recall: true call sites that are reported; both summed over
all cases.

Usage: check_stacklab.py STACKLAB_EXE CASES_TXT [--only KIND] [--limit N]"""
import argparse
import bisect
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
import wine_threads  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from winetest import winpath  # noqa: E402

TIMEOUT = 90
# The helper on a case's chain and its call into a system DLL: qsort's thunk
# by name, EnumWindows and Sleep through the import table (the helper's last
# indirect call).
HELPER_CALLS = {"qsort": ("lab_via_qsort", r"qsort"), "enumwindows": ("lab_via_enum", r"^\*"),
                "thread": ("lab_block", r"^\*")}
ENTRY_FUNCTIONS = ("_main", "ChainThread")


class Code:
    """The program's instructions: function of an address, the call
    instruction that ends at a return address."""

    def __init__(self, exe):
        out = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", exe], capture_output=True,
                             text=True, check=True).stdout
        self.starts, self.names = [], []
        self.call_ending_at = {}
        self.calls_in = {}
        previous = None  # (address, is_call, function)
        function = None
        for line in out.splitlines():
            m = re.match(r"^([0-9a-f]{8}) <(.+)>:$", line)
            if m:
                function = m.group(2)
                self.starts.append(int(m.group(1), 16))
                self.names.append(function)
                continue
            m = re.match(r"^\s+([0-9a-f]+):\s+(\S+)\s*(.*)$", line)
            if not m:
                continue
            address = int(m.group(1), 16)
            if previous and previous[1]:
                self.call_ending_at[address] = previous[0]
            is_call = m.group(2).startswith("call")
            if is_call:
                self.calls_in.setdefault(function, []).append((address, m.group(3)))
            previous = (address, is_call, function)
        self.low, self.high = self.starts[0], max(self.call_ending_at) if self.call_ending_at else 0

    def function(self, address):
        i = bisect.bisect_right(self.starts, address) - 1
        return self.names[i] if i >= 0 and self.low <= address <= self.high else None

    def in_program(self, address):
        return self.low <= address <= self.high

    def helper_call(self, helper, target):
        found = None
        for name, calls in self.calls_in.items():
            if name == "_" + helper or name == helper:
                for address, text in calls:
                    if re.search(target, text):
                        found = address
        return found


def is_entry(code, address):
    name = code.function(address) or ""
    return name in ENTRY_FUNCTIONS or "ChainThread" in name


def window(code, sites):
    """Call sites in the program's code down to the lab's entry (inclusive)."""
    out = set()
    for site in sites:
        if site is None or not code.in_program(site):
            continue
        out.add(site)
        if is_entry(code, site):
            break
    return out


def from_returns(code, returns):
    # A return address stands for the call instruction before it; one that
    # follows no call stands for itself (it cannot be true).
    return [code.call_ending_at.get(r, r) for r in returns]


def report_chain(path, thread_id):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    blocks = text.split("\r\n\r\n")
    for block in blocks[1:]:
        lines = block.split("\r\n")
        title = lines[0]
        if thread_id is None or ("$%x)" % thread_id) in title or ("$%x:" % thread_id) in title:
            addresses = []
            for line in lines[1:]:
                m = re.match(r"^([0-9a-f]{8}) ", line)
                if m:
                    addresses.append(int(m.group(1), 16))
            return addresses
    return []


def run_case(exe, code, index, kind):
    with tempfile.TemporaryDirectory() as tmp:
        truth_file, report_file = os.path.join(tmp, "truth.txt"), os.path.join(tmp, "report.txt")
        env = dict(os.environ, WINEDEBUG="-all")
        # Output to a file, not a pipe: a helper process that outlives the
        # program could hold a pipe open after the program has ended.
        out_file = os.path.join(tmp, "out.txt")
        try:
            with open(out_file, "wb") as out:
                proc = wine_threads.run(["wine", exe, str(index), "--truth", winpath(truth_file), "--report",
                                         winpath(report_file)], TIMEOUT, env=env, stdout=out,
                                        stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return index, kind, "hang", None
        with open(out_file, "rb") as out:
            output = out.read()
        if not os.path.exists(truth_file) or not os.path.exists(report_file):
            return index, kind, "no truth or no report (exit 0x%08x); output:\n%s" % (
                proc.returncode & 0xFFFFFFFF, output.decode("latin-1")[-2000:]), None
        walks = {"truth": [], "ebp": [], "dbghelp": []}
        with open(truth_file) as f:
            for line in f:
                name, value = line.split()
                walks[name].append(int(value, 16))
        thread = re.search(rb"chain thread ([0-9a-f]+)", output)
        reported = report_chain(report_file, int(thread.group(1), 16) if thread else None)
    # Recorded from the outermost call in; the window runs from the top down.
    truth = window(code, from_returns(code, walks["truth"][::-1]))
    if kind in HELPER_CALLS:
        site = code.helper_call(*HELPER_CALLS[kind])
        if site:
            truth.add(site)
    chains = {
        "tracer": window(code, reported[1:]),
        "ebp": window(code, from_returns(code, walks["ebp"][1:])),
        "dbghelp": window(code, from_returns(code, walks["dbghelp"][1:])),
    }
    return index, kind, None, {name: (len(c & truth), len(c), len(truth)) for name, c in chains.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("cases")
    parser.add_argument("--only")
    parser.add_argument("--limit", type=int)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    code = Code(args.exe)
    cases = []
    with open(args.cases) as f:
        for line in f:
            index, kind, _ = line.split()
            if not args.only or kind == args.only:
                cases.append((int(index), kind))
    if args.limit:
        cases = cases[: args.limit]
    totals = {}
    failures = []
    # The first case alone: two programs that start together on a cold
    # wineserver have been seen to hang Wine itself.
    results = [run_case(args.exe, code, *cases[0])] if cases else []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        results += list(pool.map(lambda c: run_case(args.exe, code, *c), cases[1:]))
    for index, kind, error, counts in results:
        if error:
            failures.append("case %d (%s): %s" % (index, kind, error))
            continue
        for name, (tp, reported, true) in counts.items():
            for key in (kind, "all"):
                t = totals.setdefault((key, name), [0, 0, 0, 0])
                t[0] += tp
                t[1] += reported
                t[2] += true
                t[3] += 1
    print("%-12s %-8s %6s %9s %7s" % ("chains", "walker", "cases", "precision", "recall"))
    kinds = sorted({k for k, _ in totals} - {"all"}) + ["all"]
    figures = {}
    for kind in kinds:
        for name in ("tracer", "ebp", "dbghelp"):
            tp, reported, true, n = totals.get((kind, name), [0, 0, 0, 0])
            precision = tp / reported if reported else 1.0
            recall = tp / true if true else 1.0
            figures[(kind, name)] = (precision, recall)
            print("%-12s %-8s %6d %9.3f %7.3f" % (kind, name, n, precision, recall))
    for failure in failures:
        print("FAILED " + failure)
    ok = not failures
    precision, recall = figures[("all", "tracer")]
    if precision < 0.95 or recall < 0.95:
        print("the tracer is below 0.95 over all chains")
        ok = False
    if ("fp", "tracer") in figures and figures[("fp", "tracer")] != (1.0, 1.0):
        print("the tracer is not exact on chains with frame pointers")
        ok = False
    print("%d passed, %d failed" % (1 if ok else 0, 0 if ok else 1))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
