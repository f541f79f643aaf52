#!/usr/bin/env python3
"""Fails, listing each place, when a library source closes, deletes, unmaps
or leaves a resource by hand instead of through an owner of crash/base/win.

Usage: bare_close_check.py SOURCE_ROOT
"""
import pathlib
import re
import sys

SCANNED = ["crash", "debuginfo", "report_ui", "app", "tools"]
# The owners themselves.
OWNERS = ["crash/base/win"]

CALLS = ["CloseHandle", "LeaveCriticalSection", "DeleteObject", "RegCloseKey", "ReleaseDC",
         "DeleteDC", "closesocket", "UnmapViewOfFile", "DeleteCriticalSection", "FindClose"]
# The system function called or taken as a pointer (a deleter): not a
# member (".", "->", "::" before it other than the global "::"), not part
# of a longer name.
CALL = re.compile(r"(?<![A-Za-z0-9_.>])(?<![A-Za-z0-9_]::)\b(" + "|".join(CALLS) + r")\b")
COMMENT = re.compile(r"//.*$")
BLOCK_COMMENT = re.compile(r"/\*.*?\*/", re.S)
STRING = re.compile(r'"(\\.|[^"\\])*"')


# Lines the check must find, and lines it must let pass: checked first, so
# that a broken pattern cannot make the scan pass.
MUST_FIND = ["  CloseHandle(h);", "if (x) ::DeleteObject(f);", "std::unique_ptr<void, decltype(&CloseHandle)> p;",
             "  closesocket (s);", "  LeaveCriticalSection(&cs);"]
MUST_PASS = ["  handle.Reset();  // CloseHandle here", "  x.CloseHandle(h);", "  p->ReleaseDC();",
             '  Load("closesocket");', "  MyCloseHandleNow(h);", "  kestrix::FindClose(h);"]


def is_bare(line):
    return bool(CALL.search(STRING.sub('""', COMMENT.sub("", line))))


def blank(match):
    # Keeps line numbers: a block comment becomes as many newlines.
    return "\n" * match.group(0).count("\n")


def bare_calls(root):
    excluded = OWNERS
    for top in SCANNED:
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in (".cpp", ".h", ".c") or not path.is_file():
                continue
            rel = path.relative_to(root).as_posix()
            if any(rel.startswith(d + "/") for d in excluded):
                continue
            text = BLOCK_COMMENT.sub(blank, path.read_text(encoding="latin-1"))
            for n, line in enumerate(text.split("\n"), 1):
                if is_bare(line):
                    yield rel, n, line.strip()


def main():
    wrong = [l for l in MUST_FIND if not is_bare(l)] + [l for l in MUST_PASS if is_bare(l)]
    if wrong:
        print("the check's pattern is broken; it misjudges:", *wrong, sep="\n  ")
        return 2
    root = pathlib.Path(sys.argv[1])
    found = list(bare_calls(root))
    for rel, n, line in found:
        print(f"{rel}:{n}: {line}")
    if found:
        print(f"{len(found)} bare close(s) or leave(s): use the owners of crash/base/win")
        return 1
    print("no bare close or leave")
    return 0


if __name__ == "__main__":
    sys.exit(main())
