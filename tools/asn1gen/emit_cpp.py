"""C++ emitter: the classes, constant records and accessors of the checked modules.

Each module becomes one header (`<stem>.h`, the classes in namespace `<MODULE>`) and one or
more source files (`<stem>_<i>.cpp`, the records, the member functions and the run-time's
`ASN1::Concrete` base of each class, compiled once), where `<stem>` is the name of the module's
source file. The header declares the members and defines only the constructors and copy
operations, so that a file that includes it parses declarations, not bodies. The shape of a
class:

- SEQUENCE, CHOICE and ENUMERATED types become classes deriving through
  `ASN1::Concrete<T, ASN1::SEQUENCE | CHOICE | ENUMERATED>`, with no data of their own and
  their constant record `theInfo`, whose create hook is `ASN1::createValue<T>` (a value the
  run-time makes from the record really is a T).
- Built-in types use the run-time's classes and records; a ranged INTEGER is the shared
  `ASN1::Constrained_INTEGER<ASN1::FixedConstraint, lower, upper>`, a list
  `ASN1::SEQUENCE_OF<T>` or `ASN1::SET_OF<T>`. A field (or alternative) whose type is an
  IA5String with a size of its own gets the nested class `<Type>::<field>::value_type`.
- An assignment that names no constructed type of its own (`A ::= SEQUENCE OF B`,
  `A ::= B`) becomes a `using` declaration.
- SEQUENCE fields: get_f, set_f(), set_f(v), ref_f (mandatory fields), f_isPresent and
  omit_f (optional fields and extension additions). CHOICE alternatives: the scope
  `T::a` with `enum Id { id = n }`, the typed constructor `T(a::Id, v)`, select_a(),
  select_a(v), get_a, ref_a, a_isSelected. ENUMERATED: `enum NamedNumber : int`, is_n,
  set_n, conversions.

Classes are emitted in an order where every class follows the classes it contains. A
module's header declares the classes of other modules that it names, and includes the header
of another module only when it takes one of that module's enumerations by value; its source
files include the headers of every module they name. Each header declares the
`ASN1::Concrete` base of its classes `extern template`, instantiated once in the source file
of the class, so that no other file instantiates (or analyses) their virtual members.
"""

import functools
import os

from .model import (INT32_MIN, Asn1Error, Builtin, Choice, Constructed, Enumerated,
                    Reference, Sequence, SequenceOf, cpp_name, resolve)

CPP_KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char16_t
char32_t class compl const constexpr const_cast continue decltype default delete do double
dynamic_cast else enum explicit export extern false float for friend goto if inline int long
mutable namespace new noexcept not not_eq nullptr operator or or_eq private protected public
register reinterpret_cast return short signed sizeof static static_assert static_cast struct
switch template this thread_local throw true try typedef typeid typename union unsigned using
virtual void volatile wchar_t while xor xor_eq
""".split())

# Names the bodies of the generated classes use unqualified: an enumeration item or an
# alternative scope of the same name would hide them.
RESERVED_MEMBERS = {
    "Concrete", "InfoType", "theInfo", "NamedNumber", "Id", "value_type", "asInt", "setFromInt",
    "getField", "includeOptionalField", "hasOptionalField", "removeOptionalField",
    "setSelection", "getSelection", "currentSelection", "assign",
}

BUILTIN_CLASS = {
    "INTEGER": "ASN1::INTEGER",
    "BOOLEAN": "ASN1::BOOLEAN",
    "NULL": "ASN1::Null",
    "OCTET STRING": "ASN1::OCTET_STRING",
    "IA5String": "ASN1::IA5String",
    "OBJECT IDENTIFIER": "ASN1::OBJECT_IDENTIFIER",
}

# Argument of set_f(v) and select_a(v) for a built-in kind given by value.
BUILTIN_ARG = {
    "INTEGER": "int",
    "BOOLEAN": "bool",
    "OCTET STRING": "std::vector<char> const&",
    "IA5String": "std::string const&",
}

TAGS = {"SEQUENCE": 16, "CHOICE": 0, "ENUMERATED": 10}


class CppType:
    """How the code names a type: its class, its record, the argument its setters take.

    `by_value`: the argument is a plain value that the class is constructed from
    (`new cls(v)`); otherwise it is a const reference to the class, copied with clone().
    `nested`: (scope, Builtin) when the type is an inline sized string that gets the
    nested class `value_type` in the scope of its field or alternative.
    """

    def __init__(self, cls, arg=None, by_value=False, nested=None, uses=()):
        self.cls = cls
        self.arg = arg if arg is not None else f"{cls} const&"
        self.by_value = by_value
        self.nested = nested
        self.uses = list(uses)  # the Constructed types the class expression names, in order

    @property
    def record(self):
        return f"&{self.cls}::theInfo"


def int_literal(value):
    if value == INT32_MIN:
        return "(-2147483647 - 1)"
    return str(value)


def unsigned_literal(value):
    """An upper bound as the records hold it: an unsigned word (a negative bound of a range
    with a negative lower bound is read back as signed)."""
    value &= 0xFFFFFFFF
    return f"{value}u" if value > 2 ** 31 - 1 else str(value)


class Emitter:
    """Emits the C++ of every module of a checked model, leaving out the types in `skip`
    (ids of Constructed types and of Assignments)."""

    def __init__(self, model, skip=frozenset(), include_prefix="messages/"):
        self.model = model
        self.skip = skip
        self.include_prefix = include_prefix

    # Naming

    @staticmethod
    def stem(module):
        return os.path.splitext(os.path.basename(module.loc.file))[0]

    @staticmethod
    def qualified(t):
        return f"{t.module.name}::{t.name}"

    def cpp_type(self, t, scope=None):
        """The C++ naming of type `t` written at a field or alternative whose scope (the
        qualified name of `<Class>::<field>`) is `scope`."""
        if isinstance(t, Reference):
            target = resolve(t)
            if isinstance(target, Reference):
                raise Asn1Error(t.loc, f"type {t.name} is not resolved")
            if isinstance(target, Builtin) and target.size is not None:
                raise Asn1Error(t.loc, f"{t.name}: a sized string type needs a field of its own")
            return self.cpp_type(target, scope)
        if isinstance(t, Constructed):
            return CppType(self.qualified(t), uses=[t])
        if isinstance(t, SequenceOf):
            if t.size is not None:
                raise Asn1Error(t.loc, "a SEQUENCE OF or SET OF with a size is not supported")
            element = self.cpp_type(t.element)
            if element.nested is not None:
                raise Asn1Error(t.element.loc, "a list of sized strings is not supported")
            template = "SET_OF" if t.is_set else "SEQUENCE_OF"
            return CppType(f"ASN1::{template}<{element.cls}>", uses=element.uses)
        assert isinstance(t, Builtin), t
        if t.kind == "INTEGER" and t.range is not None:
            cls = (f"ASN1::Constrained_INTEGER<ASN1::FixedConstraint, {int_literal(t.range.lower)}, "
                   f"{unsigned_literal(t.range.upper)}>")
            return CppType(cls, "unsigned int", by_value=True)
        if t.size is not None:
            if t.kind != "IA5String" or scope is None:
                raise Asn1Error(t.loc, f"a sized {t.kind} is supported only as an IA5String field")
            return CppType(f"{scope}::value_type", "std::string const&", by_value=True, nested=(scope, t))
        cls = BUILTIN_CLASS[t.kind]
        if t.kind in BUILTIN_ARG:
            return CppType(cls, BUILTIN_ARG[t.kind], by_value=True)
        return CppType(cls)

    def arg_of(self, t, ct):
        """The setter argument: enumerations take their NamedNumber."""
        r = resolve(t)
        if isinstance(r, Enumerated):
            return f"{ct.cls}::NamedNumber", True
        return ct.arg, ct.by_value

    # Order and dependencies

    def units(self, module):
        """The module's emitted units in dependency order: ("class", Constructed) and
        ("alias", Assignment)."""
        items = []
        for a in module.assignments:
            if id(a) in self.skip:
                continue
            for t in [a.type] + a.inline:
                if isinstance(t, Constructed) and id(t) not in self.skip:
                    items.append(("class", t))
            if not isinstance(a.type, Constructed):
                items.append(("alias", a))
        deps = {}
        for kind, node in items:
            deps[id(node)] = [u for u in self.uses_of(kind, node) if u.module is module]
        order, done, active = [], set(), set()
        by_id = {id(node): (kind, node) for kind, node in items}

        def visit(kind, node):
            if id(node) in done:
                return
            if id(node) in active:
                raise Asn1Error(node.loc, f"type {node.name} contains itself: the emitter cannot order it")
            active.add(id(node))
            for d in deps[id(node)]:
                if id(d) in by_id:
                    visit(*by_id[id(d)])
            active.discard(id(node))
            done.add(id(node))
            order.append((kind, node))

        for kind, node in items:
            visit(kind, node)
        return order

    def uses_of(self, kind, node):
        """The Constructed types a unit names, in the order of its members."""
        if kind == "alias":
            return self.cpp_type(node.type).uses
        used = []
        for _, scope, t in self.members(node):
            used += [u for u in self.cpp_type(t, scope).uses if u not in used]
        return used

    def members(self, t):
        """(ASN.1 name, scope, type) of each field or alternative, in record order."""
        q = self.qualified(t)
        items = t.fields if isinstance(t, Sequence) else t.alternatives if isinstance(t, Choice) else []
        return [(m.name, f"{q}::{cpp_name(m.name)}", m.type) for m in items]

    def named_classes(self, module):
        """The classes of other modules that the module's classes and aliases name."""
        named = []
        for kind, node in self.units(module):
            named += [u for u in self.uses_of(kind, node) if u.module is not module and u not in named]
        return named

    def value_modules(self, module):
        """The other modules whose enumerations the module's setters and constructors take by
        value (their NamedNumber): their headers must be included, not just declared."""
        names = set()
        for kind, node in self.units(module):
            if kind != "class":
                continue
            for _, scope, t in self.members(node):
                r = resolve(t)
                if isinstance(r, Enumerated) and r.module is not module:
                    names.add(r.module.name)
        return sorted((m for m in self.model.modules if m.name in names), key=self.stem)

    def included_modules(self, module):
        names = set()
        for kind, node in self.units(module):
            for u in self.uses_of(kind, node):
                if u.module is not module:
                    names.add(u.module.name)
        return sorted((m for m in self.model.modules if m.name in names), key=self.stem)

    def module_order(self):
        """The modules with every module after those whose headers it includes."""
        order, done, active = [], set(), set()

        def visit(m):
            if m.name in done:
                return
            if m.name in active:
                raise Asn1Error(m.loc, f"module {m.name} and the modules it names include each other")
            active.add(m.name)
            for d in self.included_modules(m):
                visit(d)
            active.discard(m.name)
            done.add(m.name)
            order.append(m)

        for m in self.model.modules:
            visit(m)
        return order

    # Checks of the identifiers the classes declare

    def check_identifier(self, name, loc, what):
        ident = cpp_name(name)
        if ident in CPP_KEYWORDS:
            raise Asn1Error(loc, f"{what} {name} becomes the C++ keyword {ident}")
        if ident in RESERVED_MEMBERS:
            raise Asn1Error(loc, f"{what} {name} would hide the member {ident} of the generated class")

    # Header

    def header(self, module):
        out = [
            "#pragma once",
            "",
            f"// Classes of the ASN.1 module {module.name}, generated from {os.path.basename(module.loc.file)}"
            " by tools/asn1gen.py: do not edit.",
            "",
            "#include <string>",
            "#include <vector>",
            "",
            '#include "asn1/asn1.h"',
        ]
        for m in self.value_modules(module):
            out.append(f'#include "{self.include_prefix}{self.stem(m)}.h"')
        out += self.forward_declarations(module)
        out += ["", f"namespace {module.name} {{", ""]
        instances = []
        for kind, node in self.units(module):
            if kind == "alias":
                out.append(f"// {node.name} ::= {node.type.describe()}")
                out.append(f"using {node.name} = {self.cpp_type(node.type).cls};")
                out.append("")
            else:
                out += self.class_of(node)[0]
                instances += self.concrete_bases(node)
        out.append(f"}}  // namespace {module.name}")
        if instances:
            out += ["", "// Instantiated once, in the source file of each class."]
            out += [f"extern template class {b};" for b in instances]
        return "\n".join(out) + "\n"

    def forward_declarations(self, module):
        """Declarations of the classes of other modules that the header names."""
        by_module = {}
        for t in self.named_classes(module):
            by_module.setdefault(t.module.name, set()).add(t.name)
        out = []
        for name in sorted(by_module):
            out += ["", f"namespace {name} {{"]
            out += [f"class {n};" for n in sorted(by_module[name])]
            out.append(f"}}  // namespace {name}")
        return out

    def class_of(self, t):
        """(the class definition for the header, the member definitions for a source file)."""
        if isinstance(t, Sequence):
            return self.sequence_class(t)
        if isinstance(t, Choice):
            return self.choice_class(t)
        return self.enumerated_class(t)

    def concrete_bases(self, t):
        """The `ASN1::Concrete` bases of the class and of its nested string classes."""
        q = self.qualified(t)
        out = [f"ASN1::Concrete<{q}, ASN1::{t.kind}>"]
        for _, scope, member in self.members(t):
            ct = self.cpp_type(member, scope)
            if ct.nested is not None:
                out.append(f"ASN1::Concrete<{ct.cls}, ASN1::IA5String>")
        return out

    @staticmethod
    def summary(t):
        parts = [t.kind]
        if t.extensible:
            parts.append("extensible")
        return f"// {t.name}: " + ", ".join(parts)

    def class_head(self, t, base):
        n = t.name
        return [
            self.summary(t),
            f"class {n} : public ASN1::Concrete<{n}, ASN1::{base}> {{",
            "public:",
        ]

    @staticmethod
    def constructors(n, typed=()):
        """The record's declaration, the default constructor, the `typed` constructors, the
        copy operations and the destructor (defined beside the record)."""
        return [
            "    static InfoType const theInfo;",
            "",
            f"    {n}() : Concrete(&theInfo) {{}}",
            *typed,
            f"    {n}({n} const&) = default;",
            f"    {n}& operator=({n} const&) = default;",
            f"    ~{n}() override;",
        ]

    def nested_string(self, scope_name, size, indent, extra=None):
        """The scope of a field or alternative holding the nested class value_type."""
        i = indent
        out = [f"{i}struct {scope_name} {{"]
        if extra:
            out.append(f"{i}    {extra}")
        out += [
            f"{i}    // IA5String (SIZE ({size.lower}..{size.upper}))",
            f"{i}    class value_type : public ASN1::Concrete<value_type, ASN1::IA5String> {{",
            f"{i}    public:",
            f"{i}        static InfoType const theInfo;",
            "",
            f"{i}        value_type() : Concrete(std::string(), &theInfo) {{}}",
            f"{i}        explicit value_type(std::string const& text) : Concrete(text, &theInfo) {{}}",
            f"{i}        value_type(value_type const&) = default;",
            f"{i}        value_type& operator=(value_type const&) = default;",
            f"{i}        value_type& operator=(std::string const& text) {{",
            f"{i}            assign(text);",
            f"{i}            return *this;",
            f"{i}        }}",
            f"{i}        ~value_type() override;",
            f"{i}    }};",
            f"{i}}};",
        ]
        return out

    @staticmethod
    def member(decls, defs, cls, ret, signature, body):
        """A member function: its declaration in the class, its definition in the source.
        `body` is one statement (one line) or a list of lines."""
        decls.append(f"    {ret} {signature};")
        if isinstance(body, str):
            defs.append(f"{ret} {cls}::{signature} {{ {body} }}")
        else:
            defs += [f"{ret} {cls}::{signature} {{", *[f"    {line}" for line in body], "}"]

    def sequence_class(self, t):
        n = t.name
        defs = []
        out = self.class_head(t, "SEQUENCE")
        m = functools.partial(self.member, out, defs, n)
        fields = []
        for index, f in enumerate(t.fields):
            scope = f"{self.qualified(t)}::{cpp_name(f.name)}"
            ct = self.cpp_type(f.type, scope)
            fields.append((index, f, ct))
            if ct.nested is not None:
                self.check_identifier(f.name, f.loc, "field")
                out += self.nested_string(cpp_name(f.name), ct.nested[1].size, "    ")
        out += self.constructors(n)
        optional_count = t.optional_count
        for index, f, ct in fields:
            c = ct.cls
            name = cpp_name(f.name)
            arg, _ = self.arg_of(f.type, ct)
            out.append("")
            m(f"{c} const&", f"get_{name}() const", f"return static_cast<{c} const&>(*getField({index}));")
            if f.addition or f.optional:
                presence = f.presence_bit if not f.addition else optional_count + (index - len(t.root))
                m(f"{c}&", f"set_{name}()", [f"includeOptionalField({presence}, {index});",
                                             f"return static_cast<{c}&>(*getField({index}));"])
                m(f"{c}&", f"set_{name}({arg} value)", f"return set_{name}() = value;")
                m("bool", f"{name}_isPresent() const", f"return hasOptionalField({presence});")
                m("void", f"omit_{name}()", f"removeOptionalField({presence});")
            else:
                m(f"{c}&", f"set_{name}()", f"return ref_{name}();")
                m(f"{c}&", f"set_{name}({arg} value)", f"return ref_{name}() = value;")
                m(f"{c}&", f"ref_{name}()", f"return static_cast<{c}&>(*getField({index}));")
        out += ["};", ""]
        return out, defs

    def choice_class(self, t):
        n = t.name
        defs = []
        out = self.class_head(t, "CHOICE")
        m = functools.partial(self.member, out, defs, n)
        alternatives = []
        for a in t.alternatives:
            self.check_identifier(a.name, a.loc, "alternative")
            name = cpp_name(a.name)
            scope = f"{self.qualified(t)}::{name}"
            ct = self.cpp_type(a.type, scope)
            alternatives.append((a, name, ct))
            # An enumerator may not bear the name of its class: the scope of an alternative
            # named "id" holds a scoped enumeration.
            enum = f"enum class Id {{ id = {a.index} }};" if name == "id" else f"enum Id {{ id = {a.index} }};"
            if ct.nested is not None:
                out += self.nested_string(name, ct.nested[1].size, "    ", enum)
            else:
                out.append(f"    struct {name} {{ {enum} }};")
        typed = []
        for a, name, ct in alternatives:
            arg, by_value = self.arg_of(a.type, ct)
            made = f"new {ct.cls}(value)" if by_value else "value.clone()"
            typed.append(f"    {n}({name}::Id, {arg} value);")
            defs.append(f"{n}::{n}({name}::Id, {arg} value) : Concrete(&theInfo, {a.index}, {made}) {{}}")
        out += self.constructors(n, typed)
        for a, name, ct in alternatives:
            c = ct.cls
            i = a.index
            arg, by_value = self.arg_of(a.type, ct)
            out.append("")
            m(f"{c}&", f"select_{name}()", [f"return static_cast<{c}&>(",
                                            f"    *setSelection({i}, ASN1::AbstractData::create(theInfo.selectionInfos[{i}])));"])
            if by_value:
                m(f"{c}&", f"select_{name}({arg} value)", f"return select_{name}() = value;")
            else:
                m(f"{c}&", f"select_{name}({arg} value)", f"return static_cast<{c}&>(*setSelection({i}, value.clone()));")
            m(f"{c} const&", f"get_{name}() const", f"return static_cast<{c} const&>(*getSelection());")
            m(f"{c}&", f"ref_{name}()", f"return static_cast<{c}&>(*getSelection());")
            m("bool", f"{name}_isSelected() const", f"return currentSelection() == {i};")
        out += ["};", ""]
        return out, defs

    def enumerated_class(self, t):
        n = t.name
        defs = []
        out = self.class_head(t, "ENUMERATED")
        items = []
        for item in t.items:
            self.check_identifier(item.name, item.loc, "enumeration item")
            items.append((cpp_name(item.name), item.value))
        out.append("    enum NamedNumber : int {")
        for k, (name, value) in enumerate(items):
            comma = "," if k + 1 < len(items) else ""
            out.append(f"        {name} = {int_literal(value)}{comma}")
        out.append("    };")
        out += self.constructors(n, [f"    {n}(NamedNumber value) : Concrete(&theInfo) {{ setFromInt(value); }}"])
        out += [
            f"    {n}& operator=(NamedNumber value) {{",
            "        setFromInt(value);",
            "        return *this;",
            "    }",
            "    operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }",
            "",
        ]
        for name, _ in items:
            self.member(out, defs, n, "bool", f"is_{name}() const", f"return asInt() == {name};")
            self.member(out, defs, n, "void", f"set_{name}()", f"setFromInt({name});")
        out += ["};", ""]
        return out, defs

    # Records

    def records(self, module, units):
        """The source text of the records, destructors and member functions of `units`, and
        the instances of their `ASN1::Concrete` bases."""
        arrays, definitions, instances = [], [], []
        for kind, node in units:
            if kind != "class":
                continue
            if isinstance(node, Sequence):
                self.sequence_records(node, arrays, definitions)
            elif isinstance(node, Choice):
                self.choice_records(node, arrays, definitions)
            else:
                self.enumerated_records(node, arrays, definitions)
            members = self.class_of(node)[1]
            if members:
                definitions += members + [""]
            instances += self.concrete_bases(node)
        out = [
            f"// Records and members of the ASN.1 module {module.name}, generated from "
            f"{os.path.basename(module.loc.file)} by tools/asn1gen.py: do not edit.",
            "",
            f'#include "{self.include_prefix}{self.stem(module)}.h"',
        ]
        for m in self.included_modules(module):
            out.append(f'#include "{self.include_prefix}{self.stem(m)}.h"')
        out += ["", f"namespace {module.name} {{"]
        if arrays:
            out += ["", "namespace {", ""] + arrays + ["}  // namespace"]
        if definitions:
            out += [""] + definitions
        out += ["", f"}}  // namespace {module.name}"]
        if instances:
            out += [""] + [f"template class {b};" for b in instances]
        return "\n".join(out) + "\n"

    @staticmethod
    def string_list(name, strings):
        body = ", ".join(f'"{s}"' for s in strings)
        return f"char const* const {name}[] = {{{body}}};"

    def nested_records(self, owner, ct, definitions):
        if ct.nested is None:
            return
        scope, builtin = ct.nested
        local = scope[len(owner.module.name) + 2:] + "::value_type"
        size = builtin.size
        definitions += [
            f"{local}::InfoType const {local}::theInfo = {{",
            f"    {{{{&ASN1::createValue<{local}>, 22}}, ASN1::FixedConstraint, {int_literal(size.lower)}, "
            f"{unsigned_literal(size.upper)}}}, ASN1::IA5StringSet, 128, 7, 7, 8}};",
            f"{local}::~value_type() = default;",
            "",
        ]

    def member_records(self, t, definitions):
        """The record addresses and the ASN.1 names of the fields or alternatives of `t`;
        the records of their nested classes go to `definitions`."""
        infos, names = [], []
        for name, scope, member in self.members(t):
            ct = self.cpp_type(member, scope)
            infos.append(ct.record)
            names.append(name)
            self.nested_records(t, ct, definitions)
        return infos, names

    @staticmethod
    def record_definition(t, head, tail=None):
        """The definition of the record of `t` (create hook, tag, extensible flag, then the
        kind's own words: `head`, and `tail` on a second line) and of its destructor."""
        n = t.name
        ext = "true" if t.extensible else "false"
        first = f"{n}::InfoType const {n}::theInfo = {{{{&ASN1::createValue<{n}>, {TAGS[t.kind]}}}, {ext}, {head}"
        lines = [first + "};"] if tail is None else [first, f"    {tail}}};"]
        return lines + [f"{n}::~{n}() = default;", ""]

    def sequence_records(self, t, arrays, definitions):
        n = t.name
        infos, names = self.member_records(t, definitions)
        ids = [str(f.presence_bit) if f.optional else "-1" for f in t.root]
        arrays += [
            f"void const* const {n}_fieldInfos[] = {{{', '.join(infos)}}};",
            f"int const {n}_fieldIds[] = {{{', '.join(ids)}}};",
            self.string_list(f"{n}_fieldNames", names),
            "",
        ]
        definitions += self.record_definition(
            t, f"{n}_fieldInfos, {n}_fieldIds,",
            f"{len(t.root)}, {len(t.additions)}, {t.optional_count}, nullptr, nullptr, {n}_fieldNames")

    def choice_records(self, t, arrays, definitions):
        n = t.name
        infos, names = self.member_records(t, definitions)
        arrays += [
            f"void const* const {n}_selectionInfos[] = {{{', '.join(infos)}}};",
            self.string_list(f"{n}_selectionNames", names),
            "",
        ]
        definitions += self.record_definition(
            t, f"{n}_selectionInfos,", f"{len(t.root)}, {len(t.alternatives)}, nullptr, {n}_selectionNames")

    def enumerated_records(self, t, arrays, definitions):
        n = t.name
        arrays += [self.string_list(f"{n}_enum_names__", enum_names(t)), ""]
        definitions += self.record_definition(t, f"{int_literal(t.maximum)}, {n}_enum_names__, {len(t.items)}")

    # Files

    def module_files(self, module, parts=1):
        """{file name: text} of one module: the header and `parts` source files (the
        classes shared out in emission order, each part about as large as the others)."""
        stem = self.stem(module)
        files = {f"{stem}.h": self.header(module)}
        units = [u for u in self.units(module) if u[0] == "class"]
        weights = [1 + len(self.members(node)) for _, node in units]
        total = sum(weights)
        chunks, start, acc = [], 0, 0
        for k in range(parts):
            goal = total * (k + 1) / parts
            end = start
            while end < len(units) and (acc + weights[end] <= goal or k == parts - 1 or end == start):
                acc += weights[end]
                end += 1
            chunks.append(units[start:end])
            start = end
        for k, chunk in enumerate(chunks, 1):
            files[f"{stem}_{k}.cpp"] = self.records(module, chunk)
        return files


def enum_names(t):
    """The name table of an enumeration: a bare name where the run-time's counting rule
    (previous value plus one, the first 0) gives its value, else "name=value"."""
    out, previous = [], -1
    for item in t.items:
        out.append(item.name if item.value == previous + 1 else f"{item.name}={item.value}")
        previous = item.value
    return out


def missing_types(model):
    """The assignments and constructed types that need a type no module defines, each
    mapped to the name of one missing type it needs (through any chain of references)."""
    result, state = {}, {}

    def needs(t):
        """A missing name that `t` needs, or None."""
        if isinstance(t, Reference):
            if t.target is None:
                return t.name
            return assignment_needs(t.target)
        if isinstance(t, SequenceOf):
            return needs(t.element)
        if isinstance(t, Constructed):
            if id(t) in state:
                return result.get(id(t))
            state[id(t)] = "active"
            members = []
            if isinstance(t, Sequence):
                members = [f.type for f in t.fields]
            elif isinstance(t, Choice):
                members = [a.type for a in t.alternatives]
            found = None
            for m in members:
                found = needs(m)
                if found:
                    break
            if found:
                result[id(t)] = found
            state[id(t)] = "done"
            return found
        return None

    def assignment_needs(a):
        if id(a) in state:
            return result.get(id(a))
        state[id(a)] = "active"
        found = needs(a.type)
        if found:
            result[id(a)] = found
        state[id(a)] = "done"
        return found

    for m in model.modules:
        for a in m.assignments:
            assignment_needs(a)
            for t in a.inline:
                needs(t)
    return result


def write_if_changed(path, text):
    """Writes the file unless it already holds the text, so that the build recompiles
    only what changed. Returns True when the file was written."""
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return False
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)
    return True
