"""The checker: references across modules, and every fault with its file and line."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from asn1gen import check, load  # noqa: E402
from asn1gen.model import resolve  # noqa: E402


def module(name, body, imports=""):
    head = f"{name} DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n"
    if imports:
        head += f"IMPORTS {imports};\n"
    return head + body + "\nEND\n"


class ModuleFiles:
    """Writes modules to a temporary directory and checks them."""

    def __init__(self, test, **texts):
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)
        self.paths = []
        for file, text in texts.items():
            path = os.path.join(self.dir.name, file + ".asn")
            with open(path, "w") as f:
                f.write(text)
            self.paths.append(path)

    def check(self):
        model, diags = load(self.paths)
        assert not diags, diags
        diags = check(model)
        base = self.dir.name + os.sep
        return model, [str(d).replace(base, "") for d in diags]


class Resolution(unittest.TestCase):
    def test_references_bind_across_modules(self):
        files = ModuleFiles(
            self,
            a=module("A", "Top ::= SEQUENCE { b Thing, c Local, d SEQUENCE OF Thing }\n"
                          "Local ::= CHOICE { x Thing, y NULL }\n"
                          "Alias ::= Local", "Thing FROM B"),
            b=module("B", "Thing ::= ENUMERATED { a(0), b(0), c(-1), ... }"))
        model, diags = files.check()
        self.assertEqual(diags, [])
        top = model.type("A::Top")
        self.assertIs(resolve(top.root[0].type), model.type("B::Thing"))
        self.assertIs(resolve(top.root[1].type), model.type("A::Local"))
        self.assertIs(resolve(top.root[2].type.element), model.type("B::Thing"))
        self.assertIs(resolve(model.module("A").assignment("Alias").type), model.type("A::Local"))
        self.assertEqual(top.root[0].type.describe(), "B::Thing")
        self.assertIs(model.module("A").imports[0].target.type, model.type("B::Thing"))


class Faults(unittest.TestCase):
    def faults(self, **texts):
        return ModuleFiles(self, **texts).check()[1]

    def test_unresolved_names_and_imports(self):
        self.assertEqual(self.faults(
            a=module("A", "T ::= SEQUENCE {\n  x Missing,\n  y Far,\n  z Gone\n}", "Far FROM B Gone FROM NOWHERE"),
            b=module("B", "Near ::= NULL")), [
            "a.asn:3: error: module B does not define Far",
            "a.asn:3: error: Gone is imported from module NOWHERE, which is not given",
            "a.asn:5: error: type Missing is neither defined in A nor imported",
        ])

    def test_names_given_twice(self):
        self.assertEqual(self.faults(
            a=module("A", "T ::= NULL\nT ::= BOOLEAN\n"
                          "S ::= SEQUENCE { f NULL, f BOOLEAN, g-h NULL, g_h NULL }\n"
                          "C ::= CHOICE { a NULL, a BOOLEAN }\n"
                          "E ::= ENUMERATED { x, x }\n"
                          "P ::= CHOICE { n SEQUENCE { v NULL } }\nP_n ::= NULL\n"
                          "Dup ::= NULL", "Dup FROM B Dup FROM B A1 FROM A"),
            b=module("B", "Dup ::= NULL"),
            c=module("B", "Other ::= NULL")), [
            "c.asn:1: error: module B is already defined at b.asn:1",
            "a.asn:5: error: type T of A is already defined at a.asn:4",
            "a.asn:10: error: type P_n of A is already defined at a.asn:9",
            "a.asn:3: error: imported Dup is also defined in A at a.asn:11",
            "a.asn:3: error: Dup is already imported at a.asn:3",
            "a.asn:3: error: module A imports A1 from itself",
            "a.asn:6: error: field f of S is already defined at a.asn:6",
            "a.asn:6: error: field g_h of S becomes the identifier g_h, as g-h at a.asn:6 does",
            "a.asn:7: error: alternative a of C is already defined at a.asn:7",
            "a.asn:8: error: item x of E is already defined at a.asn:8",
        ])

    def test_impossible_constraints(self):
        self.assertEqual(self.faults(a=module("A", "\n".join([
            "R1 ::= INTEGER (5..4)",
            "R2 ::= IA5String (SIZE (-1..4))",
            "R3 ::= INTEGER (-2147483649..0)",
            "R4 ::= INTEGER (0..4294967296)",
            "R5 ::= INTEGER (-1..4294967295)",
            "R6 ::= SEQUENCE (SIZE (3..2)) OF NULL",
            "R7 ::= ENUMERATED { big(4294967296) }",
            "Ok ::= SEQUENCE { a INTEGER (0..4294967295), b INTEGER (-128..127), c OCTET STRING (SIZE (0..0)) }",
        ]))), [
            "a.asn:3: error: range 5..4 is empty: its lower bound is above its upper bound",
            "a.asn:4: error: size -1..4 has a negative lower bound",
            "a.asn:5: error: range -2147483649..0: the lower bound does not fit a signed 32-bit word",
            "a.asn:6: error: range 0..4294967296: the upper bound does not fit an unsigned 32-bit word",
            "a.asn:7: error: range -1..4294967295 mixes a negative lower bound with an upper bound above 2147483647",
            "a.asn:8: error: size 3..2 is empty: its lower bound is above its upper bound",
            "a.asn:9: error: item big of R7: value 4294967296 does not fit 32 bits",
        ])

    def test_enumeration_value_that_x680_reads_otherwise(self):
        # After b(0), X.680 gives c the lowest value free, 1, and the run-time counts on
        # to 1 as well; after z(5), X.680 gives w 2 where the run-time gives 6.
        self.assertEqual(self.faults(a=module("A", "E ::= ENUMERATED { b(0), c, z(5),\n w }")), [
            "a.asn:4: error: item w of E counts on to 6, where X.680 gives 2: write its value",
        ])

    def test_recursion(self):
        self.assertEqual(self.faults(a=module("A", "\n".join([
            "Loop ::= SEQUENCE { next Step, tag INTEGER }",
            "Step ::= SEQUENCE { back Loop }",
            "Tree ::= SEQUENCE { kids SEQUENCE OF Tree }",
            "Maybe ::= SEQUENCE { more Maybe OPTIONAL }",
            "Self ::= Other",
            "Other ::= Self",
        ]))), [
            "a.asn:7: error: type Self is defined through itself: Self -> Other -> Self",
            "a.asn:8: error: type Other is defined through itself: Other -> Self -> Other",
            "a.asn:3: error: type Loop contains itself through mandatory fields: Loop -> Step -> Loop",
            "a.asn:5: note: type Tree is recursive: Tree -> Tree",
            "a.asn:6: note: type Maybe is recursive: Maybe -> Maybe",
        ])


if __name__ == "__main__":
    unittest.main()
