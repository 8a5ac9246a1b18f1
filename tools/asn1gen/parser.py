"""Recursive-descent parser of the ASN.1 subset that the message modules use.

    Module      ::= modulereference DEFINITIONS AUTOMATIC TAGS "::=" BEGIN
                    [IMPORTS { Name {"," Name} FROM modulereference } ";"]
                    { typereference "::=" Type } END
    Type        ::= typereference | NULL | BOOLEAN | OBJECT IDENTIFIER
                  | INTEGER ["(" Number ".." Number ")"]
                  | (OCTET STRING | IA5String) ["(" SIZE "(" Number ".." Number ")" ")"]
                  | (SEQUENCE | SET) ["(" SIZE "(" Number ".." Number ")" ")"] OF Type
                  | SEQUENCE "{" Elements "}" | CHOICE "{" Elements "}"
                  | ENUMERATED "{" Item {"," Item} ["," "..."] "}"
    Elements    ::= Element {"," Element}, with at most one extension marker "..."
                    (additions follow it; a second "..." may close them)
    Element     ::= identifier Type [OPTIONAL]          (OPTIONAL only in a SEQUENCE)
    Item        ::= identifier ["(" Number ")"]

An enumeration item without a number takes the previous item's value plus one, the first
item 0: the rule of the run-time's name tables. Anything outside the subset (tags,
DEFAULT, value assignments, other constraints) is refused with its line.
"""

from .lexer import tokenize
from .model import (Alternative, Asn1Error, Assignment, Builtin, Choice, Component,
                    EnumItem, Enumerated, Import, Module, Range, Reference, Sequence,
                    SequenceOf, cpp_name)


# Built-in types outside the subset; refused by name rather than taken for references.
UNSUPPORTED = {"BIT", "REAL", "UTF8String", "PrintableString", "VisibleString", "NumericString",
               "GeneralString", "BMPString", "GeneralizedTime", "UTCTime", "ANY", "EXTERNAL"}


class Parser:
    def __init__(self, text, file):
        self.tokens = tokenize(text, file)
        self.pos = 0
        self.module = None

    # Token helpers

    @property
    def tok(self):
        return self.tokens[self.pos]

    def error(self, message, tok=None):
        tok = tok or self.tok
        return Asn1Error(tok.loc, message)

    def found(self):
        t = self.tok
        return "end of file" if t.kind == "eof" else f"'{t.text}'"

    def at(self, text, kind=None):
        t = self.tok
        return t.text == text and t.kind != "eof" and (kind is None or t.kind == kind)

    def accept(self, text):
        if self.at(text) and self.tok.kind in ("keyword", "punct"):
            self.pos += 1
            return True
        return False

    def expect(self, text, what=None):
        if not self.accept(text):
            raise self.error(f"expected {what or repr(text)}, found {self.found()}")
        return self.tokens[self.pos - 1]

    def expect_kind(self, kind, what):
        t = self.tok
        if t.kind != kind:
            raise self.error(f"expected {what}, found {self.found()}")
        self.pos += 1
        return t

    def number(self):
        t = self.tok
        if t.kind != "number":
            if t.text in ("MIN", "MAX"):
                raise self.error(f"{t.text} is not supported in a range: write the number")
            raise self.error(f"expected a number, found {self.found()}")
        self.pos += 1
        return int(t.text)

    # Module

    def parse_module(self):
        name = self.expect_kind("typeref", "a module name")
        module = Module(name.text, name.loc)
        self.module = module
        self.expect("DEFINITIONS")
        if self.at("EXPLICIT") or self.at("IMPLICIT"):
            raise self.error("only AUTOMATIC TAGS is supported")
        self.expect("AUTOMATIC", "AUTOMATIC TAGS")
        self.expect("TAGS")
        self.expect("::=")
        self.expect("BEGIN")
        if self.at("EXPORTS"):
            raise self.error("EXPORTS is not supported: every type is exported")
        if self.accept("IMPORTS"):
            self.parse_imports(module)
        while not self.at("END"):
            self.parse_assignment(module)
        self.expect("END")
        if self.tok.kind != "eof":
            raise self.error(f"text after END: {self.found()}")
        return module

    def parse_imports(self, module):
        while not self.accept(";"):
            names = []
            while True:
                t = self.tok
                if t.kind != "typeref":
                    raise self.error(f"expected the name of an imported type, found {self.found()}")
                self.pos += 1
                names.append(t)
                if not self.accept(","):
                    break
            self.expect("FROM")
            source = self.expect_kind("typeref", "a module name")
            for t in names:
                module.imports.append(Import(t.text, source.text, t.loc))

    def parse_assignment(self, module):
        t = self.tok
        if t.kind == "identifier":
            raise self.error(f"value assignments are not supported ('{t.text}')")
        name = self.expect_kind("typeref", "a type assignment or END")
        self.expect("::=")
        a = Assignment(name.text, None, name.loc, module)
        first = len(module.constructed)
        a.type = self.parse_type(name.text)
        a.inline = [t for t in module.constructed[first:] if t is not a.type]
        module.assignments.append(a)

    # Types

    def parse_type(self, class_name):
        """Parses a type. `class_name` is the name a constructed type takes here."""
        t = self.tok
        if t.kind == "typeref":
            if t.text in UNSUPPORTED:
                raise self.error(f"{t.text} is not supported")
            self.pos += 1
            return Reference(t.text, t.loc)
        if t.kind != "keyword":
            if t.text == "[":
                raise self.error("tags are not supported: the modules use AUTOMATIC TAGS")
            raise self.error(f"expected a type, found {self.found()}")
        self.pos += 1
        word = t.text
        if word in ("NULL", "BOOLEAN"):
            return Builtin(word, t.loc)
        if word == "OBJECT":
            self.expect("IDENTIFIER")
            return Builtin("OBJECT IDENTIFIER", t.loc)
        if word == "INTEGER":
            b = Builtin("INTEGER", t.loc)
            if self.at("{"):
                raise self.error("named numbers are not supported")
            if self.accept("("):
                b.range = self.parse_range()
                self.expect(")")
            return b
        if word in ("OCTET", "IA5String"):
            if word == "OCTET":
                self.expect("STRING")
                word = "OCTET STRING"
            b = Builtin(word, t.loc)
            if self.at("("):
                b.size = self.parse_size()
            return b
        if word in ("SEQUENCE", "SET"):
            size = self.parse_size() if self.at("(") else None
            if self.accept("OF"):
                element = self.parse_type(class_name + "_subtype")
                return SequenceOf(element, t.loc, word == "SET", size)
            if size is not None:
                raise self.error(f"expected OF after the size of a {word} OF")
            if word == "SET":
                raise self.error("SET is not supported, only SET OF")
            return self.parse_sequence(t, class_name)
        if word == "CHOICE":
            return self.parse_choice(t, class_name)
        if word == "ENUMERATED":
            return self.parse_enumerated(t, class_name)
        raise self.error(f"expected a type, found '{word}'", t)

    def parse_range(self):
        loc = self.tok.loc
        lower = self.number()
        self.expect("..", "'..' (only a range lower..upper is supported)")
        upper = self.number()
        if self.at(","):
            raise self.error("extensible constraints are not supported")
        return Range(lower, upper, loc)

    def parse_size(self):
        self.expect("(")
        self.expect("SIZE", "SIZE (only a size constraint is supported here)")
        self.expect("(")
        r = self.parse_range()
        self.expect(")")
        self.expect(")")
        return r

    def parse_elements(self, what, class_name):
        """Reads "{ element, ... }" of a SEQUENCE or CHOICE named `class_name`. Returns
        (root, additions, extensible), each element as (name token, type, optional)."""
        brace = self.expect("{")
        root, additions, markers = [], [], 0
        if self.at("}"):
            raise self.error(f"a {what} needs at least one component")
        while True:
            if self.accept("..."):
                markers += 1
                if markers > 1 and not self.at("}"):
                    raise self.error("components after the second extension marker are not supported")
            elif self.at("[["):
                raise self.error("version brackets are not supported")
            else:
                name = self.expect_kind("identifier", f"the name of a {what} component")
                ctype = self.parse_type(f"{class_name}_{cpp_name(name.text)}")
                optional = False
                if self.at("DEFAULT"):
                    raise self.error("DEFAULT is not supported")
                if self.accept("OPTIONAL"):
                    if what == "CHOICE":
                        raise self.error("an alternative of a CHOICE cannot be OPTIONAL", self.tokens[self.pos - 1])
                    optional = True
                (additions if markers else root).append((name, ctype, optional))
            if not self.accept(","):
                break
        self.expect("}", "',' or '}'")
        if not root:
            raise self.error(f"a {what} needs at least one root component", brace)
        return root, additions, markers > 0

    def parse_sequence(self, tok, class_name):
        seq = Sequence(tok.loc, name=class_name, module=self.module)
        self.module.constructed.append(seq)
        root, additions, seq.extensible = self.parse_elements("SEQUENCE", class_name)
        bit = 0
        for name, ctype, optional in root:
            c = Component(name.text, ctype, name.loc, optional)
            if optional:
                c.presence_bit = bit
                bit += 1
            seq.root.append(c)
        for name, ctype, optional in additions:
            seq.additions.append(Component(name.text, ctype, name.loc, optional, addition=True))
        return seq

    def parse_choice(self, tok, class_name):
        choice = Choice(tok.loc, name=class_name, module=self.module)
        self.module.constructed.append(choice)
        root, additions, choice.extensible = self.parse_elements("CHOICE", class_name)
        for name, ctype, _ in root:
            choice.root.append(Alternative(name.text, ctype, name.loc, len(choice.root)))
        for name, ctype, _ in additions:
            choice.additions.append(
                Alternative(name.text, ctype, name.loc, len(root) + len(choice.additions), True))
        return choice

    def parse_enumerated(self, tok, class_name):
        enum = Enumerated(tok.loc, name=class_name, module=self.module)
        self.module.constructed.append(enum)
        self.expect("{")
        value = -1
        while True:
            if self.accept("..."):
                enum.extensible = True
                if not self.at("}"):
                    raise self.error("enumeration items after the extension marker are not supported")
                break
            name = self.expect_kind("identifier", "the name of an enumeration item")
            explicit = self.accept("(")
            if explicit:
                value = self.number()
                self.expect(")")
            else:
                value += 1
            enum.items.append(EnumItem(name.text, value, name.loc, explicit))
            if not self.accept(","):
                break
        self.expect("}", "',' or '}'")
        if not enum.items:
            raise self.error("an enumeration needs at least one item")
        return enum


def parse_text(text, file="<text>"):
    """Parses one module from text; raises Asn1Error on the first syntax error."""
    return Parser(text, file).parse_module()


def parse_file(path):
    # Undecodable bytes can only stand in comments: the lexer refuses them elsewhere.
    with open(path, encoding="utf-8", errors="replace") as f:
        return parse_text(f.read(), path)
