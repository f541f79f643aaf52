#!/usr/bin/env python3
"""The crash corpus: an outside program, built from the installed Kestrix
package, ends in one named way per scenario. With the library every
scenario must end (a time-out is a failure) with the documented exit code
and exactly one report naming the right class, a message that says what
happened and the crashing function; the same scenario without the library
must end too, with the exit code the table records.

Exit codes are as the parent sees them under Wine: the low byte of the
Windows exit status (0xC0000005 gives 5)."""
import argparse
import collections
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
import wine_threads  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from minidump_file import Minidump  # noqa: E402
from report_file import parse_report, split_reports  # noqa: E402

ARGS = None

# Windows exit statuses of processes that end through an unhandled
# exception, low byte.
AV = 0x05           # access violation, 0xC0000005
DIV0 = 0x94         # integer division by zero, 0xC0000094
ILLEGAL = 0x1D      # illegal instruction, 0xC000001D
PRIVILEGED = 0x96   # privileged instruction, 0xC0000096
BREAKPOINT = 0x03   # breakpoint, 0x80000003
FAST_FAIL = 0x09    # fast fail, 0xC0000409
ABORT = 3           # abort(), also std::terminate's default
# docs/kestrix.md, "Exit codes": a program that ends after a report exits
# with the crash's own code (see EndCode).
ENDS = "ends"
# Wine ends a process whose main thread's stack overflowed with 1, and
# when another thread's stack overflowed it ends only that thread (Windows
# ends the process with 0xC00000FD either way).
STACK_OVERFLOW_WINE = 1
STACK_OVERFLOW_THREAD_WINE = 0

ACTIVE_AV = r"^Access violation at address \$[0-9a-f]+ in module '%s'\. %s of address \$%s\.$"


# Operating-system exceptions without a class of their own in the library's
# table are EExternalException; a class naming the kind does as well. The
# message must say what happened.
BREAKPOINT_CLASS, BREAKPOINT_MESSAGE = "EBreakpoint|EExternalException", r"(?i)breakpoint"
ILLEGAL_CLASS, ILLEGAL_MESSAGE = "EIllegalInstruction|EExternalException", r"(?i)illegal instruction"
OUT_OF_MEMORY = r"^(?:std::bad_alloc|[Oo]ut of memory)\.$"


# The code a program ends with after a report, low byte: the system
# exception's own code, as Windows ends a process that dies of it (also where
# Wine without the library differs: a main-thread stack overflow ends with 1
# there); for a raised code, that code; 3 for C++ exceptions and run-time
# errors, as abort().
SYSTEM_END_CODES = {"EAccessViolation": AV, "EDivByZero": DIV0, "EStackOverflow": 0xFD,
                    "EIllegalInstruction": ILLEGAL, "EPrivilege": PRIVILEGED, "EBreakpoint": BREAKPOINT}


def EndCode(s):
    for cls in (s.cls or "").split("|"):
        if cls in SYSTEM_END_CODES:
            return SYSTEM_END_CODES[cls]
    if s.cls and "EExternalException" in s.cls:
        return s.plain_rc
    return ABORT


def av(kind="Read", module="kxcorpus.exe", address="0"):
    return ACTIVE_AV % (re.escape(module), kind, address)


Scenario = collections.namedtuple(
    "Scenario", "args cls message function rc plain_rc output known_fault",
    defaults=(None, None))
S = Scenario

# Library faults the scenarios below show, one line each.
NEW_STACK_FAULT = "bad_alloc from operator new: the call stack misses the caller and misnames the throwing function"

# args: the corpus's command line. cls: the report's exception class (a
# regular expression matched whole), None when no report may be made.
# message: searched in the report's exception message. function: named in
# the first thread section's call stack. rc / plain_rc: exit code with and
# without the library (ENDS is checked for all such scenarios together by
# test_exit_code_after_a_report; each scenario checks that its program
# ended). output: searched in the program's output. known_fault: the
# library's fault that makes the scenario fail, one line.
# A program that goes on prints "went on" and exits 0; one that ends does not.
SCENARIOS = [
    # --- in main -----------------------------------------------------------
    S(["null-read"], "EAccessViolation", av(), "CorpusNullRead", ENDS, AV),
    S(["null-write"], "EAccessViolation", av("Write"), "CorpusNullWrite", ENDS, AV),
    S(["null-call"], "EAccessViolation", r"(?i)^access violation", "CorpusNullCall", ENDS, AV),
    S(["div-zero"], "EDivByZero", r"^Division by zero\.$", "CorpusDivideByZero", ENDS, DIV0),
    # The heap refuses the second free (HeapFree fails): nothing to report,
    # the program goes on, with the library as without it.
    S(["double-free"], None, None, None, 0, 0),
    S(["stack-overflow"], "EStackOverflow", r"^Stack overflow\.$", "CorpusRecurse", ENDS, STACK_OVERFLOW_WINE),
    # The toolchain leaves __cxa_pure_virtual unresolved (a weak reference):
    # without the library the call goes to address 0.
    S(["pure-virtual"], "KxException", r"(?i)pure virtual", "DescribeShape", ENDS, AV),
    S(["abort"], "KxException", r"(?i)abort", "CorpusAbort", ENDS, ABORT),
    S(["terminate"], "KxException", r"(?i)terminate", "CorpusTerminate", ENDS, ABORT),
    S(["noexcept-throw"], "ECorpusError", r"^thrown in a noexcept function\.$", "CorpusThrowInNoexcept", ENDS, ABORT),
    # The C runtime's function returns EINVAL after its invalid-parameter
    # handler: the program goes on (Wine's msvcrt.dll without a handler of
    # the program's own only logs it).
    S(["invalid-parameter"], "KxException", r"(?i)invalid parameter", "CorpusInvalidParameter", 0, 0),
    S(["new-fails"], "bad_alloc", OUT_OF_MEMORY, "CorpusNewFails", ENDS, ABORT),
    S(["breakpoint"], BREAKPOINT_CLASS, BREAKPOINT_MESSAGE, "CorpusBreakpoint", ENDS, BREAKPOINT),
    S(["illegal-instruction"], ILLEGAL_CLASS, ILLEGAL_MESSAGE, "CorpusIllegalInstruction",
      ENDS, ILLEGAL),
    S(["privileged-instruction"], "EPrivilege", r"^Privileged instruction\.$", "CorpusPrivilegedInstruction", ENDS,
      PRIVILEGED),
    S(["cpp-throw"], "runtime_error", r"^nobody catches this runtime_error\.$", "CorpusThrow", ENDS, ABORT),
    S(["raise-exception"], "EExternalException", r"^External exception e0c0ffee\.$", "CorpusRaiseException", ENDS,
      0xEE),
    # The fault's C++ exception cannot pass user32's frames.
    S(["callback"], "EAccessViolation", av(), "CorpusEnumCallback", ENDS, AV),
    # A fault with the C runtime's heap locked (as inside malloc on a
    # corrupted heap): handled in the faulting thread, which can take the
    # lock again; nobody else could allocate any more, so the program ends.
    S(["heap-locked"], "EAccessViolation", av(), "CorpusFaultHoldingHeap", ENDS, AV),
    S(["heap-locked", "thread"], "EAccessViolation", av(), "CorpusFaultHoldingHeap", ENDS, AV),
    S(["heap-locked", "raw-thread"], "EAccessViolation", av(), "CorpusFaultHoldingHeap", ENDS, AV),
    S(["heap-locked", "window"], "EAccessViolation", av(), "CorpusFaultHoldingHeap", ENDS, AV),
    S(["caught-null-read"], None, None, None, 0, AV,
      output=r"caught: Access violation at address \$[0-9a-f]+ in module 'kxcorpus\.exe'\. Read of address \$0"),
    # The program's own filter replaced the library's after start-up.
    S(["filter-overwritten"], "EExternalException", r"^External exception e0f117e2\.$", "CorpusFilterOverwritten",
      ENDS, 0xE2),
    # Ends the process by design: no handler runs, no report.
    S(["fast-fail"], None, None, None, FAST_FAIL, FAST_FAIL),
    # --- in the DLL with a C++ runtime of its own --------------------------
    S(["dll-null-read"], "EAccessViolation", av(module="corpus_dll.dll"), "CorpusDllNullRead", ENDS, AV),
    S(["dll-div-zero"], "EDivByZero", r"^Division by zero\.$", "CorpusDllDivide", ENDS, DIV0),
    # The DLL's runtime cannot unwind into the program's frames: without the
    # library its own std::terminate aborts.
    S(["dll-throw"], "ECorpusDllError", r"corpus_dll\.dll.*corpus DLL error\.$", "CorpusDllThrow", ENDS, ABORT),
    # --- in a std::thread: the thread ends, the program goes on ------------
    S(["null-read", "thread"], "EAccessViolation", av(), "CorpusNullRead", 0, AV),
    S(["null-write", "thread"], "EAccessViolation", av("Write"), "CorpusNullWrite", 0, AV),
    # A fault that cannot be unwound (a call to nowhere, a fault in a module
    # the program's unwinder does not know, an exception raised in system
    # code) is reported from a fresh stack and ends the process, in any thread.
    S(["null-call", "thread"], "EAccessViolation", r"(?i)^access violation", "CorpusNullCall", ENDS, AV),
    S(["div-zero", "thread"], "EDivByZero", r"^Division by zero\.$", "CorpusDivideByZero", 0, DIV0),
    S(["stack-overflow", "thread"], "EStackOverflow", r"^Stack overflow\.$", "CorpusRecurse", 0,
      STACK_OVERFLOW_THREAD_WINE),
    S(["cpp-throw", "thread"], "runtime_error", r"^nobody catches this runtime_error\.$", "CorpusThrow", 0, ABORT),
    S(["new-fails", "thread"], "bad_alloc", OUT_OF_MEMORY, "CorpusNewFails", 0, ABORT),
    S(["raise-exception", "thread"], "EExternalException", r"^External exception e0c0ffee\.$",
      "CorpusRaiseException", ENDS, 0xEE),
    S(["breakpoint", "thread"], BREAKPOINT_CLASS, BREAKPOINT_MESSAGE, "CorpusBreakpoint", 0,
      BREAKPOINT),
    S(["illegal-instruction", "thread"], ILLEGAL_CLASS, ILLEGAL_MESSAGE,
      "CorpusIllegalInstruction", 0, ILLEGAL),
    S(["privileged-instruction", "thread"], "EPrivilege", r"^Privileged instruction\.$",
      "CorpusPrivilegedInstruction", 0, PRIVILEGED),
    S(["dll-null-read", "thread"], "EAccessViolation", av(module="corpus_dll.dll"), "CorpusDllNullRead", ENDS, AV),
    # abort() ends the process from any thread.
    S(["abort", "thread"], "KxException", r"(?i)abort", "CorpusAbort", ENDS, ABORT),
    # --- in a thread started by CreateThread --------------------------------
    S(["null-read", "raw-thread"], "EAccessViolation", av(), "CorpusNullRead", 0, AV),
    S(["div-zero", "raw-thread"], "EDivByZero", r"^Division by zero\.$", "CorpusDivideByZero", 0, DIV0),
    S(["stack-overflow", "raw-thread"], "EStackOverflow", r"^Stack overflow\.$", "CorpusRecurse", 0,
      STACK_OVERFLOW_THREAD_WINE),
    S(["cpp-throw", "raw-thread"], "runtime_error", r"^nobody catches this runtime_error\.$", "CorpusThrow", 0,
      ABORT),
    S(["privileged-instruction", "raw-thread"], "EPrivilege", r"^Privileged instruction\.$",
      "CorpusPrivilegedInstruction", 0, PRIVILEGED),
    S(["raise-exception", "raw-thread"], "EExternalException", r"^External exception e0c0ffee\.$",
      "CorpusRaiseException", ENDS, 0xEE),
    # --- in a window procedure behind a GUI framework's event boundary: the
    # library reports, the program goes on; without it the boundary shows
    # C++ exceptions itself and faults end the program.
    S(["null-read", "window"], "EAccessViolation", av(), "CorpusNullRead", 0, AV),
    S(["null-write", "window"], "EAccessViolation", av("Write"), "CorpusNullWrite", 0, AV),
    S(["div-zero", "window"], "EDivByZero", r"^Division by zero\.$", "CorpusDivideByZero", 0, DIV0),
    S(["illegal-instruction", "window"], ILLEGAL_CLASS, ILLEGAL_MESSAGE,
      "CorpusIllegalInstruction", 0, ILLEGAL),
    S(["privileged-instruction", "window"], "EPrivilege", r"^Privileged instruction\.$",
      "CorpusPrivilegedInstruction", 0, PRIVILEGED),
    S(["cpp-throw", "window"], "runtime_error", r"^nobody catches this runtime_error\.$", "CorpusThrow", 0, 0),
    S(["new-fails", "window"], "bad_alloc", OUT_OF_MEMORY, "CorpusNewFails", 0, 0),
    # std::terminate ends the program wherever it is called.
    S(["noexcept-throw", "window"], "ECorpusError", r"^thrown in a noexcept function\.$", "CorpusThrowInNoexcept",
      ENDS, ABORT),
    # --- during static initialisation and at exit ---------------------------
    S(["null-read", "static-init"], "EAccessViolation", av(), "CorpusNullRead", ENDS, AV,
      output="static initialisation"),
    S(["div-zero", "static-init"], "EDivByZero", r"^Division by zero\.$", "CorpusDivideByZero", ENDS, DIV0,
      output="static initialisation"),
    S(["cpp-throw", "static-init"], "runtime_error", r"^nobody catches this runtime_error\.$", "CorpusThrow", ENDS,
      ABORT, output="static initialisation"),
    S(["null-read", "at-exit"], "EAccessViolation", av(), "CorpusNullRead", ENDS, AV, output="leaving main"),
    S(["cpp-throw", "at-exit"], "runtime_error", r"^nobody catches this runtime_error\.$", "CorpusThrow", ENDS, ABORT,
      output="leaving main"),
]

# Many threads faulting at ten sites (site k reads address 0x100 + 4k).
MANY = {
    # 100 threads fault together, nobody catches: each thread ends.
    "many-threads": AV,
    # 10 threads fault 10 times each; the program catches every fault and
    # hands it to HandleException.
    "many-handled": AV,
}

# Known library fault in the exit code after a report, one line; None when
# there is none.
EXIT_CODE_FAULT = None

RUN_TIMEOUT = 30    # seconds for one scenario
MANY_TIMEOUT = 400  # seconds for a many-threads scenario (100 full reports of 100 threads)

Run = collections.namedtuple("Run", "rc out err reports seconds hung folder")
RESULTS = {}  # (exe, name) -> Run


def scenario_name(args):
    return " ".join(args)


def sh(*cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


def reports(path):
    """The reports of a bug report file: [(header dict, [(title, lines)])]."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    return [(header, sections) for _, header, sections, _ in map(parse_report, split_reports(text))]


def run_scenario(build, exe, args, timeout, dump_kind=0):
    """Runs one scenario in a folder of its own (the report goes beside the exe);
    with dump_kind, minidumps of that kind beside the reports."""
    folder = os.path.join(ARGS.work, "runs", exe[:-4] + ("+dump" if dump_kind else ""),
                          scenario_name(args).replace(" ", "@"))
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name in (exe, "corpus_dll.dll"):
        os.link(os.path.join(build, name), os.path.join(folder, name))
    # No crash debugger: a process ends with its unhandled exception's code,
    # as on Windows without a debugger (Wine's winedbg sometimes leaves 0).
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="winedbg.exe=d")
    if dump_kind:
        env["KXCORPUS_DUMP_KIND"] = str(dump_kind)
    # Output goes to files: a process that inherits a pipe (Wine's desktop
    # process, started by whichever program first needs it) would keep it
    # open long after the program ended.
    start = time.monotonic()
    with open(os.path.join(folder, "stdout.txt"), "w+b") as out_file, \
            open(os.path.join(folder, "stderr.txt"), "w+b") as err_file:
        try:
            proc = wine_threads.run(["wine", os.path.join(folder, exe), *args], timeout, cwd=folder, env=env,
                                    stdout=out_file, stderr=err_file)
            rc, hung = proc.returncode, False
        except subprocess.TimeoutExpired:
            rc, hung = None, True
        seconds = time.monotonic() - start
        out_file.seek(0)
        err_file.seek(0)
        out, err = out_file.read(), err_file.read()
    found = reports(os.path.join(folder, exe[:-4] + "-bugreport.txt"))
    decode = lambda b: b.replace(b"\r\n", b"\n").decode("latin-1")
    return Run(rc, decode(out), decode(err), found, seconds, hung, folder)


def build_and_run_all():
    work = ARGS.work
    shutil.rmtree(work, ignore_errors=True)
    prefix = os.path.join(work, "prefix")
    sh("cmake", "--install", ARGS.build_dir, "--prefix", prefix)
    build = os.path.join(work, "build")
    toolchain = os.path.join(prefix, "share", "kestrix", "mingw-i686.cmake")
    sh("cmake", "-S", ARGS.source_dir, "-B", build, "-G", "Ninja", "-DCMAKE_TOOLCHAIN_FILE=" + toolchain)
    sh("cmake", "--build", build)
    jobs = [(exe, [name], MANY_TIMEOUT, 0) for name in MANY for exe in ("kxcorpus.exe", "kxcorpus_plain.exe")]
    jobs += [(exe, s.args, RUN_TIMEOUT, 0) for s in SCENARIOS for exe in ("kxcorpus.exe", "kxcorpus_plain.exe")]
    # Every scenario once more with a minidump, kinds 1 and 2 taking turns
    # (Wine's server copies a whole-memory dump byte by byte, for tens of
    # seconds; the crash lab's minidump test covers that kind).
    dumped = [("kxcorpus.exe", s.args, RUN_TIMEOUT, 1 + i % 2) for i, s in enumerate(SCENARIOS)]
    start = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(ARGS.jobs) as pool:
        futures = {pool.submit(run_scenario, build, exe, args, timeout, kind):
                   (exe + ("+dump" if kind else ""), scenario_name(args)) for exe, args, timeout, kind in jobs + dumped}
        for future in concurrent.futures.as_completed(futures):
            RESULTS[futures[future]] = future.result()
    print("%d runs in %.1f s" % (len(jobs), time.monotonic() - start), file=sys.stderr)
    # What happened, for people reading the log: exit codes, report classes, time.
    for exe, args, _, _ in jobs[::2]:
        name = scenario_name(args)
        run, plain = RESULTS[(exe, name)], RESULTS[("kxcorpus_plain.exe", name)]
        classes = ",".join(h.get("exception class", "?") + ("*" + h["count"] if "count" in h else "")
                           for h, _ in run.reports) or "-"
        print("%-34s rc %-4s plain %-4s %5.1f s  %s" % (name, "hang" if run.hung else run.rc,
                                                         "hang" if plain.hung else plain.rc, run.seconds, classes),
              file=sys.stderr)


def first_section_names(lines, function):
    return any(re.search(r"(?:^|[ .])%s$" % re.escape(function), line) for line in lines)


class CorpusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build_and_run_all()

    def ended(self, run, problems, what):
        if run.hung:
            problems.append("%s: no end within the time limit (hang)" % what)
            return False
        return True

    def check_plain(self, name, plain_rc, problems):
        run = RESULTS[("kxcorpus_plain.exe", name)]
        if not self.ended(run, problems, "without the library"):
            return
        before = len(problems)
        if run.rc != plain_rc:
            problems.append("without the library: exit code %s, expected %s" % (run.rc, plain_rc))
        if ("went on" in run.out) != (plain_rc == 0):
            problems.append("without the library: 'went on' %s" % ("printed" if "went on" in run.out else "missing"))
        if len(problems) > before:
            problems.append("--- output without the library:\n" + run.out + run.err[-1000:])

    def check_scenario(self, s):
        name = scenario_name(s.args)
        run = RESULTS[("kxcorpus.exe", name)]
        problems = []
        if self.ended(run, problems, "with the library"):
            if "library: active" not in run.out:
                problems.append("the library is not active: %r" % run.out)
            if s.rc == ENDS and run.rc == 0:
                problems.append("exit code 0: the program did not end")
            elif s.rc != ENDS and run.rc != s.rc:
                problems.append("exit code %s, expected %s" % (run.rc, s.rc))
            if ("went on" in run.out) != (s.rc == 0):
                problems.append("'went on' %s" % ("printed" if "went on" in run.out else "missing"))
            if s.output and not re.search(s.output, run.out):
                problems.append("output lacks %r: %r" % (s.output, run.out))
        if s.cls is None:
            if run.reports:
                problems.append("a report was made: %s" % run.reports[0][0].get("exception message"))
        elif len(run.reports) != 1:
            problems.append("%d reports, expected 1" % len(run.reports))
        else:
            header, sections = run.reports[0]
            if "count" in header:
                problems.append("count %s in a single crash's report" % header["count"])
            cls, message = header.get("exception class", ""), header.get("exception message", "")
            if not re.fullmatch(s.cls, cls):
                problems.append("class %r, expected %r" % (cls, s.cls))
            if not re.search(s.message, message):
                problems.append("message %r, expected %r" % (message, s.message))
            place = s.args[1] if len(s.args) > 1 else "main"
            title, lines = sections[0] if sections else ("", [])
            expected_title = (r"^thread \$[0-9a-f]+( \(std::thread\))?:" if place in ("thread", "raw-thread")
                              else r"^main thread \(\$")
            if not re.match(expected_title, title):
                problems.append("first section %r, expected %r" % (title, expected_title))
            elif s.function and not first_section_names(lines, s.function):
                problems.append("%s not in the first thread section:\n  %s" % (s.function, "\n  ".join(lines)))
        self.check_plain(name, s.plain_rc, problems)
        if problems:
            self.fail("\n".join(problems) + "\n--- output:\n" + run.out + run.err[-2000:])

    def check_many(self, name):
        run = RESULTS[("kxcorpus.exe", name)]
        problems = []
        if self.ended(run, problems, "with the library"):
            if run.rc != 0 or "all threads ended" not in run.out or "went on" not in run.out:
                problems.append("exit code %s, output %r: the program does not go on" % (run.rc, run.out))
        # Ten sites, each faulted ten times: every fault counted once. The
        # crashed thread's two call-stack checksums (with the creator's
        # address line) decide what is a repeat, so a site may have one
        # report per place its threads were created at, never two with the
        # same checksums.
        counts, checksums = {}, set()
        for header, sections in run.reports:
            message = header.get("exception message", "")
            m = re.fullmatch(av(address=r"(1[0-2][0-9a-f])"), message)
            if not m or header.get("exception class") != "EAccessViolation":
                problems.append("unexpected report %r %r" % (header.get("exception class"), message))
                continue
            site = (int(m.group(1), 16) - 0x100) // 4
            crc = header.get("callstack crc", "")[:20]
            if crc in checksums:
                problems.append("site %d: a second report with the same checksums %s" % (site, crc))
            checksums.add(crc)
            counts[site] = counts.get(site, 0) + int(header.get("count") or 1)
            title, lines = sections[0]
            if (not re.match(r"^thread \$[0-9a-f]+( \(std::thread\))?:", title)
                    or not first_section_names(lines, "CorpusSite%d" % site)):
                problems.append("site %d: first section %r lacks CorpusSite%d" % (site, title, site))
        if counts != {site: 10 for site in range(10)}:
            problems.append("faults counted per site: %s, expected 10 each" % counts)
        self.check_plain(name, MANY[name], problems)
        if problems:
            self.fail("\n".join(problems) + "\n--- output:\n" + run.out + run.err[-2000:])

    def test_every_scenario_with_a_minidump(self):
        """The scenarios end as they do without dumps; every report has its
        dump beside it, with the report inside and the report's crashed
        thread as the exception's thread."""
        problems = []
        for i, s in enumerate(SCENARIOS):
            name = scenario_name(s.args)
            run, plain = RESULTS[("kxcorpus.exe+dump", name)], RESULTS[("kxcorpus.exe", name)]
            what = "%s (dump kind %d)" % (name, 1 + i % 2)
            if not self.ended(run, problems, what):
                continue
            if not plain.hung and run.rc != plain.rc:
                problems.append("%s: exit code %s, %s without a dump" % (what, run.rc, plain.rc))
            if len(run.reports) != len(plain.reports):
                problems.append("%s: %d reports, %d without a dump" % (what, len(run.reports), len(plain.reports)))
            dump_path = os.path.join(run.folder, "kxcorpus-bugreport.dmp")
            if not run.reports:
                if os.path.exists(dump_path):
                    problems.append("%s: a dump without a report" % what)
                continue
            header, sections = run.reports[0]
            if s.args[0] == "heap-locked" and header.get("minidump", "").startswith("not written: the writer did not"):
                # The crashed thread holds the heap that dbghelp needs: the
                # dump is given up at its deadline, the report says so.
                continue
            if "minidump" in header:
                problems.append("%s: no dump: %s" % (what, header["minidump"]))
                continue
            if not os.path.exists(dump_path):
                problems.append("%s: no dump beside the report" % what)
                continue
            dump = Minidump.open(dump_path)
            with open(os.path.join(run.folder, "kxcorpus-bugreport.txt"), "rb") as f:
                first = split_reports(f.read().decode("latin-1"))[0]
            if dump.comment().rstrip("\r\n") != first.rstrip("\r\n"):
                problems.append("%s: the dump's comment is not the report" % what)
            crashed = re.match(r"^(?:main )?thread \(?\$([0-9a-f]+)", sections[0][0]) if sections else None
            exc = dump.exception()
            if not crashed or not exc or exc["thread"] != int(crashed.group(1), 16):
                problems.append("%s: the exception's thread %s is not the report's %r"
                                % (what, exc and "%x" % exc["thread"], sections[0][0] if sections else None))
        if problems:
            self.fail("\n".join(problems))

    def check_exit_code_after_a_report(self):
        """Every program that ends after a report exits with the crash's own code."""
        ending = [s for s in SCENARIOS if s.rc == ENDS]
        wrong = []
        for s in ending:
            run = RESULTS[("kxcorpus.exe", scenario_name(s.args))]
            if not run.hung and run.rc != EndCode(s):
                wrong.append("%s: %s, not %s" % (scenario_name(s.args), run.rc, EndCode(s)))
        if wrong:
            self.fail("exit codes after a report:\n  " + "\n  ".join(wrong))


def add_tests():
    for s in SCENARIOS:
        name = "test_" + re.sub(r"\W", "_", "_in_".join(s.args))
        test = (lambda s: lambda self: self.check_scenario(s))(s)
        if s.known_fault:
            test = unittest.expectedFailure(test)
        test.__doc__ = scenario_name(s.args) + (" -- known library fault: " + s.known_fault if s.known_fault else "")
        setattr(CorpusTest, name, test)
    for name in MANY:
        setattr(CorpusTest, "test_" + name.replace("-", "_"), (lambda n: lambda self: self.check_many(n))(name))
    test = CorpusTest.check_exit_code_after_a_report
    if EXIT_CODE_FAULT:
        test = unittest.expectedFailure(test)
    CorpusTest.test_exit_code_after_a_report = test


add_tests()

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--jobs", type=int, default=4)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
