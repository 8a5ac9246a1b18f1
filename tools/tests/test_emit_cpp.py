"""The C++ emitter: a tiny module in, the expected declarations and records out."""

import concurrent.futures
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))

from asn1gen import Asn1Error, check, parse_text  # noqa: E402
from asn1gen.emit_cpp import Emitter, enum_names, missing_types  # noqa: E402
from asn1gen.model import Model  # noqa: E402

TINY = """\
TINY DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
IMPORTS Far FROM OTHER;
Message ::= SEQUENCE {
    seq   INTEGER OPTIONAL,
    slot  INTEGER (0..1023) OPTIONAL,
    pdu   Pdu,
    name  IA5String (SIZE (1..8)),
    ...,
    late  BOOLEAN
}
Pdu ::= CHOICE { ping NULL, data-in OCTET STRING, kind Kind, ..., id INTEGER }
Kind ::= ENUMERATED { not-use(-1), none(0), standby(8), active(16), ... }
List ::= SET OF SEQUENCE { a INTEGER (-2147483648..-1) }
Holder ::= SEQUENCE { other OtherList, big INTEGER (0..4294967295) }
OtherList ::= List
Lost ::= SEQUENCE { far Far }
UsesLost ::= CHOICE { lost Lost, fine NULL }
END
"""

OTHER = """\
OTHER DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
IMPORTS Kind FROM TINY;
Far ::= SEQUENCE { kind Kind }
END
"""


def model_of(*texts):
    model = Model([parse_text(t, f"{t.split()[0].lower()}.asn") for t in texts])
    diags = check(model)
    return model, diags


def emitted(text, parts=1):
    model, diags = model_of(text)
    emitter = Emitter(model, frozenset(missing_types(model)))
    return emitter.module_files(model.modules[0], parts)


class Declarations(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        model, diags = model_of(TINY)
        # Far is missing: Lost and UsesLost are left out, the rest is emitted.
        assert [d.missing for d in diags] == [True], [str(d) for d in diags]
        files = Emitter(model, frozenset(missing_types(model))).module_files(model.modules[0])
        cls.header = files["tiny.h"]
        cls.source = files["tiny_1.cpp"]

    def assertLines(self, text, *lines):
        for line in lines:
            self.assertIn(line, text.splitlines(), line)

    def test_every_class_follows_the_classes_it_contains(self):
        order = [line.split()[1] for line in self.header.splitlines() if line.startswith(("class ", "using "))]
        self.assertEqual(order, ["Kind", "Pdu", "Message", "List_subtype", "List", "Holder", "OtherList"])

    def test_types_that_need_a_missing_type_are_left_out(self):
        self.assertNotIn("Lost", self.header)
        self.assertNotIn("Lost", self.source)
        self.assertNotIn('#include "messages/other.h"', self.header)

    def test_sequence_accessors(self):
        # Declared in the class, defined in the source file.
        slot = "ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>"
        self.assertLines(
            self.header,
            "class Message : public ASN1::Concrete<Message, ASN1::SEQUENCE> {",
            "    Message() : Concrete(&theInfo) {}",
            "    ~Message() override;",
            "    ASN1::INTEGER& set_seq(int value);",
            "    bool seq_isPresent() const;",
            f"    {slot}& set_slot(unsigned int value);",
            "    TINY::Pdu& ref_pdu();",
            "    TINY::Message::name::value_type& set_name(std::string const& value);",
            "    ASN1::BOOLEAN const& get_late() const;",
        )
        self.assertLines(
            self.source,
            "ASN1::INTEGER& Message::set_seq(int value) { return set_seq() = value; }",
            "bool Message::seq_isPresent() const { return hasOptionalField(0); }",
            "void Message::omit_seq() { removeOptionalField(0); }",
            f"{slot}& Message::set_slot(unsigned int value) {{ return set_slot() = value; }}",
            "    includeOptionalField(1, 1);",
            "TINY::Pdu& Message::set_pdu() { return ref_pdu(); }",
            "TINY::Pdu& Message::set_pdu(TINY::Pdu const& value) { return ref_pdu() = value; }",
            "TINY::Pdu& Message::ref_pdu() { return static_cast<TINY::Pdu&>(*getField(2)); }",
            "TINY::Message::name::value_type& Message::set_name(std::string const& value) { return ref_name() = value; }",
            # The extension addition: presence index after the two optional root fields.
            "ASN1::BOOLEAN const& Message::get_late() const { return static_cast<ASN1::BOOLEAN const&>(*getField(4)); }",
            "    includeOptionalField(2, 4);",
            "bool Message::late_isPresent() const { return hasOptionalField(2); }",
            "ASN1::BOOLEAN& Message::set_late(bool value) { return set_late() = value; }",
        )
        self.assertNotIn("ref_seq", self.header, "optional fields have no ref_ accessor")
        self.assertNotIn(" { return ", self.header.split("namespace TINY {")[1].split("class Message")[1],
                         "no accessor body in the header")

    def test_nested_string_class_and_its_record(self):
        self.assertLines(
            self.header,
            "    struct name {",
            "        class value_type : public ASN1::Concrete<value_type, ASN1::IA5String> {",
            "            value_type() : Concrete(std::string(), &theInfo) {}",
        )
        self.assertLines(
            self.source,
            "Message::name::value_type::InfoType const Message::name::value_type::theInfo = {",
            "    {{&ASN1::createValue<Message::name::value_type>, 22}, ASN1::FixedConstraint, 1, 8}, "
            "ASN1::IA5StringSet, 128, 7, 7, 8};",
        )

    def test_sequence_record(self):
        self.assertLines(
            self.source,
            "void const* const Message_fieldInfos[] = {&ASN1::INTEGER::theInfo, "
            "&ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo, &TINY::Pdu::theInfo, "
            "&TINY::Message::name::value_type::theInfo, &ASN1::BOOLEAN::theInfo};",
            "int const Message_fieldIds[] = {0, 1, -1, -1};",
            'char const* const Message_fieldNames[] = {"seq", "slot", "pdu", "name", "late"};',
            "Message::InfoType const Message::theInfo = {{&ASN1::createValue<Message>, 16}, true, "
            "Message_fieldInfos, Message_fieldIds,",
            "    4, 1, 2, nullptr, nullptr, Message_fieldNames};",
            "Message::~Message() = default;",
        )

    def test_choice_scopes_constructors_and_accessors(self):
        self.assertLines(
            self.header,
            "class Pdu : public ASN1::Concrete<Pdu, ASN1::CHOICE> {",
            "    struct ping { enum Id { id = 0 }; };",
            "    struct data_in { enum Id { id = 1 }; };",
            # An enumerator cannot bear its class's name.
            "    struct id { enum class Id { id = 3 }; };",
            "    Pdu(kind::Id, TINY::Kind::NamedNumber value);",
            "    TINY::Kind& select_kind(TINY::Kind::NamedNumber value);",
            "    ASN1::INTEGER& ref_id();",
        )
        self.assertLines(
            self.source,
            "Pdu::Pdu(ping::Id, ASN1::Null const& value) : Concrete(&theInfo, 0, value.clone()) {}",
            "Pdu::Pdu(data_in::Id, std::vector<char> const& value) : Concrete(&theInfo, 1, new ASN1::OCTET_STRING(value)) {}",
            "Pdu::Pdu(kind::Id, TINY::Kind::NamedNumber value) : Concrete(&theInfo, 2, new TINY::Kind(value)) {}",
            "Pdu::Pdu(id::Id, int value) : Concrete(&theInfo, 3, new ASN1::INTEGER(value)) {}",
            "        *setSelection(1, ASN1::AbstractData::create(theInfo.selectionInfos[1])));",
            "ASN1::OCTET_STRING& Pdu::select_data_in(std::vector<char> const& value) { return select_data_in() = value; }",
            "TINY::Kind& Pdu::select_kind(TINY::Kind::NamedNumber value) { return select_kind() = value; }",
            "ASN1::Null& Pdu::select_ping(ASN1::Null const& value) { return static_cast<ASN1::Null&>(*setSelection(0, value.clone())); }",
            "bool Pdu::data_in_isSelected() const { return currentSelection() == 1; }",
            "ASN1::INTEGER const& Pdu::get_id() const { return static_cast<ASN1::INTEGER const&>(*getSelection()); }",
            "ASN1::INTEGER& Pdu::ref_id() { return static_cast<ASN1::INTEGER&>(*getSelection()); }",
        )

    def test_choice_record(self):
        self.assertLines(
            self.source,
            "void const* const Pdu_selectionInfos[] = {&ASN1::Null::theInfo, &ASN1::OCTET_STRING::theInfo, "
            "&TINY::Kind::theInfo, &ASN1::INTEGER::theInfo};",
            'char const* const Pdu_selectionNames[] = {"ping", "data-in", "kind", "id"};',
            "Pdu::InfoType const Pdu::theInfo = {{&ASN1::createValue<Pdu>, 0}, true, Pdu_selectionInfos,",
            "    3, 4, nullptr, Pdu_selectionNames};",
        )

    def test_enumerated_class_and_record(self):
        self.assertLines(
            self.header,
            "    enum NamedNumber : int {",
            "        not_use = -1,",
            "        active = 16",
            "    Kind(NamedNumber value) : Concrete(&theInfo) { setFromInt(value); }",
            "    Kind& operator=(NamedNumber value) {",
            "    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }",
            "    bool is_standby() const;",
        )
        self.assertLines(
            self.source,
            "bool Kind::is_standby() const { return asInt() == standby; }",
            "void Kind::set_not_use() { setFromInt(not_use); }",
            'char const* const Kind_enum_names__[] = {"not-use=-1", "none", "standby=8", "active=16"};',
            "Kind::InfoType const Kind::theInfo = {{&ASN1::createValue<Kind>, 10}, true, 16, Kind_enum_names__, 4};",
        )

    def test_lists_and_aliases(self):
        negative = "ASN1::Constrained_INTEGER<ASN1::FixedConstraint, (-2147483647 - 1), 4294967295u>"
        self.assertLines(
            self.header,
            "class List_subtype : public ASN1::Concrete<List_subtype, ASN1::SEQUENCE> {",
            f"    {negative}& set_a(unsigned int value);",
            "using List = ASN1::SET_OF<TINY::List_subtype>;",
            "using OtherList = ASN1::SET_OF<TINY::List_subtype>;",
            "    ASN1::SET_OF<TINY::List_subtype>& set_other();",
        )
        self.assertLines(
            self.source,
            "ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 4294967295u>& Holder::set_big(unsigned int value) "
            "{ return ref_big() = value; }",
        )

    def test_concrete_bases_are_instantiated_once_in_the_source(self):
        bases = ["ASN1::Concrete<TINY::Kind, ASN1::ENUMERATED>", "ASN1::Concrete<TINY::Pdu, ASN1::CHOICE>",
                 "ASN1::Concrete<TINY::Message, ASN1::SEQUENCE>",
                 "ASN1::Concrete<TINY::Message::name::value_type, ASN1::IA5String>"]
        self.assertLines(self.header, *[f"extern template class {b};" for b in bases])
        self.assertLines(self.source, *[f"template class {b};" for b in bases])


class Names(unittest.TestCase):
    def test_enumeration_names_count_on_where_they_can(self):
        model, _ = model_of(TINY)
        self.assertEqual(enum_names(model.type("TINY::Kind")), ["not-use=-1", "none", "standby=8", "active=16"])
        model, _ = model_of("A DEFINITIONS AUTOMATIC TAGS ::= BEGIN E ::= ENUMERATED { a(0), b(1), c(1), d(2) } END")
        self.assertEqual(enum_names(model.type("A::E")), ["a", "b", "c=1", "d"])

    def test_keywords_and_hidden_members_are_refused(self):
        for body, what in [("C ::= CHOICE { delete NULL }", "alternative delete becomes the C++ keyword delete"),
                           ("E ::= ENUMERATED { asInt(0) }", "enumeration item asInt would hide the member asInt"),
                           ("C ::= CHOICE { theInfo NULL }", "would hide the member theInfo")]:
            with self.subTest(body):
                with self.assertRaises(Asn1Error) as caught:
                    emitted(f"A DEFINITIONS AUTOMATIC TAGS ::= BEGIN {body} END")
                self.assertIn(what, str(caught.exception))

    def test_unsupported_sizes_are_refused_with_their_line(self):
        for body in ["S ::= SEQUENCE { l SEQUENCE (SIZE (1..4)) OF INTEGER }",
                     "S ::= SEQUENCE { o OCTET STRING (SIZE (1..4)) }",
                     "S ::= SEQUENCE OF IA5String (SIZE (1..4))"]:
            with self.subTest(body):
                with self.assertRaises(Asn1Error) as caught:
                    emitted(f"A DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n{body}\nEND")
                self.assertIn("a.asn:2:", str(caught.exception))

    def test_other_modules_are_declared_and_included_for_their_enumerations(self):
        a = "A DEFINITIONS AUTOMATIC TAGS ::= BEGIN S ::= SEQUENCE { n NULL } E ::= ENUMERATED { x(0) } END"
        b = "B DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS S FROM A; T ::= SEQUENCE { s S } END"
        c = "C DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS S, E FROM A; U ::= SEQUENCE { s S, e E } END"
        model, diags = model_of(a, b, c)
        self.assertEqual(diags, [])
        emitter = Emitter(model)
        b_files = emitter.module_files(model.modules[1])
        self.assertIn("namespace A {\nclass S;\n}  // namespace A", b_files["b.h"])
        self.assertNotIn('#include "messages/a.h"', b_files["b.h"])
        self.assertIn('#include "messages/a.h"', b_files["b_1.cpp"])
        # set_e takes A::E::NamedNumber: the header needs the class.
        self.assertIn('#include "messages/a.h"', emitter.module_files(model.modules[2])["c.h"])

    def test_modules_that_include_each_other_are_refused(self):
        a = "A DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS Y FROM B; X ::= SEQUENCE { y Y } Z ::= NULL END"
        b = "B DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS Z FROM A; Y ::= SEQUENCE { z Z } END"
        model, diags = model_of(a, b)
        self.assertEqual(diags, [])
        emitter = Emitter(model)
        # B names only A's alias Z, which is NULL: no class of A, so no include of a.h.
        self.assertEqual([m.name for m in emitter.module_order()], ["B", "A"])
        b2 = "B DEFINITIONS AUTOMATIC TAGS ::= BEGIN IMPORTS W FROM A; Y ::= SEQUENCE { w W } END"
        a2 = a.replace("Z ::= NULL", "W ::= SEQUENCE { n NULL }").replace("Z FROM", "W FROM")
        model, diags = model_of(a2, b2)
        with self.assertRaises(Asn1Error) as caught:
            Emitter(model).module_order()
        self.assertIn("include each other", str(caught.exception))


class Parts(unittest.TestCase):
    def test_records_are_shared_out_and_each_is_written_once(self):
        files = emitted(TINY, parts=3)
        self.assertEqual(sorted(files), ["tiny.h", "tiny_1.cpp", "tiny_2.cpp", "tiny_3.cpp"])
        sources = [files[f"tiny_{k}.cpp"] for k in (1, 2, 3)]
        for name in ["Kind", "Pdu", "Message", "List_subtype", "Holder", "Message::name::value_type"]:
            definition = f"{name}::InfoType const {name}::theInfo"
            self.assertEqual(sum(s.count(definition) for s in sources), 1, name)
        self.assertTrue(all("::theInfo = " in s for s in sources), "no part is left empty")

    def test_output_is_the_same_on_every_run(self):
        # Sets of nodes order by address: the emitted order must not depend on them.
        runs = set()
        for seed in ("1", "2", "3"):
            env = dict(os.environ, PYTHONHASHSEED=seed, PYTHONDONTWRITEBYTECODE="1")
            code = ("import sys; sys.path.insert(0, sys.argv[1]); import test_emit_cpp as t; "
                    "print(''.join(t.emitted(t.TINY, 2).values()))")
            r = subprocess.run([sys.executable, "-c", code, HERE], capture_output=True, text=True, env=env,
                               cwd=HERE)
            self.assertEqual(r.returncode, 0, r.stderr)
            runs.add(r.stdout)
        self.assertEqual(len(runs), 1)


@unittest.skipUnless(shutil.which("c++"), "no C++ compiler")
class Compiles(unittest.TestCase):
    """The emitted text of a module with every construct compiles cleanly against the
    run-time, and the accessors behave."""

    def test_compile_and_run(self):
        module = TINY.replace("IMPORTS Far FROM OTHER;", "").replace(
            "Lost ::= SEQUENCE { far Far }", "").replace("UsesLost ::= CHOICE { lost Lost, fine NULL }", "")
        files = emitted(module, parts=2)
        main = r"""
#include "messages/tiny.h"
#include <cstdio>
int main() {
    TINY::Message m;
    int failures = 0;
    auto expect = [&](bool ok, char const* what) { if (!ok) { std::printf("failed: %s\n", what); ++failures; } };
    expect(!m.seq_isPresent() && !m.late_isPresent(), "fresh message has nothing optional");
    expect(m.get_pdu().currentSelection() == -1, "fresh choice selects nothing");
    m.set_late(true);
    expect(m.late_isPresent() && m.get_late(), "extension addition set");
    m.set_name("abc");
    expect(m.get_name() == "abc" && m.get_name().getUpperLimit() == 8, "nested string");
    m.set_pdu().select_kind(TINY::Kind::standby);
    expect(m.get_pdu().get_kind().is_standby(), "enumeration in a choice");
    TINY::Pdu id(TINY::Pdu::id::Id::id, 7);
    expect(id.id_isSelected() && id.get_id().getValue() == 7, "alternative named id");
    TINY::Holder h;
    h.set_big(4294967295u);
    h.set_other().push_back(TINY::List_subtype());
    std::unique_ptr<TINY::Holder> copy(h.clone());
    expect(*copy == h && copy->get_other().size() == 1 && copy->get_other().getTag() == 17, "set of, clone");
    return failures;
}
"""
        with tempfile.TemporaryDirectory() as tmp:
            os.makedirs(os.path.join(tmp, "messages"))
            for name, text in files.items():
                with open(os.path.join(tmp, "messages", name), "w") as f:
                    f.write(text)
            with open(os.path.join(tmp, "main.cpp"), "w") as f:
                f.write(main)
            sources = [os.path.join(tmp, "main.cpp")] + [os.path.join(tmp, "messages", n)
                                                        for n in files if n.endswith(".cpp")]
            # The run-time library the build made, with the flags it was compiled with (the
            # tests' build says where); else its sources, compiled here.
            library = os.environ.get("GW_ASN1_LIBRARY")
            build_flags = os.environ.get("GW_ASN1_FLAGS", "").split() if library else []
            runtime = [] if library else [
                os.path.join(ROOT, "asn1", n) for n in os.listdir(os.path.join(ROOT, "asn1"))
                if n.endswith(".cpp") and not n.endswith("_test.cpp")]
            exe = os.path.join(tmp, "tiny")
            flags = [*build_flags, "-std=c++17", "-Wall", "-Wextra", "-Werror", "-O0", "-I", ROOT, "-I", tmp]
            objects = [os.path.join(tmp, f"{k}.o") for k in range(len(sources) + len(runtime))]
            # One compiler a source, side by side; then the link.
            with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
                runs = list(pool.map(lambda so: subprocess.run(["c++", *flags, "-c", so[0], "-o", so[1]],
                                                               capture_output=True, text=True),
                                     zip(sources + runtime, objects)))
            for r in runs:
                self.assertEqual(r.returncode, 0, r.stderr[-4000:])
            r = subprocess.run(["c++", *build_flags, "-o", exe, *objects, *([library] if library else [])],
                               capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stderr[-4000:])
            r = subprocess.run([exe], capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stdout), (0, ""))


if __name__ == "__main__":
    unittest.main()
