#!/usr/bin/env python3
"""The compiler-order mode against the real Free Pascal compiler.

Generates multi-unit programs from fixed seeds (diamonds, units reached only
through implementation uses, cycles through implementation uses, cycles
entered through an interface clause and closed through an implementation
clause, comments and directives inside the clauses, names written in other
letter cases than the files, units in a search folder), compiles each with
fpc, runs it (every unit prints its name in its initialization section) and
compares the printed order with `quorrin-cli --compiler-order --json`. Then
gives further programs a cycle of interface clauses, which fpc must refuse
naming the pair that quorrin-cli logs first as a circular unit reference.

usage: fpc_verify.py QUORRIN_CLI_EXE [--seeds FIRST:COUNT] [--refused FIRST:COUNT] [--keep DIR]
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from winetest import winpath  # noqa: E402

SYLLABLES = ["Ka", "Lo", "Mi", "Nu", "Po", "Ra", "Si", "Tu", "Ve", "Wo", "Xa", "Zy", "Fe", "Gi", "Ho", "Du",
             "Bo", "Ce", "Ja", "Ly", "Mo", "Pe", "Ru", "So"]
# Names must not hold words the line scanners stop at.
FORBIDDEN = ["interface", "implementation", "uses", "begin", "initialization", "end", "unit"]


def unit_names(rng, count):
    names = []
    while len(names) < count:
        name = "".join(rng.choice(SYLLABLES) for _ in range(rng.randint(2, 3)))
        if name.lower() not in [n.lower() for n in names] and not any(w in name.lower() for w in FORBIDDEN):
            names.append(name)
    return names


class Program:
    """One generated program: the uses graph and its source files."""

    def __init__(self, seed, interface_cycle=False):
        rng = random.Random(seed)
        self.rng = rng
        self.seed = seed
        n = rng.randint(5, 30)
        self.names = unit_names(rng, n)
        # Interface uses only go down a random ranking (the compiler refuses
        # cycles of interface clauses); implementation uses go anywhere.
        rank = list(range(n))
        rng.shuffle(rank)
        self.intf = {i: [] for i in range(n)}
        self.impl = {i: [] for i in range(n)}
        style = seed % 4
        for i in range(n):
            lower = [j for j in range(n) if rank[j] < rank[i]]
            k = min(len(lower), rng.choice([0, 1, 1, 2, 2, 3, 4]))
            self.intf[i] = rng.sample(lower, k)
            others = [j for j in range(n) if j != i and j not in self.intf[i]]
            k_impl = min(len(others), rng.choice([0, 0, 1, 1, 2, 3] if style != 3 else [1, 2, 3, 4]))
            self.impl[i] = rng.sample(others, k_impl)
        # Cycles entered through an interface clause: a unit's interface names
        # one below it, whose implementation names it back.
        for _ in range(rng.randint(1, 4)):
            i = rng.randrange(n)
            if self.intf[i]:
                j = rng.choice(self.intf[i])
                if i not in self.impl[j] and i not in self.intf[j]:
                    self.impl[j].insert(rng.randrange(len(self.impl[j]) + 1), i)
        # The program names the highest units, a few others at random.
        top = sorted(range(n), key=lambda i: -rank[i])
        self.program_uses = top[: rng.randint(1, 3)]
        extra = [i for i in range(n) if i not in self.program_uses]
        self.program_uses += rng.sample(extra, min(len(extra), rng.randint(0, 2)))
        rng.shuffle(self.program_uses)
        if interface_cycle and any(self.intf.values()):
            # Close a cycle of interface clauses alone, from a unit the
            # program reaches: down a chain of interface uses, then back up
            # to where it began.
            reached = [i for i in sorted(self.reachable()) if self.intf[i]]
            if not reached:
                reached = [i for i in range(n) if self.intf[i]][:1]
                self.program_uses += reached
            start = rng.choice(reached)
            node = start
            for _ in range(rng.randint(1, 3)):
                if not self.intf[node]:
                    break
                node = rng.choice(self.intf[node])
            if node != start and start not in self.intf[node]:
                if start in self.impl[node]:
                    self.impl[node].remove(start)
                self.intf[node].append(start)
        # Files: most in lower case, some exactly as every clause spells them;
        # some in a search folder.
        self.exact_case = {i for i in range(n) if rng.random() < 0.2}
        self.in_lib = {i for i in range(n) if rng.random() < 0.25}
        self.project_ext = rng.choice([".lpr", ".dpr"])

    def spelled(self, i):
        name = self.names[i]
        if i in self.exact_case:
            return name
        return self.rng.choice([name, name.lower(), name.upper(), name.swapcase(), name[0].lower() + name[1:]])

    def file_name(self, i):
        return (self.names[i] if i in self.exact_case else self.names[i].lower()) + ".pas"

    def clause(self, units, for_program=False):
        """A uses clause over units with comments and directives between the names."""
        rng = self.rng
        if not units:
            return ""
        keyword = rng.choice(["uses", "uses", "USES", "Uses"])
        parts = []
        for pos, i in enumerate(units):
            name = self.spelled(i)
            if for_program and i not in self.in_lib and rng.random() < 0.2:
                name += " in '" + self.file_name(i) + "'"
            decor = rng.random()
            if decor < 0.1:
                name = "{$IFDEF FPC} " + name
                closing = " {$ENDIF}"
            else:
                closing = ""
            if decor > 0.9:
                name = "(* " + rng.choice(["old", "was: Forms", "x, y"]) + " *) " + name
            elif decor > 0.8:
                name = "{ " + rng.choice(["keep", "see note,\n  more"]) + " } " + name
            last = pos == len(units) - 1
            if last:
                parts.append(name + closing + ";")
            else:
                sep = rng.choice([", ", ",", ",\n  ", " ,", ", // " + rng.choice(["why", "uses x"]) + "\n  "])
                if closing:
                    # The directive closes after the comma: the name and its comma go together.
                    parts.append(name + sep.rstrip(" ") + closing + " ")
                else:
                    parts.append(name + sep)
        lead = rng.choice([" ", "\n  ", " {$H+} "])
        return keyword + lead + "".join(parts) + "\n"

    def unit_source(self, i):
        rng = self.rng
        name = self.names[i]
        impl_kw = rng.choice(["implementation", "implementation", "IMPLEMENTATION", "Implementation"])
        text = "unit " + name + ";\n"
        if rng.random() < 0.3:
            text += "{$mode objfpc}{$H+}\n"
        text += rng.choice(["interface\n", "INTERFACE\n\n", "interface\n{ public part }\n"])
        text += self.clause(self.intf[i])
        text += "\nprocedure Touch" + str(i) + ";\n\n"
        text += impl_kw + "\n"
        if rng.random() < 0.3:
            text += rng.choice(["{ private helpers }\n", "// nothing to see\n", "(* note *)\n"])
        text += self.clause(self.impl[i])
        text += "\nprocedure Touch" + str(i) + ";\nbegin\nend;\n\n"
        if rng.random() < 0.15:
            text += "begin\n  WriteLn('" + name + "');\nend.\n"
        else:
            text += "initialization\n  WriteLn('" + name + "');\n"
            if rng.random() < 0.2:
                text += "finalization\n  Touch" + str(i) + ";\n"
            text += "end.\n"
        return text

    def write(self, folder):
        os.makedirs(os.path.join(folder, "lib"), exist_ok=True)
        reachable = self.reachable()
        for i in range(len(self.names)):
            sub = "lib" if i in self.in_lib else ""
            eol = "\r\n" if self.rng.random() < 0.5 else "\n"
            with open(os.path.join(folder, sub, self.file_name(i)), "w", newline="") as f:
                f.write(self.unit_source(i).replace("\n", eol))
        project = os.path.join(folder, "p%d%s" % (self.seed, self.project_ext))
        with open(project, "w", newline="") as f:
            f.write("program p%d;\n\n%s\nbegin\nend.\n" % (self.seed, self.clause(self.program_uses, True)))
        return project, reachable

    def plain_post_order(self):
        """A plain depth-first post-order over both clauses: what the rule must not reduce to."""
        order, seen = [], set()
        for start in self.program_uses:
            if start in seen:
                continue
            seen.add(start)
            stack = [(start, iter(self.intf[start] + self.impl[start]))]
            while stack:
                node, it = stack[-1]
                nxt = next((j for j in it if j not in seen), None)
                if nxt is None:
                    order.append(self.names[node].lower())
                    stack.pop()
                else:
                    seen.add(nxt)
                    stack.append((nxt, iter(self.intf[nxt] + self.impl[nxt])))
        return order

    def reachable(self):
        seen, todo = set(), list(self.program_uses)
        while todo:
            i = todo.pop()
            if i not in seen:
                seen.add(i)
                todo += self.intf[i] + self.impl[i]
        return seen


def check(cli, seed, keep):
    """Returns (matched, why not, (second compiles in fpc's log, differs from a plain post-order))."""
    prog = Program(seed)
    folder = tempfile.mkdtemp(prefix="qfpc%d_" % seed)
    try:
        project, reachable = prog.write(folder)
        os.makedirs(os.path.join(folder, "out"))
        fpc = subprocess.run(["fpc", "-B", "-vu", "-FUout", "-Fulib", "-o" + os.path.join(folder, "prog"),
                              os.path.basename(project)], cwd=folder, capture_output=True, text=True, timeout=120)
        if fpc.returncode != 0:
            errors = [l for l in fpc.stdout.splitlines() if "Error" in l or "Fatal" in l]
            return False, "fpc failed: " + "; ".join(errors), (0, False)
        seconds = fpc.stdout.count("setting second compile")
        run = subprocess.run([os.path.join(folder, "prog")], capture_output=True, text=True, timeout=30)
        compiled = [l.strip().lower() for l in run.stdout.splitlines() if l.strip()]
        stats = (seconds, compiled != prog.plain_post_order())
        q = subprocess.run(["wine", cli, "-I", winpath(os.path.join(folder, "lib")), "--compiler-order", "--json",
                            winpath(project)], capture_output=True, timeout=120)
        if q.returncode != 0:
            return False, "quorrin-cli failed: " + q.stderr.decode("latin-1"), stats
        doc = json.loads(q.stdout)
        order = [item["text"] for item in doc["order"]]
        if order[-1] != os.path.basename(project):
            return False, "project file not last: %r" % order[-1], stats
        ours = [t[:-4].lower() for t in order[:-1]]
        missing = [t for t in doc["order"] if t["fullPath"] == ""]
        if missing:
            return False, "units not found: %r" % [t["text"] for t in missing], stats
        if len(compiled) != len(reachable):
            return False, "program printed %d names for %d units" % (len(compiled), len(reachable)), stats
        if ours != compiled:
            return False, "order differs:\n  fpc:     %s\n  quorrin: %s" % (" ".join(compiled), " ".join(ours)), stats
        return True, "", stats
    finally:
        if keep:
            target = os.path.join(keep, "seed%d" % seed)
            shutil.rmtree(target, ignore_errors=True)
            shutil.copytree(folder, target)
        shutil.rmtree(folder, ignore_errors=True)


def check_refused(cli, seed):
    """A program with a cycle of interface clauses: fpc stops with "Circular
    unit reference between X and Y"; the first such line quorrin logs must
    name the same pair. Returns (matched, why not)."""
    prog = Program(seed, interface_cycle=True)
    folder = tempfile.mkdtemp(prefix="qfpc%d_" % seed)
    try:
        project, _ = prog.write(folder)
        os.makedirs(os.path.join(folder, "out"))
        fpc = subprocess.run(["fpc", "-B", "-FUout", "-Fulib", os.path.basename(project)], cwd=folder,
                             capture_output=True, text=True, timeout=120)
        refused = [l for l in fpc.stdout.splitlines() if "Circular unit reference between" in l]
        if fpc.returncode == 0 or not refused:
            return False, "fpc accepted the program"
        theirs = refused[0].split("Circular unit reference between ")[1].lower().split(" and ")
        q = subprocess.run(["wine", cli, "-I", winpath(os.path.join(folder, "lib")), "--compiler-order", "--json",
                            winpath(project)], capture_output=True, timeout=120)
        logged = [l for l in json.loads(q.stdout)["log"] if l.startswith("circular unit reference between")]
        if not logged:
            return False, "quorrin-cli logged no circular reference; fpc: %s" % refused[0]
        ours = [part.strip('"')[:-4].lower() for part in logged[0][len("circular unit reference between "):]
                .split(" and ")]
        if ours != theirs:
            return False, "fpc: %s; quorrin-cli: %s" % (refused[0], logged[0])
        return True, ""
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--seeds", default="1:100", help="FIRST:COUNT")
    parser.add_argument("--keep", help="copy each program's folder here")
    parser.add_argument("--refused", default="5001:20", help="FIRST:COUNT of programs with an interface cycle")
    args = parser.parse_args()
    if not shutil.which("fpc"):
        print("fpc not found: install the fp-compiler package (scripts/setup does)")
        return 1
    first, count = (int(x) for x in args.seeds.split(":"))
    matched, with_second, not_plain, failures = 0, 0, 0, []
    for seed in range(first, first + count):
        ok, why, (second, differs) = check(args.cli, seed, args.keep)
        with_second += second > 0
        not_plain += differs
        if ok:
            matched += 1
        else:
            failures.append(seed)
            print("seed %d: %s" % (seed, why))
    print("%d of %d programs compiled by fpc printed the order quorrin-cli --compiler-order gives; "
          "in %d fpc compiled a unit a second time, in %d a plain depth-first post-order would be wrong"
          % (matched, count, with_second, not_plain))
    first, count_refused = (int(x) for x in args.refused.split(":"))
    refused_matched = 0
    for seed in range(first, first + count_refused):
        ok, why = check_refused(args.cli, seed)
        refused_matched += ok
        if not ok:
            failures.append(seed)
            print("seed %d (interface cycle): %s" % (seed, why))
    print("%d of %d programs with a cycle of interface clauses: fpc's circular-reference error names the pair "
          "quorrin-cli logs first" % (refused_matched, count_refused))
    # The rule for a unit reached again during its interface walk must be exercised.
    if with_second < count // 5 or not_plain < count // 5:
        print("too few programs where the second compile matters: the generator no longer covers that rule")
        return 1
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
