#!/usr/bin/env python3
"""Writes a generated Object Pascal project for the analyzer benchmark.

    make_project.py SHAPE UNITS DIR [--seed N] [--tiny]

SHAPE is the form of the uses graph:
  chain    the project uses U0, each unit uses the next one (UNITS deep);
  fan      the project uses every unit, units use a few base units;
  layered  random layers, each unit uses 1-6 units of deeper layers.

Units are spread over four folders (lib/base, lib/extra, src/core, src/ui),
the search paths printed on the last line of output in -I form, relative to
the project folder. Unit files are 2-40 KB (log-uniform), CR LF, with
comments of all three kinds, interface and implementation uses clauses,
routines, and mostly an initialization section (some with finalization,
some in the older begin form, some with none). --tiny writes minimal units
instead (for depth tests that need many files fast). The output is fully
determined by the arguments.
"""
import argparse
import math
import os
import random
import shutil

FOLDERS = ["lib/base", "lib/extra", "src/core", "src/ui"]
PREFIXES = ["Data", "View", "Net", "Util", "Core", "Form", "Model", "Store"]
# Units of the runtime that no search path holds: looked up, not found.
RUNTIME = ["SysUtils", "Classes", "Windows", "Messages", "Variants", "Math", "Types", "StrUtils"]

WORDS = ("value index count buffer stream record handle owner parent child item list cache "
         "state flags cursor offset length width height colour font style caption text").split()


def unit_name(i):
    return f"{PREFIXES[i % len(PREFIXES)]}{i:05d}"


def uses_clause(names, rng):
    """A uses clause over several lines, with the odd comment between names."""
    if not names:
        return []
    lines, line = ["uses"], "  "
    for k, n in enumerate(names):
        piece = n + ("," if k + 1 < len(names) else ";")
        r = rng.random()
        if r < 0.08:
            piece += " { " + rng.choice(WORDS) + " }"
        elif r < 0.12:
            piece += " (* " + rng.choice(WORDS) + " *)"
        if len(line) + len(piece) > 72:
            lines.append(line.rstrip())
            line = "  "
        line += piece + " "
    if rng.random() < 0.3:
        line += "// " + rng.choice(WORDS)
    lines.append(line.rstrip())
    return lines


def routine(rng, name):
    w = rng.sample(WORDS, 4)
    return [
        "{ " + f"{name}: updates the {w[0]} of the {w[1]}; the {w[2]} stays as it was" + " }",
        f"procedure {name}(const A{w[0].title()}: Integer; var A{w[1].title()}: string);",
        "var",
        f"  L{w[2].title()}, L{w[3].title()}: Integer;",
        "begin",
        f"  L{w[2].title()} := A{w[0].title()} * 2; // keeps the {w[3]}",
        f"  L{w[3].title()} := Length(A{w[1].title()});",
        f"  if L{w[2].title()} > L{w[3].title()} then",
        "  begin",
        f"    A{w[1].title()} := A{w[1].title()} + IntToStr(L{w[2].title()}); (* widened *)",
        f"    Inc(L{w[3].title()});",
        "  end",
        "  else",
        f"    A{w[1].title()} := Copy(A{w[1].title()}, 1, L{w[2].title()});",
        "end;",
        "",
    ]


def unit_text(name, iface, impl, size, rng):
    out = [
        "{ " + f"{name}.pas" + " }",
        "{ Generated for the analyzer benchmark. }",
        "",
        f"unit {name};",
        "",
        "{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}",
        "",
        "interface",
        "",
    ]
    out += uses_clause(iface, rng)
    out += ["", "type", f"  T{name} = class", "  private", "    FCount: Integer; // items held",
            "  public", "    procedure Run;", "  end;", ""]
    decls = max(1, size // 4000)
    for k in range(decls):
        out.append(f"procedure {name}Step{k}(const AValue: Integer; var AText: string);")
    out += ["", "implementation", ""]
    out += uses_clause(impl, rng)
    out += ["", f"procedure T{name}.Run;", "begin", "  Inc(FCount);", "end;", ""]
    k, body = 0, sum(len(l) + 2 for l in out)
    while body < size - 200:
        r = routine(rng, f"{name}Step{k}" if k < decls else f"{name}Local{k}")
        out += r
        body += sum(len(l) + 2 for l in r)
        k += 1
    kind = rng.random()
    if kind < 0.55:
        out += ["initialization", f"  Register{name};", ""]
    elif kind < 0.75:
        out += ["initialization", f"  Register{name};", "finalization", f"  Unregister{name};", ""]
    elif kind < 0.85:
        out += ["begin", f"  Setup{name};"]
    out.append("end.")
    return "\r\n".join(out) + "\r\n"


def tiny_unit(name, iface):
    lines = [f"unit {name};", "interface"]
    if iface:
        lines.append("uses " + ", ".join(iface) + ";")
    lines += ["implementation", "initialization", f"  Touch{name};", "end."]
    return "\r\n".join(lines) + "\r\n"


def graph(shape, n, rng):
    """Interface uses per unit and the units the project names."""
    uses = [[] for _ in range(n)]
    if shape == "chain":
        for i in range(n - 1):
            uses[i].append(i + 1)
        return uses, [0]
    if shape == "fan":
        base = min(10, n)
        for i in range(base, n):
            uses[i] = rng.sample(range(base), min(base, rng.randint(0, 3)))
        return uses, list(range(n))
    # layered: about 20 layers, deeper layers get the units used by others
    layers = max(2, min(20, n // 5))
    layer = sorted(rng.randrange(layers) for _ in range(n))
    members = [[] for _ in range(layers)]
    for i, l in enumerate(layer):
        members[l].append(i)
    members = [m for m in members if m]
    for d in range(len(members) - 1):
        deeper = [u for m in members[d + 1:] for u in m]
        for i in members[d]:
            uses[i] = rng.sample(deeper, min(len(deeper), rng.randint(1, 6)))
        # every unit of the next layer is used by someone
        for u in members[d + 1]:
            user = rng.choice(members[d])
            if u not in uses[user]:
                uses[user].append(u)
    return uses, members[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("shape", choices=["chain", "fan", "layered"])
    ap.add_argument("units", type=int)
    ap.add_argument("dir")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--tiny", action="store_true")
    args = ap.parse_args()
    rng = random.Random(f"{args.shape}/{args.units}/{args.seed}")
    if os.path.exists(args.dir):
        shutil.rmtree(args.dir)
    for f in FOLDERS:
        os.makedirs(os.path.join(args.dir, f))
    uses, top = graph(args.shape, args.units, rng)
    names = [unit_name(i) for i in range(args.units)]
    folder = [FOLDERS[rng.randrange(len(FOLDERS))] for _ in range(args.units)]
    total = 0
    for i, name in enumerate(names):
        iface = [names[u] for u in uses[i]]
        if args.tiny:
            text = tiny_unit(name, iface)
        else:
            iface = rng.sample(RUNTIME, rng.randint(1, 3)) + iface
            impl = rng.sample(RUNTIME, rng.randint(0, 2)) + [names[rng.randrange(args.units)]]
            size = int(math.exp(rng.uniform(math.log(2048), math.log(40960))))
            text = unit_text(name, iface, impl, size, rng)
        data = text.encode("latin-1")
        total += len(data)
        with open(os.path.join(args.dir, folder[i], name + ".pas"), "wb") as f:
            f.write(data)
    project = ["program Bench;", "", "{$APPTYPE CONSOLE}", "", "uses"]
    if not args.tiny:
        project.insert(1, "{ Generated for the analyzer benchmark. }")
    for k, i in enumerate(top):
        sep = "," if k + 1 < len(top) else ";"
        project.append(f"  {names[i]} in '{folder[i]}\\{names[i]}.pas'{sep}".replace("/", "\\"))
    project += ["", "begin", "  Run;", "end."]
    data = ("\r\n".join(project) + "\r\n").encode("latin-1")
    with open(os.path.join(args.dir, "Bench.dpr"), "wb") as f:
        f.write(data)
    total += len(data)
    print(f"{args.shape} {args.units} units, {total} bytes")
    print(" ".join(f"-I {f}".replace("/", "\\") for f in FOLDERS))


if __name__ == "__main__":
    main()
