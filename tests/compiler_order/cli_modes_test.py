#!/usr/bin/env python3
"""quorrin-cli under Wine: --compiler-order, --cycles and --dot."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from winetest import winpath  # noqa: E402

CLI = None  # path of quorrin-cli.exe, from the command line


def run(*args):
    proc = subprocess.run(["wine", CLI, *args], capture_output=True, timeout=300)
    return proc.returncode, proc.stdout, proc.stderr.replace(b"\r\n", b"\n")


def unit(name, intf="", impl=""):
    text = "unit %s;\r\ninterface\r\n" % name
    if intf:
        text += "uses %s;\r\n" % intf
    text += "implementation\r\n"
    if impl:
        text += "uses %s;\r\n" % impl
    return (text + "initialization\r\n  Init%s;\r\nend.\r\n" % name).encode()


class CliModesTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.write("App.dpr", b"program App;\r\nuses A, Ring1;\r\nbegin\r\nend.\r\n")
        # A's interface names C, whose implementation names A back; Ring1 and
        # Ring2 name each other in their interfaces (the compiler refuses that).
        self.write("A.pas", unit("A", "C, D"))
        self.write("C.pas", unit("C", impl="a, Missing"))
        self.write("D.pas", unit("D"))
        self.write("Ring1.pas", unit("Ring1", "Ring2"))
        self.write("Ring2.pas", unit("Ring2", "Ring1"))
        self.project = os.path.join(self.dir, "App.dpr")

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def test_text_marks_implementation_nodes(self):
        code, out, err = run("--compiler-order", self.project)
        self.assertEqual(code, 0, err)
        text = out.decode().replace("\r\n", "\n")
        self.assertIn("== Unit tree ==\nApp.dpr\n  A.pas\n    C.pas\n      a.pas (implementation)\n"
                      "      Missing.pas (implementation)\n    D.pas\n  Ring1.pas\n    Ring2.pas\n      Ring1.pas\n",
                      text)
        order = text.split("== Initialization order ==\n")[1].split()
        self.assertEqual(order, ["D.pas", "Missing.pas", "C.pas", "A.pas", "Ring2.pas", "Ring1.pas", "App.dpr"])
        self.assertIn('circular unit reference between "Ring2.pas" and "Ring1.pas"\n', text)
        self.assertNotIn("== Cycles ==", text)

    def test_json_has_the_default_keys_clauses_and_cycles(self):
        code, out, err = run("--compiler-order", "--json", self.project)
        self.assertEqual(code, 0, err)
        doc = json.loads(out)
        self.assertEqual(list(doc), ["log", "tree", "order", "sections", "cycles"])
        root = doc["tree"]
        self.assertIsNone(root["clause"])
        a = root["children"][0]
        self.assertEqual((a["text"], a["clause"]), ("A.pas", "interface"))
        c = a["children"][0]
        self.assertEqual([(n["text"], n["clause"]) for n in c["children"]],
                         [("a.pas", "implementation"), ("Missing.pas", "implementation")])
        self.assertEqual([o["text"] for o in doc["order"]][:4], ["D.pas", "Missing.pas", "C.pas", "A.pas"])
        self.assertEqual(doc["order"][1]["fullPath"], "")
        self.assertEqual(doc["sections"]["C.pas"],
                         winpath(os.path.join(self.dir, "C.pas")) + "\r\n\r\ninitialization\r\n  InitC;\r\nend.\r\n")
        self.assertEqual(len(doc["cycles"]), 2)
        # The default mode keeps its own output (its post-order over the tree
        # meets the leaf Ring1 under Ring2 first).
        code, out, err = run("--json", self.project)
        default = json.loads(out)
        self.assertEqual(list(default), ["log", "tree", "order", "sections"])
        self.assertNotIn("clause", default["tree"])
        self.assertEqual([o["text"] for o in default["order"]],
                         ["C.pas", "D.pas", "A.pas", "Ring1.pas", "Ring2.pas", "App.dpr"])

    def test_cycles_list_units_edges_and_kind(self):
        code, out, err = run("--cycles", "--json", self.project)
        self.assertEqual(code, 0, err)
        cycles = json.loads(out)["cycles"]
        self.assertEqual(cycles[0], {
            "units": ["A.pas", "C.pas"],
            "edges": [{"from": "A.pas", "to": "C.pas", "clause": "interface"},
                      {"from": "C.pas", "to": "A.pas", "clause": "implementation"}],
            "dependsOnClauseOrder": True})
        self.assertEqual(cycles[1]["units"], ["Ring1.pas", "Ring2.pas"])
        self.assertFalse(cycles[1]["dependsOnClauseOrder"])
        code, out, err = run("--compiler-order", "--cycles", self.project)
        self.assertEqual(code, 0, err)
        text = out.decode().replace("\r\n", "\n")
        self.assertTrue(text.startswith("== Cycles ==\ncycle 1: 2 units, order follows clause order\n"
                                        "  A.pas\n  C.pas\n  A.pas -> C.pas (interface)\n"
                                        "  C.pas -> A.pas (implementation)\n"
                                        "cycle 2: 2 units, interface cycle"), text)

    def test_dot_is_a_graph_graphviz_reads(self):
        code, out, err = run("--dot", self.project)
        self.assertEqual(code, 0, err)
        dot = out.decode()
        self.assertTrue(dot.startswith("digraph uses {"))
        self.assertIn("n2 -> n1 [style=dashed];", dot)  # C -> A through C's implementation
        self.assertIn('[label="Missing.pas", style=dotted', dot)
        self.assertEqual(dot.count("subgraph cluster_cycle"), 2)
        if not shutil.which("dot"):
            self.skipTest("graphviz is not installed")
        svg = subprocess.run(["dot", "-Tsvg"], input=out, capture_output=True, timeout=60)
        self.assertEqual(svg.returncode, 0, svg.stderr)
        self.assertIn(b"cycle 1 (order follows clause order)", svg.stdout)

    def test_errors_and_option_conflicts(self):
        missing = os.path.join(self.dir, "nothere", "X.dpr")
        for mode in ("--dot", "--cycles"):
            code, out, err = run(mode, missing)
            self.assertEqual((code, out), (2, b""))
            self.assertIn(b"Cannot open file", err)
        code, out, err = run("--compiler-order", "--json", missing)
        self.assertEqual(code, 2)
        doc = json.loads(out)
        self.assertEqual(doc["order"], [])
        self.assertIn("Cannot open file", doc["error"])
        for args in (["--dot", "--json"], ["--cycles", "--dot"], ["--dot", "--cycles"]):
            code, out, err = run(*args, self.project)
            self.assertEqual(code, 1, args)
            self.assertIn(b"--compiler-order", err)


if __name__ == "__main__":
    CLI = sys.argv.pop(1)
    unittest.main()
