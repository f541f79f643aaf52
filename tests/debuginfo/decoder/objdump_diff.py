#!/usr/bin/env python3
"""Differential test of the decoder against GNU objdump over real 32-bit code.

For each PE file, `kxdisasm --lengths FILE` and `objdump -d -z -M intel FILE`
sweep every executable section from its start. At every address where both
place an instruction that objdump decodes (not "(bad)" nor ".byte"), the
lengths must agree, the relative branch targets must agree, and the
mnemonics are compared for the classes both name alike (counted, reported).

usage: objdump_diff.py KXDISASM [--sample N] [--jobs J] [FILES or FOLDERS...]
Exit status 0 when no length or target disagrees, 1 otherwise; 77 when
there is no input (the test is then skipped).
"""
import argparse
import collections
import concurrent.futures
import os
import re
import subprocess
import sys

OBJDUMP = os.environ.get("OBJDUMP", "i686-w64-mingw32-objdump")
DEFAULT_DIR = "/usr/lib/i386-linux-gnu/wine/i386-windows"

LINE = re.compile(r"^\s*([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*\t?(.*)$")
PREFIXES = {"lock", "rep", "repz", "repe", "repnz", "repne", "data16", "addr16", "data32", "addr32",
            "cs", "ds", "es", "ss", "fs", "gs", "bnd", "notrack"}
# objdump names -> the decoder's names, for the conditions and string forms.
CONDITIONS = {"o": "o", "no": "no", "b": "b", "c": "b", "nae": "b", "ae": "nb", "nb": "nb", "nc": "nb",
              "e": "z", "z": "z", "ne": "nz", "nz": "nz", "be": "be", "na": "be", "a": "a", "nbe": "a",
              "s": "s", "ns": "ns", "p": "p", "pe": "p", "np": "np", "po": "np", "l": "l", "nge": "l",
              "ge": "ge", "nl": "ge", "le": "le", "ng": "le", "g": "g", "nle": "g"}


def normalize_objdump(text):
    words = text.split()
    while words and words[0] in PREFIXES:
        words = words[1:]
    if not words:
        return "", ""
    name, rest = words[0], " ".join(words[1:])
    for head in ("j", "set", "cmov"):
        if name.startswith(head) and name[len(head):] in CONDITIONS and name not in ("jmp", "jecxz"):
            return head + CONDITIONS[name[len(head):]], rest
    if name in ("movs", "cmps", "stos", "lods", "scas", "ins", "outs"):
        size = {"BYTE": "b", "WORD": "w", "DWORD": "d"}.get(rest.split(" ")[0], "")
        return name + size, rest
    return name, rest


ALIKE = {"fwait": "wait", "pushf": "pushfd", "popf": "popfd", "pusha": "pushad", "popa": "popad",
         "iret": "iretd", "int3": "int3", "cwtl": "cwde", "cltd": "cdq", "xlatb": "xlat", "sidtd": "sidt",
         "sgdtd": "sgdt"}


def normalize_mine(name):
    words = name.split()
    while words and words[0] in ("lock", "rep", "repne"):
        words = words[1:]
    if words[:2] == ["int", "3"]:
        return "int3"
    return words[0] if words else ""


def run_objdump(path):
    out = subprocess.run([OBJDUMP, "-d", "-z", "-w", "-M", "intel", path], capture_output=True, text=True,
                         errors="replace").stdout
    result = {}
    for line in out.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        address = int(m.group(1), 16)
        length = len(m.group(2).split())
        result[address] = (length, m.group(3).strip(), m.group(2))
    return result


def run_mine(kxdisasm, path, with_names):
    lengths = subprocess.run([kxdisasm, "--lengths", path], capture_output=True, text=True, check=True).stdout
    mine = {}
    for line in lengths.splitlines():
        parts = line.split()
        mine[int(parts[0], 16)] = [int(parts[1]), int(parts[2], 16) if len(parts) > 2 else None, None]
    if with_names:
        listing = subprocess.run([kxdisasm, path], capture_output=True, text=True, check=True,
                                 errors="replace").stdout
        for line in listing.splitlines():
            address = int(line[:8], 16)
            if address in mine:
                mine[address][2] = line[11:].split("  ; ")[0]
    return mine


def compare(kxdisasm, path, with_names):
    stats = collections.Counter()
    classes = collections.Counter()
    examples = {}
    theirs = run_objdump(path)
    mine = run_mine(kxdisasm, path, with_names)
    for address, (length, text, raw) in theirs.items():
        got = mine.get(address)
        if got is None:
            stats["unaligned"] += 1
            continue
        if text.startswith("(bad)") or text.startswith(".byte") or not text:
            stats["objdump_bad"] += 1
            continue
        name, rest = normalize_objdump(text)
        if raw.startswith("9b ") and name.startswith("f") and name != "fwait":
            # objdump folds a wait into the x87 instruction after it: two
            # instructions for the decoder, as for the processor.
            after = mine.get(address + 1)
            stats["compared"] += 1
            if got[0] != 1 or after is None or after[0] != length - 1:
                stats["length"] += 1
                classes["length wait+" + name] += 1
                examples.setdefault("length wait+" + name, f"{os.path.basename(path)} {address:08x}: '{text}'")
            continue
        stats["compared"] += 1
        if got[0] != length:
            stats["length"] += 1
            key = "length " + name
            classes[key] += 1
            examples.setdefault(key, f"{os.path.basename(path)} {address:08x}: objdump {length} '{text}', mine {got[0]}")
            continue
        target = re.match(r"^(?:0x)?([0-9a-f]+)(?: <.*>)?$", rest)
        if name.startswith(("j", "call", "loop")) and target and got[1] is None:
            stats["target"] += 1
            classes["target missing " + name] += 1
            examples.setdefault("target missing " + name, f"{os.path.basename(path)} {address:08x}: '{text}'")
        elif got[1] is not None:
            stats["branches"] += 1
            if not target or int(target.group(1), 16) != got[1]:
                stats["target"] += 1
                classes["target " + name] += 1
                examples.setdefault("target " + name, f"{os.path.basename(path)} {address:08x}: '{text}' mine {got[1]:08x}")
        if with_names and got[2] is not None:
            my_name = normalize_mine(got[2])
            if name == "xchg" and rest == "ax,ax":
                name = "nop"
            name = ALIKE.get(name, name)
            stats["names"] += 1
            if my_name != name:
                stats["name_differs"] += 1
                key = f"name {name} / {my_name}"
                classes[key] += 1
                examples.setdefault(key, f"{os.path.basename(path)} {address:08x}: '{text}' / '{got[2]}'")
    return stats, classes, examples


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kxdisasm")
    parser.add_argument("inputs", nargs="*")
    parser.add_argument("--sample", type=int, default=1, help="every Nth file")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--names", action="store_true", help="compare mnemonics too")
    args = parser.parse_intermixed_args()
    inputs = args.inputs or [DEFAULT_DIR]
    files = []
    for item in inputs:
        if os.path.isdir(item):
            files += sorted(os.path.join(item, f) for f in os.listdir(item) if f.endswith((".dll", ".exe")))
        elif os.path.isfile(item):
            files.append(item)
    files = files[::args.sample]
    if not files:
        print(f"SKIP: no 32-bit PE files in {' '.join(inputs)} (install wine32)")
        return 77
    total = collections.Counter()
    classes = collections.Counter()
    examples = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for stats, cls, ex in pool.map(lambda f: compare(args.kxdisasm, f, args.names), files):
            total.update(stats)
            classes.update(cls)
            for k, v in ex.items():
                examples.setdefault(k, v)
    print(f"files: {len(files)}")
    print(f"instructions compared: {total['compared']} (objdump-undecoded skipped: {total['objdump_bad']}, "
          f"unaligned: {total['unaligned']})")
    print(f"relative branches compared: {total['branches']}")
    print(f"length disagreements: {total['length']}, target disagreements: {total['target']}")
    if args.names:
        print(f"mnemonics compared: {total['names']}, differing: {total['name_differs']}")
    for key, count in classes.most_common(60):
        print(f"  {count:8d}  {key}    e.g. {examples.get(key, '')}")
    return 1 if total["length"] or total["target"] else 0


if __name__ == "__main__":
    sys.exit(main())
