#!/usr/bin/env python3
"""Minidumps beside the crash lab's reports under Wine, for each kind of dump:
the file lies beside the report, an independent reader finds the streams,
the exception, the threads and the modules the report names, and the report
as the comment; LLDB opens it at the crashing thread; kxdump names the
crashing function and line as the report does. A dump that cannot be
written leaves the report complete with a line saying why."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
sys.path.insert(0, os.path.join(HERE, "..", "helpers"))
import wine_threads  # noqa: E402
from minidump_file import Minidump  # noqa: E402
from report_file import parse_report, split_reports  # noqa: E402
from winetest import winpath  # noqa: E402

LAB = None     # crashlab.exe
KXDUMP = None  # the native kxdump
TIMEOUT = 90   # seconds; a crash that takes longer is a hang

AV, STACK_OVERFLOW, CPP = 0xC0000005, 0xC00000FD, 0x20474343
# The crashes: scenario, its options, the exception code the dump must give,
# whether the report carries the processor's registers, the kinds of dump
# (the whole memory, slow under Wine, for two of them).
CRASHES = [
    ("null-call", [], AV, True, (1, 2, 3)),
    ("null-call", ["--thread"], AV, True, (1, 2)),
    ("av-read", [], AV, True, (1, 2)),
    ("terminate-active", [], CPP, False, (1, 2, 3)),
    ("stack-overflow", [], STACK_OVERFLOW, True, (1, 2)),
]


def run_lab(args, report, env_extra=None):
    env = dict(os.environ, WINEDEBUG="-all", **(env_extra or {}))
    launcher = os.path.join(os.path.dirname(LAB), "exit_code.exe")
    proc = wine_threads.run(["wine", launcher, LAB, *args, "--report", winpath(report)], TIMEOUT, env=env,
                            capture_output=True)
    code = re.search(rb"exit code 0x([0-9a-f]{8})", proc.stderr)
    assert code, proc.stderr
    return int(code.group(1), 16)


def read_reports(path):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    return [parse_report(chunk) for chunk in split_reports(text)]


def thread_id(title):
    m = re.match(r"^(?:main )?thread \(?\$([0-9a-f]+)", title)
    return int(m.group(1), 16) if m else None


def lldb(dump, *commands):
    args = ["lldb", "--batch", "-o", "target create --core %s" % dump]
    for c in commands:
        args += ["-o", c]
    return subprocess.run(args, capture_output=True, text=True, timeout=120).stdout


class MinidumpTest(unittest.TestCase):
    def crash(self, tmp, name, options, kind, env_extra=None):
        report = os.path.join(tmp, "bugreport.txt")
        rc = run_lab([name, *options, "--set", "DumpKind=%d" % kind], report, env_extra)
        return rc, report, os.path.join(tmp, "bugreport.dmp")

    def check_dump(self, dump_path, report_path, code, context, kind):
        found = read_reports(report_path)
        self.assertEqual(len(found), 1)
        names, header, sections, _ = found[0]
        self.assertNotIn("minidump", header, header.get("minidump"))
        dump = Minidump.open(dump_path)
        streams = dump.stream_names()
        for wanted in ("ThreadListStream", "ModuleListStream", "ExceptionStream", "SystemInfoStream",
                       "CommentStreamA"):
            self.assertIn(wanted, streams)
        self.assertEqual(dump.processor_architecture(), 0, "x86")
        if kind == 3:
            self.assertIn("Memory64ListStream", streams)
        # The comment is the report as saved.
        with open(report_path, "rb") as f:
            saved = f.read().decode("latin-1")
        self.assertEqual(dump.comment().rstrip("\r\n"), saved.rstrip("\r\n"))
        # The exception: its thread is the report's crashed one, its code the
        # class's, its address and context the report's registers.
        exc = dump.exception()
        crashed_title, crashed_lines = sections[0]
        self.assertEqual(exc["thread"], thread_id(crashed_title), crashed_title)
        self.assertEqual(exc["code"], code, "%08x" % exc["code"])
        top = int(crashed_lines[0][:8], 16)
        if context:
            regs = {k: int(v, 16) for k, v in (l.split(" = ") for l in dict(sections)["cpu registers:"][:9])}
            self.assertEqual(exc["address"], regs["eip"])
            for name in ("eax", "ebx", "ecx", "edx", "esi", "edi", "eip", "esp", "ebp"):
                self.assertEqual(exc["context"][name], regs[name], name)
        else:
            self.assertEqual(exc["context"]["eip"], exc["address"])
        self.assertEqual(exc["address"], top, crashed_lines[0])
        # Threads: every thread section of the report is a thread of the dump.
        dump_threads = {t["id"] for t in dump.threads()}
        report_threads = [thread_id(t) for t, _ in sections if thread_id(t) is not None]
        self.assertTrue(report_threads)
        self.assertLessEqual(set(report_threads), dump_threads)
        # Modules: every line of the modules section is a module of the dump
        # at the same base.
        by_base = {m["base"]: m["name"].replace("\\", "/").rsplit("/", 1)[-1].lower() for m in dump.modules()}
        modules = dict(sections).get("modules:", [])
        self.assertTrue(modules)
        for line in modules:
            base, name = line.split()[:2]
            self.assertEqual(by_base.get(int(base, 16)), name.lower(), line)
        # The memory the stack pointer stood at is in the dump.
        self.assertIsNotNone(dump.read(exc["context"]["esp"], 4), "stack at esp")
        return dump, sections

    def check_lldb(self, dump_path, dump, sections, context):
        out = lldb(dump_path, "thread list", "image list", "register read")
        ids = [int(t, 16) for t in re.findall(r"thread #\d+: tid = (0x[0-9a-f]+)", out)]
        self.assertEqual(sorted(ids), sorted(t["id"] for t in dump.threads()), out)
        selected = re.search(r"^\* thread #\d+: tid = (0x[0-9a-f]+)", out, re.M)
        self.assertTrue(selected, out)
        self.assertEqual(int(selected.group(1), 16), dump.exception()["thread"], out)
        self.assertRegex(out, r"(?i)crashlab\.exe")
        self.assertRegex(out, r"(?i)kernel32\.dll")
        if context:
            eip = re.search(r"\beip = (0x[0-9a-f]+)", out)
            self.assertTrue(eip, out)
            regs = dict(l.split(" = ") for l in dict(sections)["cpu registers:"][:9])
            self.assertEqual(int(eip.group(1), 16), int(regs["eip"], 16))

    def check_kxdump(self, dump_path, sections):
        self.assertTrue(os.path.exists(KXDUMP), "kxdump is built by the native build: " + KXDUMP)
        proc = subprocess.run([KXDUMP, "--dir", os.path.dirname(LAB), dump_path], capture_output=True, text=True,
                              timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        # The exception's thread comes first: its first call-stack line names
        # the function and line the report's crashed thread does.
        block = proc.stdout.split("(exception):\n", 1)[1]
        frames = [l.strip() for l in block.split("\n") if re.match(r"^  [0-9a-f]{8} ", l)]
        self.assertTrue(frames, proc.stdout)
        report_top = sections[0][1][0].split()
        dump_top = frames[0].split()
        self.assertEqual(dump_top[0], report_top[0])     # address
        self.assertEqual(dump_top[2:], report_top[2:])   # module, unit, line, function
        # The same dump cut short or with its directory damaged: a message and
        # status 1, never a crash.
        with open(dump_path, "rb") as f:
            whole = f.read()
        damaged = whole[:12] + b"\xff\xff\xff\x7f" + whole[16:]
        for name, data in (("cut.dmp", whole[:len(whole) // 2]), ("damaged.dmp", damaged)):
            path = os.path.join(os.path.dirname(dump_path), name)
            with open(path, "wb") as f:
                f.write(data)
            bad = subprocess.run([KXDUMP, path], capture_output=True, text=True, timeout=60)
            self.assertEqual(bad.returncode, 1, bad.stdout + bad.stderr)
            self.assertRegex(bad.stderr, r"^kxdump: .*%s: (damaged minidump|not a minidump)" % name)

    def test_each_kind_of_crash_and_dump(self):
        sizes, captured = {}, {}
        for name, options, code, context, kinds in CRASHES:
            for kind in kinds:
                with self.subTest(crash=" ".join([name] + options), kind=kind), \
                        tempfile.TemporaryDirectory() as tmp:
                    try:
                        _, report, dump_path = self.crash(tmp, name, options, kind)
                    except subprocess.TimeoutExpired:
                        self.fail("hang: no end within %d seconds" % TIMEOUT)
                    self.assertTrue(os.path.exists(dump_path), "no dump beside the report")
                    sizes[(name, kind)] = os.path.getsize(dump_path)
                    dump, sections = self.check_dump(dump_path, report, code, context, kind)
                    captured[(name, kind)] = sum(size for _, size in dump.memory())
                    self.check_lldb(dump_path, dump, sections, context)
                    if kind == 1:
                        self.check_kxdump(dump_path, sections)
        for name, _, _, _, kinds in CRASHES:
            # A stack overflow's stack is the thread's whole stack.
            if name != "stack-overflow":
                self.assertLess(sizes[(name, 1)], 1 << 20, "a stack-only dump stays under 1 MB")
            # The memory the stacks point into comes on top of the stacks.
            self.assertGreater(captured[(name, 2)], captured[(name, 1)], name)
            if 3 in kinds:
                self.assertLess(sizes[(name, 2)], sizes[(name, 3)], "the whole memory is more")

    def test_no_dump_unless_asked_and_none_without_dbghelp(self):
        with tempfile.TemporaryDirectory() as tmp:
            rc, report, dump_path = self.crash(tmp, "null-call", [], 0)
            self.assertEqual(rc, AV)
            self.assertFalse(os.path.exists(dump_path))
            self.assertNotIn("minidump", read_reports(report)[0][1])
        # dbghelp switched off: the same crash, the same report with a line
        # saying why there is no dump.
        with tempfile.TemporaryDirectory() as tmp:
            rc, report, dump_path = self.crash(tmp, "null-call", [], 1, {"WINEDLLOVERRIDES": "dbghelp=d"})
            self.assertEqual(rc, AV)
            self.assertFalse(os.path.exists(dump_path))
            names, header, sections, _ = read_reports(report)[0]
            self.assertEqual(header.get("minidump"), "not written: dbghelp.dll could not be loaded")
            self.assertEqual(header["exception class"], "EAccessViolation")
            self.assertTrue(any("NullCall" in line for line in sections[0][1][:3]), sections[0])
            self.assertIn("cpu registers:", dict(sections))

    def test_a_repeated_crash_keeps_its_first_dump(self):
        with tempfile.TemporaryDirectory() as tmp:
            rc, report, dump_path = self.crash(tmp, "av-read", ["--clicks", "2"], 1)
            self.assertEqual(rc, 0)
            found = read_reports(report)
            self.assertEqual(len(found), 1)
            self.assertEqual(found[0][1].get("count"), "2")
            self.assertEqual(found[0][1].get("exception number"), "2")
            comment = Minidump.open(dump_path).comment()
            first = parse_report(comment)[1]
            self.assertEqual(first.get("exception number"), "1", "the first crash's dump")


if __name__ == "__main__":
    LAB = sys.argv[1]
    KXDUMP = sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
