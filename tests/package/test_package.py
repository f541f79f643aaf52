#!/usr/bin/env python3
"""Kestrix from its installed package: an outside program builds against it,
catches a null read in try/catch, and leaves a report for the crashes it does
not catch. Built with its names in a ".kx" file, its reports name the
crashing function beside that file, and the installed kxmap resolves the
addresses of a report made without it. The same program also builds from the
source checkout through add_subdirectory."""
import argparse
import os
import shutil
import subprocess
import sys
import unittest

ARGS = None


def sh(*cmd, **kw):
    subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)


def build_hello(build, *configure):
    shutil.rmtree(build, ignore_errors=True)
    sh("cmake", "-S", os.path.join(ARGS.source_dir, "examples", "kestrix-hello"), "-B", build, "-G", "Ninja",
       *configure)
    sh("cmake", "--build", build)
    return os.path.join(build, "kestrix-hello.exe")


def run(exe, arg):
    """Exit code, output and the report file's text (None when none)."""
    folder = os.path.dirname(exe)
    report = os.path.join(folder, "kestrix-hello-bugreport.txt")
    if os.path.exists(report):
        os.remove(report)
    env = dict(os.environ, WINEDEBUG="-all")
    proc = subprocess.run(["wine", exe, arg], cwd=folder, env=env, capture_output=True, timeout=120)
    out = proc.stdout.replace(b"\r\n", b"\n").decode("latin-1")
    text = None
    if os.path.exists(report):
        with open(report, "rb") as f:
            text = f.read().decode("latin-1")
    return proc.returncode, out, text


def header(text, name):
    for line in text.split("\r\n"):
        key, _, value = line.partition(": ")
        if key.rstrip() == name:
            return value
    return None


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        work = ARGS.work
        shutil.rmtree(work, ignore_errors=True)
        cls.prefix = os.path.join(work, "prefix")
        sh("cmake", "--install", ARGS.build_dir, "--prefix", cls.prefix)
        toolchain = os.path.join(cls.prefix, "share", "kestrix", "mingw-i686.cmake")
        cls.exe = build_hello(os.path.join(work, "hello"), "-DCMAKE_TOOLCHAIN_FILE=" + toolchain)

    def test_package_layout(self):
        for part in ["include/kestrix/kestrix.h", "lib/cmake/Kestrix/KestrixConfig.cmake", "bin/kxsettings",
                     "bin/kxpechecksum", "bin/kxdebugmap", "bin/kxmap", "share/kestrix/mingw-i686.cmake",
                     "lib/libkx_startup.a"]:
            self.assertTrue(os.path.exists(os.path.join(self.prefix, part)), part)
        # Only the public headers are installed.
        headers = os.listdir(os.path.join(self.prefix, "include"))
        self.assertEqual(headers, ["kestrix"])

    def test_no_runtime_dlls_needed(self):
        out = subprocess.run(["i686-w64-mingw32-objdump", "-p", self.exe], capture_output=True, text=True).stdout
        dlls = sorted(line.split(":")[1].strip().lower() for line in out.splitlines() if "DLL Name" in line)
        for dll in dlls:
            self.assertNotRegex(dll, r"libstdc|libgcc|libwinpthread|zlib", dlls)

    def test_null_read_in_try_is_caught(self):
        code, out, text = run(self.exe, "caught")
        self.assertEqual(code, 0, out)
        self.assertIn("kestrix active: yes", out)
        self.assertRegex(out, r"caught: Access violation at address \$[0-9a-f]+ in module 'kestrix-hello.exe'\. "
                              r"Read of address \$0")
        self.assertIsNone(text, "a caught fault leaves no report")

    def test_unhandled_null_read_is_reported(self):
        code, out, text = run(self.exe, "crash")
        self.assertEqual(code, 0xC0000005 & 0xFF, "the access violation's code, as without the library")
        self.assertIsNotNone(text)
        self.assertEqual(header(text, "exception class"), "EAccessViolation")
        self.assertRegex(header(text, "exception message"), r"^Access violation at address .* Read of address \$0\.$")
        stack = text.split("main thread", 1)[1]
        self.assertRegex(stack, r"kestrix-hello\.exe\s+hello\s+.*ReadThrough",
                         "the crashing thread's call stack names the crashing function")

    def test_unhandled_cpp_exception_is_reported(self):
        code, out, text = run(self.exe, "throw")
        self.assertEqual(code, 3, "an unhandled C++ exception ends as abort() would")
        self.assertEqual(header(text, "exception class"), "runtime_error")
        self.assertEqual(header(text, "exception message"), "nobody catches this.")

    def test_handled_exception_reported_by_the_program(self):
        code, out, text = run(self.exe, "report")
        self.assertEqual(code, 0, out)
        self.assertIn("reported: yes", out)
        self.assertIn("going on", out)
        self.assertEqual(header(text, "exception message"), "handled, but worth a report.")

    def test_names_in_a_kx_file(self):
        toolchain = os.path.join(self.prefix, "share", "kestrix", "mingw-i686.cmake")
        exe = build_hello(os.path.join(ARGS.work, "hello-kx"), "-DCMAKE_TOOLCHAIN_FILE=" + toolchain,
                          "-DHELLO_NAMES_IN_KX_FILE=ON")
        kx = os.path.splitext(exe)[0] + ".kx"
        self.assertTrue(os.path.exists(kx))
        with open(exe, "rb") as f:
            self.assertNotIn(b"ReadThrough", f.read(), "the program carries no names")
        code, out, text = run(exe, "crash")
        self.assertEqual(code, 0xC0000005 & 0xFF, out)
        self.assertRegex(text.split("main thread", 1)[1], r"kestrix-hello\.exe\s+hello\s+.*ReadThrough")
        # Without the ".kx" file: module, address and the names the stripped
        # map makes up; the installed kxmap and the file name the address.
        hidden = kx + ".kept"
        os.rename(kx, hidden)
        try:
            code, out, text = run(exe, "crash")
        finally:
            os.rename(hidden, kx)
        self.assertEqual(code, 0xC0000005 & 0xFF, out)
        top = text.split("main thread", 1)[1].split("\r\n")[1]
        self.assertNotIn("ReadThrough", text)
        self.assertRegex(top, r"^[0-9a-f]{8} (\+[0-9a-f]+ )?kestrix-hello\.exe\s+segment%\d+\s.*public%\d+$")
        out = subprocess.run([os.path.join(self.prefix, "bin", "kxmap"), kx, top[:8]], capture_output=True,
                             text=True, check=True).stdout
        self.assertEqual(out.split("\t")[2:4], ["hello", "ReadThrough"])

    def test_from_source_checkout(self):
        toolchain = os.path.join(ARGS.source_dir, "cmake", "mingw-i686.cmake")
        exe = build_hello(os.path.join(ARGS.work, "hello-subdir"), "-DCMAKE_TOOLCHAIN_FILE=" + toolchain,
                          "-DKESTRIX_SOURCE_DIR=" + ARGS.source_dir)
        code, out, _ = run(exe, "caught")
        self.assertEqual(code, 0, out)
        self.assertIn("caught: Access violation", out)
        code, out, text = run(exe, "crash")
        self.assertEqual(code, 0xC0000005 & 0xFF, out)
        self.assertEqual(header(text, "exception class"), "EAccessViolation")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
