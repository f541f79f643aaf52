#!/usr/bin/env python3
"""Thread crashes the program never wrapped, thread names, paused message
loops, the stalled process and main-thread freezes, through the crash lab
under Wine. A run that does not end in time is a failure."""
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import test_crashlab
from test_crashlab import reports, winpath

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from wine_threads import dump_threads  # noqa: E402

LAB = None
AV = 0xC0000005
TIMEOUT = 60  # seconds for any one run
FREEZE_TIMEOUT_MS = 2000
# What the report of a freeze may take beyond FreezeTimeout: one probe
# interval, assembling and saving the report under Wine.
FREEZE_MARGIN_S = 3.0
# The creator's title is a section title: it ends with ":" and its marks.
CREATED_BY_MAIN = re.compile(r"^>> created by main thread \(\$[0-9a-f]+\):.* at:$")


class LabRun(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.file = os.path.join(self.tmp.name, "bugreport.txt")

    def tearDown(self):
        self.tmp.cleanup()

    def lab(self, *args, expect_rc=None):
        try:
            rc, out = test_crashlab.run(*args, "--report", winpath(self.file), timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.fail("hang: %s did not end within %d s" % (" ".join(args), TIMEOUT))
        if expect_rc is not None:
            self.assertEqual(rc, expect_rc, "exit code 0x%08x\n%s" % (rc, out))
        return rc, out

    def only_report(self):
        self.assertTrue(os.path.exists(self.file), "a report")
        found = reports(self.file)
        self.assertEqual(len(found), 1, "exactly one report")
        return found[0]

    def assert_created_by_main(self, lines):
        """The section ends with the creator: the marker line, then its address line."""
        self.assertGreaterEqual(len(lines), 2, lines)
        self.assertRegex(lines[-2], CREATED_BY_MAIN, "\n".join(lines))
        self.assertRegex(lines[-1], r"^[0-9a-f]{8} ")


class ThreadCrashes(LabRun):
    def test_a_raw_thread_ends_alone_with_minus_one_and_names_its_creator(self):
        rc, out = self.lab("cpp", "--raw-thread", expect_rc=0)
        self.assertIn("thread ended with 4294967295", out)
        self.assertIn("continued", out)
        header, _, sections, _ = self.only_report()
        title, lines = sections[0]
        self.assertRegex(title, r"^thread \$[0-9a-f]+:")
        self.assertIn("ThrowLabError", lines[0])
        self.assert_created_by_main(lines)
        # The creator line is the lab's main, where it started the thread.
        self.assertIn("main", lines[-1])
        self.assertTrue(sections[1][0].startswith("main thread ($"), sections[1][0])

    def test_a_std_thread_is_titled_by_its_class_and_names_its_creator(self):
        self.lab("cpp", "--thread", expect_rc=0)
        header, _, sections, _ = self.only_report()
        title, lines = sections[0]
        self.assertRegex(title, r"^thread \$[0-9a-f]+ \(std::thread\):")
        self.assertIn("ThrowLabError", "\n".join(lines[:3]))
        self.assert_created_by_main(lines)
        self.assertIn("main", lines[-1])

    def test_a_work_item_is_reported_and_the_program_goes_on(self):
        rc, out = self.lab("work-item", expect_rc=0)
        self.assertIn("work item left", out)
        self.assertIn("continued", out)
        header, _, sections, _ = self.only_report()
        self.assertRegex(header["exception message"], r"^Work item error raised on purpose")
        title, lines = sections[0]
        self.assertRegex(title, r"^thread \$[0-9a-f]+ \(work item\):")
        self.assertIn("ThrowInWorkItem", "\n".join(lines[:3]))
        self.assert_created_by_main(lines)

    def test_threads_of_a_library_module_without_kestrix(self):
        for scenario, title in (("dll-thread-fault", r"^thread \$[0-9a-f]+:"),
                                ("dll-work-item-fault", r"^thread \$[0-9a-f]+ \(work item\):")):
            with self.subTest(scenario):
                if os.path.exists(self.file):
                    os.remove(self.file)
                rc, out = self.lab(scenario, expect_rc=AV)
                self.assertNotIn("no report", out)
                header, _, sections, _ = self.only_report()
                self.assertEqual(header["exception class"], "EAccessViolation")
                self.assertRegex(header["exception message"], r"in module 'crashlab_dll\.dll'")
                section_title, lines = sections[0]
                self.assertRegex(section_title, title)
                self.assertIn("crashlab_dll.dll", lines[0])
                self.assert_created_by_main(lines)

    def test_names_from_the_naming_exception_title_the_thread(self):
        self.lab("name-thread", "--raw-thread", expect_rc=0)
        header, _, sections, _ = self.only_report()
        self.assertRegex(sections[0][0], r"^lab worker \(\$[0-9a-f]+\):")


class PausingAndStalling(LabRun):
    def test_thread_creation_is_hooked_inside_the_system_and_nothing_stays_patched(self):
        rc, out = self.lab("hook-mode", "--after-shutdown", expect_rc=0)
        # Every thread of the process passes the hook, also those of modules
        # loaded later.
        self.assertIn("thread hooks: internal call", out)
        # After a pause the message hooks are in too; shutdown undoes all.
        rc, out = self.lab("pause-pumping", "--pause", "--after-shutdown", "--set", "CheckFreeze=true", expect_rc=0)
        self.assertIn("watching", out)
        self.assertIn("after shutdown: thread hooks none, code patches 0, message hooks off, watchdog off", out)

    def test_a_thread_pumping_its_own_window_stops_while_paused_and_goes_on_after(self):
        rc, out = self.lab("pause-pumping", "--pause", expect_rc=0)
        self.assertIn("pumping\n", out)
        self.assertIn("pumping thread paused", out)
        self.assertIn("pumping again", out)
        self.only_report()

    def test_the_loader_lock_held_elsewhere_stalls_the_process_and_a_report_still_comes(self):
        rc, out = self.lab("loader-lock", expect_rc=0)
        self.assertIn("stalled now: 1", out)
        self.assertIn("stalled after waiting: 0", out)
        waited = int(re.search(r"waited ms: (\d+)", out).group(1))
        self.assertGreater(waited, 500)
        self.assertIn("stalled when free: 0", out)
        self.assertIn("continued", out)
        header, _, sections, _ = self.only_report()
        self.assertRegex(header["exception message"], r"^Error while the loader lock is held")


class ProcessEnd(LabRun):
    def test_a_windowed_program_with_every_library_thread_always_ends(self):
        # The end stops the watchdog, the heap probe and the handling thread
        # and takes the code patches out. A thread forced or still ending
        # while the process ends stalled about one end in a hundred under
        # Wine; here 120 ends, six at a time, each within the time limit.
        def end(_):
            try:
                return self.lab("none", "--click", "--set", "CheckFreeze=true")[0]
            except AssertionError as failure:  # a hang, with the backtraces written
                return str(failure)

        with concurrent.futures.ThreadPoolExecutor(6) as pool:
            codes = list(pool.map(end, range(120)))
        self.assertEqual([c for c in codes if c != 0], [])


class Freezes(LabRun):
    def freeze(self, scenario, freeze_ms, *extra):
        """Runs a freeze scenario in a click handler; (seconds from "freezing"
        to the first complete report or None, stdout, exit code)."""
        args = ["wine", os.path.join(os.path.dirname(LAB), "exit_code.exe"), LAB, scenario, "--click",
                "--set", "CheckFreeze=true", "--set", "FreezeTimeout=%d" % FREEZE_TIMEOUT_MS,
                "--freeze-ms", str(freeze_ms), *extra, "--report", winpath(self.file)]
        proc = subprocess.Popen(args, env=dict(os.environ, WINEDEBUG="-all"), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        start = time.monotonic()
        out, frozen_at, reported_after = b"", None, None
        os.set_blocking(proc.stdout.fileno(), False)
        try:
            while proc.poll() is None:
                if time.monotonic() - start > TIMEOUT:
                    dump_threads("%s did not end" % scenario, args[1:3])
                    self.fail("hang: %s did not end within %d s" % (scenario, TIMEOUT))
                chunk = proc.stdout.read()
                if chunk:
                    out += chunk
                if frozen_at is None and b"freezing" in out:
                    frozen_at = time.monotonic()
                if frozen_at is not None and reported_after is None and os.path.exists(self.file):
                    with open(self.file, "rb") as f:
                        if f.read().endswith(b"\r\n\r\n"):
                            reported_after = time.monotonic() - frozen_at
                time.sleep(0.02)  # the polling step of this watch over output and report
        finally:
            if proc.poll() is None:
                proc.kill()
        rest, err = proc.communicate()
        out = (out + (rest or b"")).replace(b"\r\n", b"\n").decode("latin-1")
        code = re.search(rb"exit code 0x([0-9a-f]{8})", err)
        self.assertIn("watching", out)
        return reported_after, out, int(code.group(1), 16) if code else None

    def check_freeze_report(self, function):
        header, _, sections, _ = self.only_report()
        self.assertEqual(header["exception message"], "The application seems to be frozen.")
        self.assertNotIn("exception class", header)
        title, lines = sections[0]
        self.assertTrue(title.startswith("main thread ($"), title)
        self.assertIn(function, "\n".join(lines), "the main thread's stack at the freeze")
        # The click handler that froze lies below it.
        self.assertIn("LabWindowProc", "\n".join(lines))
        return header

    def test_an_endless_loop_a_deadlock_and_a_blocking_sleep_are_reported_in_time(self):
        for scenario, function in (("freeze-loop", "FreezeLoop"), ("freeze-deadlock", "FreezeDeadlock"),
                                   ("freeze-sleep", "FreezeSleep")):
            with self.subTest(scenario):
                if os.path.exists(self.file):
                    os.remove(self.file)
                after, out, rc = self.freeze(scenario, 3500)
                self.assertEqual(rc, 0, out)
                self.assertIn("continued", out)
                self.assertIsNotNone(after, "no freeze report")
                print("%s reported %.2f s after the freeze began" % (scenario, after), file=sys.stderr)
                self.assertGreater(after, FREEZE_TIMEOUT_MS / 1000 * 0.9)
                self.assertLess(after, FREEZE_TIMEOUT_MS / 1000 + FREEZE_MARGIN_S)
                self.check_freeze_report(function)

    def test_a_modal_loop_of_the_program_is_no_freeze(self):
        after, out, rc = self.freeze("freeze-modal", 3500)
        self.assertEqual(rc, 0)
        self.assertIn("continued", out)
        self.assertFalse(os.path.exists(self.file), "no report")

    def test_a_program_that_recovers_on_its_own_is_not_reported(self):
        after, out, rc = self.freeze("freeze-loop", FREEZE_TIMEOUT_MS // 2)
        self.assertEqual(rc, 0)
        self.assertIn("continued", out)
        self.assertFalse(os.path.exists(self.file), "no report")

    def test_the_freeze_dialog_closes_by_itself_when_the_program_recovers(self):
        # The full dialog shows the freeze at about 2 s; nobody presses a
        # button; the main thread answers again at 5 s and the dialog goes.
        closer = subprocess.Popen(["wine", os.path.join(os.path.dirname(LAB), "box_closer.exe"), "30", "=gone"],
                                  env=dict(os.environ, WINEDEBUG="-all"), stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        try:
            after, out, rc = self.freeze("freeze-sleep", 5000, "--set", "GnShowCfg=0", "--gui")
            watched, err = closer.communicate(timeout=40)
        finally:
            if closer.poll() is None:
                closer.kill()
        self.assertEqual(closer.returncode, 0, err)
        self.assertIn(b"pressed =gone", watched, "the dialog showed and closed without a press")
        self.assertEqual(rc, 0, out)
        self.assertIn("continued", out, "the program went on after the freeze")

    def test_the_same_freeze_is_counted_not_saved_again_with_no_dup_freezes(self):
        # Reports after 2 s and 2 + 3 s: the second is the same freeze.
        after, out, rc = self.freeze("freeze-sleep", 6500, "--set", "NoDupFreezes=true")
        self.assertEqual(rc, 0, out)
        header = self.check_freeze_report("FreezeSleep")
        self.assertEqual(header.get("count"), "2")
        os.remove(self.file)
        after, out, rc = self.freeze("freeze-sleep", 6500, "--set", "NoDupFreezes=false")
        self.assertEqual(len(reports(self.file)), 2, "two reports")


if __name__ == "__main__":
    LAB = sys.argv[1]
    test_crashlab.LAB = LAB
    unittest.main(argv=sys.argv[:1], verbosity=2)
