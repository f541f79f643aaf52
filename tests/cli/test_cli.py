#!/usr/bin/env python3
"""quorrin-cli under Wine: text and JSON output, errors, a 10,000-deep chain."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "helpers"))
from winetest import winpath  # noqa: E402

CLI = None  # path of quorrin-cli.exe, from the command line


def run(*args, cwd=None):
    env = dict(os.environ, WINEDEBUG="-all")
    proc = subprocess.run(["wine", CLI, *args], cwd=cwd, env=env, capture_output=True, timeout=300)
    return proc.returncode, proc.stdout, proc.stderr.replace(b"\r\n", b"\n")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def unit(name, uses=b"", init=b""):
    text = b"unit " + name + b";\r\ninterface\r\n"
    if uses:
        text += b"uses " + uses + b";\r\n"
    text += b"implementation\r\n"
    if init:
        text += b"initialization\r\n" + init + b"\r\n"
    return text + b"end.\r\n"


class CliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def test_json_keys_tree_order_and_sections(self):
        write(self.path("app", "App.dpr"), b"program App;\r\nuses\r\n  A in 'A.pas', Missing,\r\n  B;\r\nbegin\r\nend.\r\n")
        write(self.path("app", "A.pas"), unit(b"A", b"B", b"  RunA;"))
        write(self.path("lib", "B.pas"), unit(b"B"))
        code, out, err = run("-I", winpath(self.path("nowhere")), "-I", winpath(self.path("lib")), "--json",
                             self.path("app", "App.dpr"))
        self.assertEqual(code, 0, err)
        doc = json.loads(out)
        self.assertEqual(list(doc), ["log", "tree", "order", "sections"])
        self.assertEqual(doc["log"][0], "current dir: " + winpath(self.path("app")))
        # The later -I line is searched first.
        self.assertEqual(doc["log"][1], "found actual unit for \"A.pas\": " + winpath(self.path("app", "A.pas")))
        self.assertEqual(doc["log"][2], "found actual unit for \"B.pas\": " + winpath(self.path("lib", "B.pas")))
        self.assertTrue(doc["log"][3].startswith("file \"" + winpath(self.path("lib")) + "\\Missing.pas\" not found."))
        self.assertEqual(doc["log"][5], "found actual unit for \"Missing.pas\": ")

        def shape(node):
            return [node["text"], [shape(c) for c in node["children"]]]
        self.assertEqual(shape(doc["tree"]),
                         ["App.dpr", [["A.pas", [["B.pas", []]]], ["Missing.pas", []], ["B.pas", []]]])
        self.assertEqual([i["text"] for i in doc["order"]], ["B.pas", "A.pas", "Missing.pas", "App.dpr"])
        self.assertEqual(doc["order"][1], {"text": "A.pas", "unitFile": "A.pas",
                                           "fullPath": winpath(self.path("app", "A.pas")),
                                           "initText": "initialization\r\n  RunA;\r\nend.\r\n"})
        self.assertEqual(doc["order"][3], {"text": "App.dpr", "unitFile": None, "fullPath": None, "initText": None})
        self.assertEqual(doc["sections"]["App.dpr"], "object not found")
        self.assertEqual(doc["sections"]["Missing.pas"],
                         "Missing.pas : unit file not found in project search path or IDE library path")
        self.assertEqual(doc["sections"]["A.pas"],
                         winpath(self.path("app", "A.pas")) + "\r\n\r\ninitialization\r\n  RunA;\r\nend.\r\n")

    def test_bytes_pass_through_as_latin1(self):
        init = bytes(range(1, 256)).replace(b"\n", b"").replace(b"e", b"").replace(b"E", b"")
        init = b"initialization\r\n  { " + init + b" }\r\n"
        body = unit(b"Bytes").replace(b"end.", b"").rstrip(b"\r\n") + b"\r\n" + init + b"\xff\x80end."
        write(self.path("P.dpr"), b"uses Bytes;\r\nbegin end.")
        write(self.path("Bytes.pas"), body)
        code, out, _ = run("--json", self.path("P.dpr"))
        self.assertEqual(code, 0)
        doc = json.loads(out.decode("utf-8"))
        got = doc["order"][0]["initText"].encode("latin-1")
        self.assertEqual(got, body[body.index(b"initialization"):])

    def test_text_output_blocks(self):
        write(self.path("P.dpr"), b"uses A;\r\nbegin end.")
        write(self.path("A.pas"), unit(b"A", b"B"))
        write(self.path("B.pas"), unit(b"B"))
        code, out, _ = run(self.path("P.dpr"))
        self.assertEqual(code, 0)
        text = out.decode("latin-1").replace("\r\n", "\n")
        log, tree, order = text.split("\n\n")
        self.assertEqual(log.splitlines()[0], "== Log ==")
        self.assertEqual(log.splitlines()[1], "current dir: " + winpath(self.dir))
        self.assertEqual(tree, "== Unit tree ==\nP.dpr\n  A.pas\n    B.pas")
        self.assertEqual(order, "== Initialization order ==\nB.pas\nA.pas\nP.dpr\n")

    def test_open_error_keeps_what_was_built(self):
        write(self.path("P.dpr"), b"uses A, B;\r\nbegin end.")
        write(self.path("A.pas"), unit(b"A"))
        # A name with a directory part is opened as it stands and fails.
        write(self.path("B.pas"), unit(b"B", b"C IN 'x:\\nowhere\\C.pas'"))
        code, out, err = run("--json", self.path("P.dpr"))
        self.assertEqual(code, 2)
        doc = json.loads(out)
        self.assertEqual(list(doc), ["log", "tree", "order", "sections", "error"])
        self.assertTrue(doc["error"].startswith("Cannot open file \""), doc["error"])
        self.assertEqual(err.decode("latin-1").strip(), doc["error"])
        self.assertEqual(doc["order"], [])
        self.assertEqual(doc["sections"], {})
        self.assertEqual([c["text"] for c in doc["tree"]["children"]], ["A.pas", "B.pas"])

        code, out, err = run(self.path("Absent.dpr"))
        self.assertEqual(code, 2)
        self.assertIn(b"Cannot open file \"" + winpath(self.path("Absent.dpr")).encode() + b"\". ", err)

    def test_usage_errors(self):
        for args in ([], ["--json"], ["-I"], ["--bogus", "x.dpr"], ["a.dpr", "b.dpr"]):
            code, out, err = run(*args)
            self.assertEqual(code, 1, args)
            self.assertIn(b"usage: quorrin-cli", err)

    def test_chain_ten_thousand_deep(self):
        depth = 10000
        write(self.path("Deep.dpr"), b"program Deep;\r\nuses U0;\r\nbegin end.")
        for i in range(depth):
            uses = b"U%d" % (i + 1) if i + 1 < depth else b""
            write(self.path("U%d.pas" % i), unit(b"U%d" % i, uses, b"  X;"))
        code, out, err = run("--json", self.path("Deep.dpr"))
        self.assertEqual(code, 0, err[-500:])
        sys.setrecursionlimit(max(sys.getrecursionlimit(), 4 * depth))
        doc = json.loads(out)
        order = [i["text"] for i in doc["order"]]
        self.assertEqual(len(order), depth + 1)
        self.assertEqual(order[0], "U%d.pas" % (depth - 1))
        self.assertEqual(order[-2:], ["U0.pas", "Deep.dpr"])
        node, levels = doc["tree"], 0
        while node["children"]:
            node, levels = node["children"][0], levels + 1
        self.assertEqual(levels, depth)
        # The text form indents 2 blanks per level: about 100 MB here.
        code, out, err = run(self.path("Deep.dpr"))
        self.assertEqual(code, 0, err[-500:])
        deepest = b"\r\n" + b" " * (2 * depth) + b"U%d.pas\r\n" % (depth - 1)
        self.assertIn(deepest, out)
        self.assertTrue(out.endswith(b"U0.pas\r\nDeep.dpr\r\n"))


if __name__ == "__main__":
    CLI = sys.argv.pop(1)
    unittest.main(verbosity=2)
