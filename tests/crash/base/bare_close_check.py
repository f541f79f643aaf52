#!/usr/bin/env python3
"""Fails, listing each place, when a library source closes, deletes, unmaps
or leaves a resource by hand instead of through an owner of crash/base/win.

Usage: bare_close_check.py SOURCE_ROOT
"""
import pathlib
import re
import sys

SCANNED = ["crash", "debuginfo", "report_ui", "app", "tools"]
# Folders not converted yet: shrink this list as each one is, until it is
# empty.
NOT_YET_CONVERTED = ["crash/handling", "crash/report/win", "crash/exception/win"]
# The owners themselves.
OWNERS = ["crash/base/win"]

CALLS = ["CloseHandle", "LeaveCriticalSection", "DeleteObject", "RegCloseKey", "ReleaseDC",
         "DeleteDC", "closesocket", "UnmapViewOfFile", "DeleteCriticalSection", "FindClose"]
# A call of the system function: not a member (".", "->", "::" before it
# other than the global "::"), not part of a longer name.
CALL = re.compile(r"(?<![A-Za-z0-9_.>])(?<![A-Za-z0-9_]::)\b(" + "|".join(CALLS) + r")\s*\(")
COMMENT = re.compile(r"//.*$")
BLOCK_COMMENT = re.compile(r"/\*.*?\*/", re.S)
STRING = re.compile(r'"(\\.|[^"\\])*"')


def blank(match):
    # Keeps line numbers: a block comment becomes as many newlines.
    return "\n" * match.group(0).count("\n")


def bare_calls(root):
    excluded = NOT_YET_CONVERTED + OWNERS
    for top in SCANNED:
        for path in sorted((root / top).rglob("*")):
            if path.suffix not in (".cpp", ".h", ".c") or not path.is_file():
                continue
            rel = path.relative_to(root).as_posix()
            if any(rel.startswith(d + "/") for d in excluded):
                continue
            text = BLOCK_COMMENT.sub(blank, path.read_text(encoding="latin-1"))
            for n, line in enumerate(text.split("\n"), 1):
                code = STRING.sub('""', COMMENT.sub("", line))
                if CALL.search(code):
                    yield rel, n, line.strip()


def main():
    root = pathlib.Path(sys.argv[1])
    found = list(bare_calls(root))
    for rel, n, line in found:
        print(f"{rel}:{n}: {line}")
    if found:
        print(f"{len(found)} bare close(s) or leave(s): use the owners of crash/base/win "
              f"(not yet converted: {', '.join(NOT_YET_CONVERTED)})")
        return 1
    print(f"no bare close or leave (not yet converted: {', '.join(NOT_YET_CONVERTED)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
