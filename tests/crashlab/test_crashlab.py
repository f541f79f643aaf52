#!/usr/bin/env python3
"""The crash lab under Wine: each way of crashing leaves the right bug report."""
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
import wine_threads  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from report_file import parse_report, split_reports  # noqa: E402
from winetest import wait_for_file, winpath  # noqa: E402

LAB = None  # crashlab.exe
CLOSER = None  # box_closer.exe

HEADER_ORDER = [
    "date/time", "computer name", "wts client name", "user name", "registered owner", "operating system",
    "system language", "system up time", "program up time", "processor", "processors", "physical memory",
    "free disk space", "display mode", "process id", "allocated memory", "command line", "executable",
    "current module", "exec. date/time", "module date/time", "version", "compiled with", "Kestrix version", "labitem",
    "callstack crc", "count", "exception number", "exception class", "exception message",
]


def run(*args, timeout=120):
    """Runs the crash lab through exit_code.exe: (whole exit code, stdout)."""
    env = dict(os.environ, WINEDEBUG="-all")
    launcher = os.path.join(os.path.dirname(LAB), "exit_code.exe")
    proc = wine_threads.run(["wine", launcher, LAB, *args], timeout, env=env, capture_output=True)
    code = re.search(rb"exit code 0x([0-9a-f]{8})", proc.stderr)
    assert code, proc.stderr
    return int(code.group(1), 16), proc.stdout.replace(b"\r\n", b"\n").decode("latin-1")


def reports(path):
    """The reports of a bug report file: (header dict, header names, sections)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data.endswith(b"\r\n\r\n"), "every report ends with two line breaks"
    out = []
    for chunk in split_reports(data.decode("latin-1")):
        names, header, sections, header_text = parse_report(chunk)
        out.append((header, names, sections, header_text))
    return out


class CrashLabTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.file = os.path.join(self.tmp.name, "reports", "bugreport.txt")

    def tearDown(self):
        self.tmp.cleanup()

    def crash(self, *args, expect_rc=None):
        rc, out = run(*args, "--report", winpath(self.file))
        if expect_rc is not None:
            self.assertEqual(rc, expect_rc, out)
        return rc, out

    def only_report(self):
        found = reports(self.file)
        self.assertEqual(len(found), 1)
        return found[0]

    def check_layout(self, header, names, sections, raw):
        # Items in their order, each once; colons aligned after the longest name.
        positions = [HEADER_ORDER.index(n) for n in names]
        self.assertEqual(positions, sorted(positions), names)
        width = max(len(n) for n in names)
        for line in raw.split("\r\n"):
            self.assertEqual(line[width:width + 2], ": ", line)
        for item in ("date/time", "computer name", "process id", "executable", "compiled with",
                     "Kestrix version", "callstack crc", "exception number"):
            self.assertIn(item, header)
        self.assertEqual(header["executable"], "crashlab.exe")
        self.assertEqual(header["Kestrix version"], "3.0e")
        self.assertRegex(header["date/time"], r"^\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, \d+ms$")
        self.assertRegex(header["process id"], r"^\$[0-9a-f]+$")
        self.assertRegex(header["callstack crc"], r"^\$[0-9a-f]{8}, \$[0-9a-f]{8}, \$[0-9a-f]{8}$")
        for title, lines in sections:
            self.assertTrue(title.endswith(":") or ":" in title, title)
            for line in lines:
                self.assertNotEqual(line, "", "blank lines only separate sections")
                self.assertEqual(line, line.rstrip(), "no trailing blanks")

    def check_cpu_sections(self, sections, eip):
        titles = [t for t, _ in sections]
        cpu = titles.index("cpu registers:")
        self.assertEqual(titles[cpu:], ["cpu registers:", "stack dump:", "disassembling:"])
        self.check_disassembly(sections[-1][1], eip)
        sections = sections[:-1]
        regs = dict(sections[-2][1][i].split(" = ") for i in range(9))
        self.assertEqual([l[:3] for l in sections[-2][1]], ["eax", "ebx", "ecx", "edx", "esi", "edi", "eip", "esp", "ebp"])
        for value in regs.values():
            self.assertRegex(value, r"^[0-9a-f]{8}$")
        self.assertEqual(int(regs["eip"], 16), eip)
        dump = sections[-1][1]
        self.assertTrue(1 <= len(dump) <= 20)
        self.assertEqual(dump[0][:8], regs["esp"])
        for i, line in enumerate(dump):
            self.assertEqual(int(line[:8], 16), int(regs["esp"], 16) + 16 * i)
            full = re.fullmatch(r"[0-9a-f]{8}  ((?:[0-9a-f]{2} ){8})- ((?:[0-9a-f]{2} ){8}) (.{16})", line)
            if full:
                raw = bytes.fromhex((full.group(1) + full.group(2)).replace(" ", ""))
                view = "".join(chr(b) if 33 <= b <= 126 else "." for b in raw)
                self.assertEqual(full.group(3), view)

    def check_lines_against_addr2line(self, lines):
        """Frames of the lab carry unit, line and function; each line is the one
        addr2line gives for its address (the fault's at the top, the call
        instruction below it; outermost inlined frame)."""
        frames = []
        for i, line in enumerate(lines):
            f = line.split()
            if len(f) >= 7 and f[2] == "crashlab.exe":
                self.assertRegex(f[4], r"^[1-9]\d*$", line)
                addr = int(f[0], 16)
                frames.append((addr, int(f[4]), line))
        self.assertTrue(frames)
        out = subprocess.run(["i686-w64-mingw32-addr2line", "-f", "-i", "-a", "-e", LAB],
                             input="\n".join("%x" % a for a, _, _ in frames), capture_output=True, text=True,
                             check=True).stdout
        groups = re.split(r"^0x[0-9a-f]+\n", out, flags=re.M)[1:]
        for (addr, line, text), group in zip(frames, groups):
            outermost = group.strip().split("\n")[-1]
            self.assertEqual(int(outermost.rpartition(":")[2].split()[0]), line, (text, group))

    def check_disassembly(self, lines, crash):
        # The crashing function's listing: at most 5 lines before and after
        # the crash line (LimitDisAsm), which is marked with '>'.
        code = [l for l in lines if l != "[...]"]
        for line in code:
            self.assertRegex(line, r"^[0-9a-f]{8}( |$)", line)
        # After the address, the source line when the line changes (the
        # module's map knows it), then the crash marker.
        marked = [l for l in code if re.match(r"^[0-9a-f]{8} (?:\d+ +| *)> ", l)]
        self.assertTrue(any(re.match(r"^[0-9a-f]{8} \d+ ", l) for l in code), "a line-number column")
        self.assertEqual(len(marked), 1, lines)
        self.assertEqual(int(marked[0][:8], 16), crash)
        at = lines.index(marked[0])
        self.assertLessEqual(len(lines) - at - 1, 5 + 1)

    def test_access_violations_read_and_write(self):
        for scenario, kind, target in (("av-read", "Read", "$10"), ("av-write", "Write", "$24")):
            with self.subTest(scenario):
                if os.path.exists(self.file):
                    os.remove(self.file)
                rc, out = self.crash(scenario, "--click", expect_rc=0)
                self.assertIn("continued", out, "the program goes on after a continuable exception")
                header, names, sections, raw = self.only_report()
                self.check_layout(header, names, sections, raw)
                self.assertEqual(header["exception class"], "EAccessViolation")
                m = re.fullmatch(r"Access violation at address \$([0-9a-f]+) in module 'crashlab\.exe'\. "
                                 + kind + r" of address " + re.escape(target) + r"\.", header["exception message"])
                self.assertTrue(m, header["exception message"])
                self.assertTrue(sections[0][0].startswith("main thread ($"), sections[0][0])
                top = sections[0][1][0]
                self.assertEqual(int(top[:8], 16), int(m.group(1), 16), "the top line is the fault's address")
                self.assertIn("ReadViolation" if kind == "Read" else "WriteViolation", top)
                self.assertTrue(any("LabWindowProc" in l for l in sections[0][1]))
                self.check_lines_against_addr2line(sections[0][1])
                self.check_cpu_sections(sections, int(m.group(1), 16))

    def test_division_by_zero_unhandled_ends_the_program(self):
        rc, out = self.crash("div-zero")
        self.assertEqual(rc, 0xC0000094, "an exception that cannot continue closes the program with its code")
        self.assertNotIn("continued", out)
        header, names, sections, raw = self.only_report()
        self.check_layout(header, names, sections, raw)
        self.assertEqual(header["exception class"], "EDivByZero")
        self.assertEqual(header["exception message"], "Division by zero.")
        self.assertIn("DivideByZero", sections[0][1][0])
        self.assertTrue(any(" main" in l for l in sections[0][1]))

    def test_any_setting_from_the_command_line(self):
        # Sections switched off, a filter group chosen, a text with a quote: as in the settings file.
        self.crash("div-zero", "--set", "CpuRegs=false", "--set", "StackDump = false",
                   "--set", 'ExceptMsg="lab \\"quoted\\""')
        header, names, sections, raw = self.only_report()
        titles = [t for t, _ in sections]
        self.assertNotIn("cpu registers:", titles)
        self.assertNotIn("stack dump:", titles)
        os.remove(self.file)
        rc, _ = self.crash("div-zero", "--set", 'F1Classes="EDivByZero"')
        self.assertFalse(os.path.exists(self.file), "group F1 of the lab makes no report")
        for bad, why in (("CpuRegs=7", "true or false"), ("Nonsense=1", "line 1"), ("CpuRegs", "NAME=VALUE")):
            with self.subTest(bad):
                proc = subprocess.run(["wine", LAB, "div-zero", "--set", bad], capture_output=True, timeout=120,
                                      env=dict(os.environ, WINEDEBUG="-all"))
                self.assertEqual(proc.returncode, 2)
                self.assertIn(why, proc.stderr.decode("latin-1"))

    def test_system_exceptions_without_objects(self):
        rc, out = self.crash("sys-av")
        self.assertEqual(rc, 0xC0000005)
        header, names, sections, raw = self.only_report()
        self.check_layout(header, names, sections, raw)
        self.assertEqual(header["exception class"], "EAccessViolation", "the same class as in the program's code")
        self.assertRegex(header["exception message"],
                         r"^Access violation at address \$[0-9a-f]+ in module 'msvcrt\.dll'\. Read of address \$30\.$")
        self.assertIn("cpu registers:", [t for t, _ in sections])
        os.remove(self.file)
        rc, out = self.crash("sys-code")
        self.assertEqual(rc, 0xE0001234)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception class"], "EExternalException")
        self.assertEqual(header["exception message"], "External exception e0001234.")

    def test_cpp_exception_in_click_handler(self):
        self.crash("cpp", "--click", "--threads", "3", "--plwait", expect_rc=0)
        header, names, sections, raw = self.only_report()
        self.check_layout(header, names, sections, raw)
        self.assertEqual(header["exception class"], "ELabError")
        self.assertEqual(header["exception message"], "Lab error raised on purpose.")
        self.assertIn("command line", header)
        # The throw site is the top line; without a CPU context there are no
        # register or stack-dump sections.
        self.assertIn("ThrowLabError", sections[0][1][0])
        titles = [t for t, _ in sections]
        self.assertNotIn("cpu registers:", titles)
        self.assertEqual(len([t for t in titles if t.startswith("thread $")]), 3, titles)
        self.assertFalse(any(t.startswith("-") for t in titles), "the library's own threads are not listed")

    def test_exception_in_thread_ends_only_the_thread(self):
        self.crash("cpp", "--thread", expect_rc=0)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception class"], "ELabError")
        self.assertRegex(sections[0][0], r"^thread \$[0-9a-f]+ \(std::thread\):")
        self.assertTrue(sections[1][0].startswith("main thread ($"))

    def test_main_thread_handlers_run_in_the_main_thread_also_when_paused(self):
        for extra in ([], ["--pause"]):
            with self.subTest(extra):
                rc, out = self.crash("cpp", "--thread", "--main-handler", *extra, expect_rc=0)
                self.assertIn("main-thread handler ran in the main thread", out)
                self.assertIn("continued", out)

    def test_fault_leaving_a_thread_function_ends_only_that_thread(self):
        rc, out = self.crash("av-write", "--raw-thread", expect_rc=0)
        # The thread frame reports the fault; the thread ends with -1.
        self.assertIn("thread ended with 4294967295", out)
        self.assertIn("continued", out)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception class"], "EAccessViolation")
        self.assertRegex(sections[0][0], r"^thread \$[0-9a-f]+:")
        self.assertIn("WriteViolation", sections[0][1][0])
        self.check_cpu_sections(sections, int(sections[0][1][0][:8], 16))

    def test_silent_and_filtered_exceptions_leave_no_report(self):
        for scenario in ("abort", "filtered"):
            with self.subTest(scenario):
                rc, out = self.crash(scenario, "--click", expect_rc=0)
                self.assertIn("continued", out)
                self.assertFalse(os.path.exists(self.file))

    def test_nested_failures_during_handling(self):
        self.crash("nested", "--click", expect_rc=0)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception class"], "ELabError")
        titles = [t for t, _ in sections]
        self.assertIn("labplugin:", titles)
        self.assertEqual(dict(sections)["labplugin:"], [">> internal error in plugin"])
        # A plug-in without a section of its own is a header item before the checksum.
        self.assertEqual(header["labitem"], "lab item of ELabError")
        self.assertEqual(names.index("labitem") + 1, names.index("callstack crc"))

    def test_cgi_program_prints_the_report_as_a_page(self):
        rc, out = self.crash("cpp", "--show", "0", "--cgi", expect_rc=3)
        head, _, page = out.partition("\n\n")
        self.assertEqual(head, "Content-Type: text/html")
        self.assertTrue(page.startswith("<html><head><title>crashlab.exe</title></head><body>\n"), page[:80])
        self.assertIn(">An error occurred in the application.</p>", page)
        self.assertIn("&nbsp;continue application&nbsp;</button>", page)
        report = page[page.index('visibility:hidden;">\n') + 21:page.index("</textarea></td></tr></table></body></html>")]
        self.assertIn("Lab error raised on purpose.", report)
        self.assertTrue(report.startswith("date/time"), report[:40])
        # The page holds the report as it was saved, as text (its "<", ">"
        # and "&" as character references).
        self.assertNotIn("<", report)
        self.assertTrue(html.unescape(report).startswith(self.only_report()[3].replace("\r\n", "\n")), report[:200])

    def test_console_program_prints_the_message(self):
        rc, out = self.crash("cpp", "--click", "--show", "0", expect_rc=0)
        self.assertEqual(out.splitlines()[0], "An error occurred in the application.")
        self.assertIn("continued", out)
        self.assertEqual(len(reports(self.file)), 1, "the report is saved as well")

    def test_automatic_restart_carries_the_exception_history(self):
        mark = os.path.join(self.tmp.name, "restarted.txt")
        rc, out = self.crash("cpp", "--click", "--auto-restart", "1", "--restart-mark", winpath(mark))
        self.assertEqual(rc, 2, "a restarting program ends with exit code 2")
        self.assertEqual(len(reports(self.file)), 1, "saved before the restart")
        wait_for_file(mark, 20)
        with open(mark) as f:
            self.assertEqual(f.read().strip(), "restarted after 1 exception(s)")

    def test_hidden_exceptions_reach_only_their_handlers(self):
        rc, out = self.crash("hidden", expect_rc=0)
        self.assertIn("continued", out)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception message"], "report me.")
        self.assertEqual(header["exception class"], "ELabError")
        self.assertEqual(header["exception number"], "1", "a hidden exception is numbered once reported")

    def test_message_box_display_mode_waits_for_ok(self):
        env = dict(os.environ, WINEDEBUG="-all")
        closer = subprocess.Popen(["wine", CLOSER, "30"], env=env, stdout=subprocess.PIPE)
        rc, out = self.crash("cpp", "--thread", "--gui", "--show", "3", expect_rc=0)
        text = closer.communicate(timeout=60)[0].decode("latin-1").replace("\r", "").strip()
        # The exception dialog as a message box: the exception's own message.
        self.assertEqual(text, "Lab error raised on purpose.")
        self.assertIn("continued", out)
        self.assertEqual(len(reports(self.file)), 1)

    def test_thread_name_request(self):
        self.crash("name-thread", "--click", expect_rc=0)
        header, names, sections, raw = self.only_report()
        self.assertTrue(sections[0][0].startswith("lab worker ($"), sections[0][0])

    def test_error_at_exit(self):
        rc, out = self.crash("at-exit")
        self.assertIn("leaving main", out)
        self.assertEqual(rc, 3, "a C++ exception ends the program as the C runtime's abnormal termination")
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception class"], "ELabError")
        self.assertEqual(header["exception message"], "Error at exit.")

    def test_late_errors_at_exit_reach_handlers_and_the_report(self):
        # Destructors that run after the library's own static objects: its
        # lists and settings must still be there.
        for scenario, cls, code in (("at-exit-late", "ELabError", 3), ("at-exit-fault", "EAccessViolation", 0xC0000005)):
            with self.subTest(scenario):
                if os.path.exists(self.file):
                    os.remove(self.file)
                rc, out = self.crash(scenario)
                self.assertIn("leaving main", out)
                self.assertIn("exit handler ran: " + cls, out)
                self.assertEqual(rc, code, "the crash's own exit code")
                header, names, sections, raw = self.only_report()
                self.check_layout(header, names, sections, raw)
                self.assertEqual(header["exception class"], cls)
                # Raised in the program's destructor, called from exit().
                self.assertRegex(sections[0][1][0], r"crashlab\.exe +crashlab ")
                self.assertTrue(any(re.search(r"msvcrt\.dll .*exit$", l) for l in sections[0][1]), sections[0][1])

    def test_same_crash_twice_is_counted(self):
        self.crash("cpp", "--click", expect_rc=0)
        first = self.only_report()
        self.crash("cpp", "--click", expect_rc=0)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["count"], "2")
        self.assertFalse(os.path.exists(self.file + ".new"), "the spare copy goes once the file is rewritten")
        self.assertEqual(names[names.index("callstack crc") + 1], "count")
        self.assertEqual(header["callstack crc"][:20], first[0]["callstack crc"][:20])
        self.assertEqual(header["exception number"], "1")
        self.crash("av-read", "--click", expect_rc=0)
        self.assertEqual(len(reports(self.file)), 2, "another crash is a report of its own")

    def test_file_is_trimmed_to_its_limit(self):
        os.makedirs(os.path.dirname(self.file))
        old = b"".join(b"date/time        : 2020-01-01, 00:00:%02d, 1ms\r\nexecutable       : old.exe\r\n" % i
                       + b"callstack crc    : $00000000, $00000000, $%08x\r\n\r\n" % i + b"x" * 900 + b"\r\n\r\n"
                       for i in range(20))
        with open(self.file, "wb") as f:
            f.write(old)
        limit = 12000
        self.crash("cpp", "--click", "--limit", str(limit), expect_rc=0)
        with open(self.file, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"date/time"), "cut at a report boundary")
        kept = data[:data.index(b"date/time        : 2026") if b": 2026" in data else len(data)]
        newest = reports(self.file)[-1][0]
        self.assertEqual(newest["exception class"], "ELabError")
        self.assertLess(len(data) - len(data[data.rindex(b"\r\n\r\ndate/time") + 4:]), limit * 3 // 4)
        self.assertTrue(old.endswith(data[:len(data) - len(data[data.rindex(b"\r\n\r\ndate/time") + 4:])]),
                        "the kept reports are the newest old ones, unchanged")
        del kept

    def test_switched_off_library_catches_nothing(self):
        off = os.path.join(os.path.dirname(LAB), "crashlab_off.exe")
        env = dict(os.environ, WINEDEBUG="-all")
        run_off = lambda *a: subprocess.run(["wine", off, *a, "--report", winpath(self.file)], env=env,
                                            capture_output=True, timeout=120)
        proc = run_off("cpp", "--click")
        self.assertIn(b"not reported", proc.stdout, "the event-handler boundary shows it itself")
        self.assertFalse(os.path.exists(self.file))
        # No thread of the library: the process has only its main thread.
        on_threads = int(run("threads")[1].split()[1])
        off_threads = int(run_off("threads").stdout.split()[1])
        self.assertEqual(on_threads - off_threads, 2, "the handling thread and the heap probe")
        # Faults are not turned into C++ exceptions: the program just dies.
        proc = run_off("av-read", "--click")
        self.assertNotIn(b"continued", proc.stdout)
        self.assertFalse(os.path.exists(self.file))

    def test_process_trace_from_another_process(self):
        env = dict(os.environ, WINEDEBUG="-all")
        lab = subprocess.Popen(["wine", LAB, "wait"], env=env, stdout=subprocess.PIPE)
        try:
            pid = int(lab.stdout.readline().split()[1])
            driver = os.path.join(os.path.dirname(LAB), "trace_driver.exe")
            proc = subprocess.run(["wine", driver, str(pid), "65536"], env=env, capture_output=True, timeout=60)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            text = proc.stdout.decode("latin-1")
        finally:
            lab.kill()
            lab.wait()
            lab.stdout.close()
        header = text.split("\r\n\r\n")[0]
        self.assertTrue(header.startswith("date/time"))
        self.assertIn("\r\nexception message: The application seems to be frozen.", header)
        self.assertNotIn("exception class", header)
        titles = [block.split("\r\n")[0] for block in text.split("\r\n\r\n")[1:]]
        self.assertTrue(titles[0].startswith("main thread ($"), titles)
        self.assertTrue(any(t.startswith("lab sleeper ($") for t in titles), titles)
        self.assertTrue(any(t.startswith("HandleExceptionThread ($") for t in titles), titles)
        self.assertTrue(any(t.startswith("- ($") for t in titles), "the tracing thread itself")
        main_block = text.split("\r\n\r\n")[1]
        # Unit, line (absolute, then relative to the function's first line) and function.
        self.assertRegex(main_block, r"crashlab\.exe +crashlab +[1-9]\d* +\+\d+ main\r\n",
                         "the main thread waits in main")

    def test_modified_copy_shows_bit_fault_and_exits_zero(self):
        copy = os.path.join(self.tmp.name, "broken.exe")
        shutil.copy(LAB, copy)
        with open(copy, "r+b") as f:
            f.seek(0x1000)
            b = f.read(1)
            f.seek(0x1000)
            f.write(bytes([b[0] ^ 0xFF]))
        env = dict(os.environ, WINEDEBUG="-all")
        closer = subprocess.Popen(["wine", CLOSER, "30"], env=env, stdout=subprocess.PIPE)
        proc = subprocess.run(["wine", copy, "cpp", "--click"], env=env, capture_output=True, timeout=120)
        text = closer.communicate(timeout=60)[0].decode("latin-1").strip()
        self.assertEqual(text, 'The file "broken.exe" seems to be corrupt!')
        self.assertEqual(proc.returncode, 0)
        self.assertNotIn(b"continued", proc.stdout)

    def test_shutdown_drops_the_main_settings(self):
        rc, out = self.crash("none", "--after-shutdown", expect_rc=0)
        self.assertIn("continued", out)
        self.assertIn("after shutdown: main settings dropped, settings list gone", out)

    def test_settings_of_a_library_and_its_checksum(self):
        env = dict(os.environ, WINEDEBUG="-all")
        folder = os.path.dirname(LAB)
        # The program's record defers to the library's settings.
        proc = subprocess.run(["wine", os.path.join(folder, "crashlab_deferring.exe"), "cpp", "--click",
                               "--report", winpath(self.file)], env=env, capture_output=True, timeout=120)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn(b"continued", proc.stdout)
        header, names, sections, raw = self.only_report()
        self.assertEqual(header["exception class"], "ELabError")
        # A copy whose library has one byte changed: its checksum fails.
        copies = os.path.join(self.tmp.name, "copies")
        os.makedirs(copies)
        shutil.copy(os.path.join(folder, "crashlab_deferring.exe"), copies)
        library = shutil.copy(os.path.join(folder, "lab_settings.dll"), copies)
        with open(library, "r+b") as f:
            f.seek(-1, os.SEEK_END)
            b = f.read(1)
            f.seek(-1, os.SEEK_END)
            f.write(bytes([b[0] ^ 0xFF]))
        closer = subprocess.Popen(["wine", CLOSER, "30"], env=env, stdout=subprocess.PIPE)
        proc = subprocess.run(["wine", os.path.join(copies, "crashlab_deferring.exe"), "cpp", "--click"], env=env,
                              capture_output=True, timeout=120)
        text = closer.communicate(timeout=60)[0].decode("latin-1").strip()
        self.assertEqual(text, 'The file "lab_settings.dll" seems to be corrupt!')
        # The exception raised at start-up ends the program before main.
        self.assertNotEqual(proc.returncode, 0)
        self.assertNotIn(b"settings library", proc.stdout)
        self.assertIn(b'The file "lab_settings.dll" seems to be corrupt!', proc.stderr)

    def test_unmodified_program_passes_its_checksum(self):
        rc, out = self.crash("none", expect_rc=0)
        self.assertIn("continued", out)
        with open(LAB, "rb") as f:
            data = f.read()
        pe = int.from_bytes(data[0x3C:0x40], "little")
        self.assertNotEqual(int.from_bytes(data[pe + 88:pe + 92], "little"), 0, "the build wrote a checksum")


if __name__ == "__main__":
    LAB, CLOSER = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
