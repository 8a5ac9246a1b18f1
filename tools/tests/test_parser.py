"""The parser: a small module in, the expected model out; syntax errors with their lines."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

from asn1gen import Asn1Error, parse_text  # noqa: E402
from asn1gen.model import (Builtin, Choice, Enumerated, Reference, Sequence,  # noqa: E402
                           SequenceOf)

SMALL = """\
-- A module that uses every construct of the subset.
SMALL DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
IMPORTS Far, Near FROM OTHER Base FROM BASE;

Message ::= SEQUENCE {
    seq INTEGER OPTIONAL, -- a comment ends here -- slot INTEGER (0..1023) OPTIONAL,
    pdu   Pdu,
    name  IA5String (SIZE (1..64)),
    /* a block comment
       over two lines */
    ...,
    late  BOOLEAN
}

Pdu ::= CHOICE {
    ping      NULL,
    far-away  Far,
    ...,
    added     OCTET STRING,
    ...
}

Sparse ::= ENUMERATED { not-use(-1), active, standby, standby_too(1), top(16), ... }

Lists ::= SEQUENCE OF SEQUENCE { a INTEGER, b SET (SIZE (0..4)) OF Base }

Holder ::= SEQUENCE {
    net   SEQUENCE { det_lvl_dB INTEGER (-128..127) },
    pick  CHOICE { one NULL, two-b ENUMERATED { x, y } },
    rows  SEQUENCE OF SEQUENCE { id OBJECT IDENTIFIER }
}
END
"""


class ParseSmallModule(unittest.TestCase):
    def setUp(self):
        self.m = parse_text(SMALL, "small.asn")

    def test_header_and_imports(self):
        self.assertEqual(self.m.name, "SMALL")
        self.assertEqual([(i.name, i.module, i.loc.line) for i in self.m.imports],
                         [("Far", "OTHER", 4), ("Near", "OTHER", 4), ("Base", "BASE", 4)])
        self.assertEqual([a.name for a in self.m.assignments],
                         ["Message", "Pdu", "Sparse", "Lists", "Holder"])

    def test_sequence_fields_presence_and_additions(self):
        seq = self.m.type("Message")
        self.assertIsInstance(seq, Sequence)
        self.assertTrue(seq.extensible)
        self.assertEqual([f.name for f in seq.root], ["seq", "slot", "pdu", "name"])
        self.assertEqual([f.name for f in seq.additions], ["late"])
        self.assertEqual([f.presence_bit for f in seq.root], [0, 1, None, None])
        self.assertEqual(seq.optional_count, 2)
        self.assertEqual([f.loc.line for f in seq.fields], [7, 7, 8, 9, 13])
        slot = seq.root[1].type
        self.assertEqual((slot.kind, slot.range.lower, slot.range.upper), ("INTEGER", 0, 1023))
        name = seq.root[3].type
        self.assertEqual((name.kind, name.size.lower, name.size.upper), ("IA5String", 1, 64))
        self.assertIsInstance(seq.root[2].type, Reference)
        self.assertTrue(seq.additions[0].addition)
        self.assertIsNone(seq.additions[0].presence_bit)

    def test_choice_numbers_roots_then_additions(self):
        choice = self.m.type("Pdu")
        self.assertIsInstance(choice, Choice)
        self.assertTrue(choice.extensible)
        self.assertEqual([(a.index, a.name, a.addition) for a in choice.alternatives],
                         [(0, "ping", False), (1, "far-away", False), (2, "added", True)])
        self.assertEqual(choice.additions[0].type.kind, "OCTET STRING")

    def test_enumeration_values_count_on_from_the_previous_item(self):
        e = self.m.type("Sparse")
        self.assertIsInstance(e, Enumerated)
        self.assertTrue(e.extensible)
        self.assertEqual([(i.name, i.value, i.explicit) for i in e.items],
                         [("not-use", -1, True), ("active", 0, False), ("standby", 1, False),
                          ("standby_too", 1, True), ("top", 16, True)])
        self.assertEqual(e.maximum, 16)
        self.assertEqual(e.name_of(1), "standby")  # the first item with the value
        self.assertIsNone(e.name_of(2))

    def test_inline_types_are_named_after_their_place(self):
        lists = self.m.type("Lists")
        self.assertIsInstance(lists, SequenceOf)
        self.assertEqual(lists.element.name, "Lists_subtype")
        inner = lists.element.root[1].type
        self.assertTrue(inner.is_set)
        self.assertEqual((inner.size.lower, inner.size.upper), (0, 4))
        holder = self.m.assignment("Holder")
        self.assertEqual([t.name for t in holder.inline],
                         ["Holder_net", "Holder_pick", "Holder_pick_two_b", "Holder_rows_subtype"])
        self.assertEqual(self.m.type("Holder_net").root[0].name, "det_lvl_dB")
        self.assertEqual(self.m.type("Holder_net").root[0].type.range.lower, -128)
        self.assertEqual(self.m.type("Holder_rows_subtype").root[0].type.kind, "OBJECT IDENTIFIER")
        self.assertEqual([t.name for t in self.m.constructed],
                         ["Message", "Pdu", "Sparse", "Lists_subtype", "Holder", "Holder_net",
                          "Holder_pick", "Holder_pick_two_b", "Holder_rows_subtype"])
        self.assertIs(self.m.type("Holder_pick").module, self.m)

    def test_builtin_kinds(self):
        h = self.m.type("Holder_pick")
        self.assertIsInstance(h.root[0].type, Builtin)
        self.assertEqual(h.root[0].type.kind, "NULL")


def error_of(text):
    try:
        parse_text(text, "bad.asn")
    except Asn1Error as e:
        return str(e)
    raise AssertionError("no error")


def module(body):
    return "M DEFINITIONS AUTOMATIC TAGS ::=\nBEGIN\n" + body + "\nEND\n"


class SyntaxErrors(unittest.TestCase):
    def test_each_fault_is_reported_with_file_and_line(self):
        cases = [
            (module("T ::= SEQUENCE { a INTEGER DEFAULT 3 }"), "bad.asn:3: error: DEFAULT is not supported"),
            (module("T ::= SEQUENCE { a [0] INTEGER }"), "bad.asn:3: error: tags are not supported"),
            ("M DEFINITIONS EXPLICIT TAGS ::= BEGIN END", "bad.asn:1: error: only AUTOMATIC TAGS is supported"),
            (module("T ::= SEQUENCE {\n a INTEGER,\n b BOOLEAN\n"), "bad.asn:7: error: expected ',' or '}', found 'END'"),
            (module("T ::= SEQUENCE { a- INTEGER }"), "bad.asn:3: error: name 'a-' ends with a hyphen"),
            (module("/* open\n\nT ::= NULL"), "bad.asn:3: error: comment not closed"),
            (module("T ::= CHOICE { a NULL OPTIONAL }"), "bad.asn:3: error: an alternative of a CHOICE cannot be OPTIONAL"),
            (module("T ::= SEQUENCE { a NULL, ..., b NULL, ..., c NULL }"),
             "bad.asn:3: error: components after the second extension marker are not supported"),
            (module("T ::= INTEGER (0..7, ...)"), "bad.asn:3: error: extensible constraints are not supported"),
            (module("T ::= INTEGER (0..MAX)"), "bad.asn:3: error: MAX is not supported in a range"),
            (module("T ::= ENUMERATED { a, ..., b }"),
             "bad.asn:3: error: enumeration items after the extension marker are not supported"),
            (module("T ::= SEQUENCE { }"), "bad.asn:3: error: a SEQUENCE needs at least one component"),
            (module("T ::= CHOICE { ... }"), "bad.asn:3: error: a CHOICE needs at least one root component"),
            (module("value INTEGER ::= 3"), "bad.asn:3: error: value assignments are not supported ('value')"),
            (module("T ::= SET { a NULL }"), "bad.asn:3: error: SET is not supported, only SET OF"),
            (module("T ::= INTEGER (3)"), "bad.asn:3: error: expected '..' (only a range lower..upper is supported)"),
            (module("T ::= OCTET STRING (1..2)"), "bad.asn:3: error: expected SIZE"),
            (module("T ::= NULL\n§"), "bad.asn:4: error: unexpected character '§'"),
            (module("T ::= SEQUENCE { a 12abc }"), "bad.asn:3: error: bad number '12a'"),
            (module("T ::= NULL") + "X", "bad.asn:5: error: text after END: 'X'"),
            (module("T ::= SEQUENCE { a BIT STRING }"), "bad.asn:3: error: BIT is not supported"),
        ]
        for text, expected in cases:
            with self.subTest(expected=expected):
                self.assertTrue(error_of(text).startswith(expected), error_of(text))


if __name__ == "__main__":
    unittest.main()
