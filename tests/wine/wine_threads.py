"""What hanging programs are doing, for a test that caught one: the
backtrace of each thread of each of their processes (thread_dump.exe, which
runs winedbg), written to stderr."""
import os
import subprocess
import sys
import threading

_lock = threading.Lock()
_dumps_left = 3  # parallel runs that all hang need not flood the log


def _thread_dump_exe(near):
    """thread_dump.exe of the build tree that holds `near`."""
    folder = os.path.dirname(os.path.abspath(near))
    while True:
        candidate = os.path.join(folder, "tests", "wine", "thread_dump.exe")
        if os.path.exists(candidate):
            return candidate
        parent = os.path.dirname(folder)
        if parent == folder:
            return None
        folder = parent


def dump_threads(why, programs):
    """Backtraces of every process of `programs` (paths of .exe files in the
    build tree) and of Wine's desktop process."""
    global _dumps_left
    programs = [p for p in programs if p.lower().endswith(".exe")]
    with _lock:
        if _dumps_left == 0 or not programs:
            return
        _dumps_left -= 1
        dumper = _thread_dump_exe(programs[0])
        if not dumper:
            sys.stderr.write("%s: no thread_dump.exe for the backtraces\n" % why)
            return
        names = sorted({os.path.basename(p.replace("\\", "/")) for p in programs} | {"explorer.exe"})
        try:
            run = subprocess.run(["wine", dumper, why, *names], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, timeout=180, env=dict(os.environ, WINEDEBUG="-all"))
            sys.stderr.write(run.stdout.decode("latin-1").replace("\r\n", "\n"))
        except (OSError, subprocess.TimeoutExpired) as error:
            sys.stderr.write("%s: no backtraces: %s\n" % (why, error))
        sys.stderr.flush()


def run(args, timeout, **kwargs):
    """subprocess.run(args, timeout=timeout, ...), except that a run which
    does not end in time has its programs' threads dumped while it still
    hangs, before it is killed and TimeoutExpired is raised."""
    if kwargs.pop("capture_output", False):
        kwargs["stdout"] = kwargs["stderr"] = subprocess.PIPE
    with subprocess.Popen(args, **kwargs) as proc:
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            dump_threads("%s did not end within %d s" % (" ".join(os.path.basename(a) for a in args[1:3]), timeout),
                         args[1:])
            proc.kill()
            try:
                proc.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                pass
            raise
    return subprocess.CompletedProcess(args, proc.returncode, out, err)
