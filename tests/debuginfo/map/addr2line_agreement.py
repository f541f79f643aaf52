#!/usr/bin/env python3
"""The map of a program against addr2line: for code addresses sampled across
the program's own functions, kxmap must name the same function and source
line as `addr2line -f -i` (outermost inlined frame, names through c++filt)."""
import argparse
import bisect
import random
import re
import subprocess
import sys


def map_name(name):
    """A demangled C++ name in the map's form (an independent rendering of
    the rule: parameters, clone suffixes, anonymous namespaces and a template
    function's return type dropped; top-level '::' shown as '.')."""
    name = re.sub(r"@\d+$", "", name)  # stdcall decoration
    name = re.sub(r" \[clone [^\]]*\]", "", name)
    name = name.replace("(anonymous namespace)::", "")
    changed = True
    while changed:
        changed = False
        for q in (" const", " volatile", " &&", " &", " noexcept"):
            if name.endswith(q):
                name = name[: -len(q)]
                changed = True
    op = re.compile(r"\boperator(\(\)|\[\]| [A-Za-z_][A-Za-z_0-9]*(\[\])?|[<>=!+\-*/%^&|~,]+)")

    def top_level(s):
        depth, i, out = 0, 0, []
        while i < len(s):
            m = op.match(s, i)
            if m:
                i = m.end()
                continue
            c = s[i]
            if c in "<({[":
                if depth == 0:
                    out.append((i, c))
                depth += 1
            elif c in ">)}]":
                depth = max(0, depth - 1)
            elif depth == 0:
                out.append((i, c))
            i += 1
        return out

    if name.endswith(")"):
        opens = [i for i, c in top_level(name) if c == "("]
        if opens and opens[-1] > 0:
            name = name[: opens[-1]]
    blanks = [i for i, c in top_level(name) if c == " "]
    if blanks:
        name = name[blanks[-1] + 1:]
    tops = {i for i, _ in top_level(name)}
    out, i = [], 0
    while i < len(name):
        if i in tops and name.startswith("::", i):
            out.append(".")
            i += 2
        else:
            out.append(name[i])
            i += 1
    return "".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--kxmap", required=True)
    ap.add_argument("--source-root", required=True)
    ap.add_argument("--samples", type=int, default=3000)
    ap.add_argument("--minimum", type=float, default=99.0)
    args = ap.parse_args()
    prefix = "i686-w64-mingw32-"
    nm = subprocess.run([prefix + "nm", "-n", "--defined-only", args.exe], capture_output=True, text=True,
                        check=True).stdout
    syms = []
    for line in nm.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in "Tt":
            syms.append(int(parts[0], 16))
    syms = sorted(set(syms))
    rng = random.Random(1)
    candidates = []
    for _ in range(args.samples * 4):
        k = rng.randrange(len(syms) - 1)
        lo, hi = syms[k], syms[k + 1]
        if hi > lo:
            candidates.append(rng.randrange(lo, hi))
    candidates = sorted(set(candidates))
    a2l = subprocess.run([prefix + "addr2line", "-a", "-f", "-i", "-e", args.exe],
                         input="\n".join("%x" % a for a in candidates), capture_output=True, text=True,
                         check=True).stdout.splitlines()
    # Groups: "0x...", then (function, file:line) pairs; the last pair is the outermost frame.
    frames = {}
    cur = None
    for line in a2l:
        if re.fullmatch(r"0x[0-9a-f]+", line):
            cur = int(line, 16)
            frames[cur] = []
        elif cur is not None:
            frames[cur].append(line)
    own = []
    for a in candidates:
        f = frames.get(a, [])
        if len(f) < 2:
            continue
        func, where = f[-2], f[-1]
        path, _, line = where.rpartition(":")
        line = line.split()[0] if line else "0"
        if func == "??" or not path.startswith(args.source_root) or "/build/" in path:
            continue
        own.append((a, func, int(line) if line.isdigit() else 0))
    own = own[: args.samples]
    demangled = subprocess.run(["c++filt"], input="\n".join(f for _, f, _ in own), capture_output=True,
                               text=True, check=True).stdout.splitlines()
    results = {}
    for i in range(0, len(own), 400):
        chunk = own[i:i + 400]
        out = subprocess.run([args.kxmap, args.exe] + ["%x" % a for a, _, _ in chunk], capture_output=True,
                             text=True, check=True).stdout.splitlines()
        for line in out:
            f = line.split("\t")
            results[int(f[0], 16)] = (f[3], int(f[4]))
    agree, mismatches = 0, []
    for (a, _, line), name in zip(own, demangled):
        expect = (map_name(name), line)
        got = results.get(a)
        if got == expect:
            agree += 1
        else:
            mismatches.append((a, expect, got))
    total = len(own)
    pct = 100.0 * agree / total if total else 0.0
    print("%d of %d addresses agree (%.2f%%)" % (agree, total, pct))
    for a, expect, got in mismatches[:25]:
        print("  %08x addr2line %s  map %s" % (a, expect, got))
    if total < min(args.samples, 1000):
        print("too few addresses of the program's own code")
        return 1
    return 0 if pct >= args.minimum else 1


if __name__ == "__main__":
    sys.exit(main())
