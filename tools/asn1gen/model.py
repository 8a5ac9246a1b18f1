"""The model of parsed ASN.1 modules.

Nodes compare by identity (the model is a graph: references point back into it).

Every node keeps the place it was read from (`Loc`), so that each fault can be reported
with its file and line. Constructed types (SEQUENCE, CHOICE, ENUMERATED) carry the name
of the class they become: the assigned name, or for an inline type `<Type>_<field>`
(inside a field or alternative) and `<List>_subtype` (the element of a list type).
"""

from dataclasses import dataclass, field
from typing import List, Optional


@dataclass(frozen=True)
class Loc:
    file: str
    line: int

    def __str__(self):
        return f"{self.file}:{self.line}"


@dataclass
class Diagnostic:
    loc: Loc
    message: str
    severity: str = "error"  # "error" or "note"
    # The error is a name that no given module defines (a type still to be written); the
    # emitter may leave out what needs it instead of stopping.
    missing: bool = False

    def __str__(self):
        return f"{self.loc}: {self.severity}: {self.message}"


class Asn1Error(Exception):
    """A fault that stops the reading of a file (lexical or syntax error)."""

    def __init__(self, loc: Loc, message: str):
        super().__init__(f"{loc}: error: {message}")
        self.diagnostic = Diagnostic(loc, message)


def cpp_name(asn1_name: str) -> str:
    """The identifier formed from an ASN.1 name: each '-' becomes '_'."""
    return asn1_name.replace("-", "_")


# Range of a constraint as the run-time records hold it: a signed 32-bit lower bound and
# an unsigned 32-bit upper bound.
INT32_MIN = -(2 ** 31)
INT32_MAX = 2 ** 31 - 1
UINT32_MAX = 2 ** 32 - 1


@dataclass
class Range:
    """A value range `(lower..upper)` or a size range `(SIZE (lower..upper))`."""
    lower: int
    upper: int
    loc: Loc

    def __str__(self):
        return f"{self.lower}..{self.upper}"


class Type:
    loc: Loc


@dataclass(eq=False)
class Builtin(Type):
    """INTEGER, BOOLEAN, NULL, OCTET STRING, IA5String or OBJECT IDENTIFIER."""
    kind: str
    loc: Loc
    range: Optional[Range] = None  # INTEGER: value range
    size: Optional[Range] = None   # OCTET STRING, IA5String: size range

    def describe(self):
        if self.range is not None:
            return f"{self.kind} ({self.range})"
        if self.size is not None:
            return f"{self.kind} (SIZE ({self.size}))"
        return self.kind


@dataclass(eq=False)
class Reference(Type):
    """A type named by its type reference; the checker sets `target`."""
    name: str
    loc: Loc
    target: Optional["Assignment"] = None

    def describe(self):
        if self.target is not None:
            return f"{self.target.module.name}::{self.name}"
        return self.name


@dataclass(eq=False)
class SequenceOf(Type):
    element: Type
    loc: Loc
    is_set: bool = False
    size: Optional[Range] = None

    def describe(self):
        head = "SET" if self.is_set else "SEQUENCE"
        if self.size is not None:
            head += f" (SIZE ({self.size}))"
        return f"{head} OF {self.element.describe()}"


@dataclass(eq=False)
class Component:
    """A field of a SEQUENCE. Root fields come first; extension additions follow."""
    name: str
    type: Type
    loc: Loc
    optional: bool = False
    addition: bool = False
    # Bit in the optional-field map of an OPTIONAL root field, counted from 0 over the
    # optional root fields in field order; None for a mandatory field or an addition.
    presence_bit: Optional[int] = None


@dataclass(eq=False)
class Alternative:
    """An alternative of a CHOICE, numbered from 0 in declaration order, roots first."""
    name: str
    type: Type
    loc: Loc
    index: int = 0
    addition: bool = False


@dataclass(eq=False)
class Constructed(Type):
    """A SEQUENCE, CHOICE or ENUMERATED: a type that becomes a class named `name`."""
    loc: Loc
    extensible: bool = False
    name: str = ""
    module: Optional["Module"] = None
    kind = ""

    def describe(self):
        if self.module is not None and self.name:
            return f"{self.module.name}::{self.name}"
        return self.name or self.kind


@dataclass(eq=False)
class Sequence(Constructed):
    root: List[Component] = field(default_factory=list)
    additions: List[Component] = field(default_factory=list)
    kind = "SEQUENCE"

    @property
    def fields(self):
        return self.root + self.additions

    @property
    def optional_count(self):
        return sum(1 for f in self.root if f.optional)


@dataclass(eq=False)
class Choice(Constructed):
    root: List[Alternative] = field(default_factory=list)
    additions: List[Alternative] = field(default_factory=list)
    kind = "CHOICE"

    @property
    def alternatives(self):
        return self.root + self.additions

    def alternative(self, name):
        return next((a for a in self.alternatives if a.name == name), None)


@dataclass(eq=False)
class EnumItem:
    name: str
    value: int
    loc: Loc
    explicit: bool = False  # the value was written, not counted on


@dataclass(eq=False)
class Enumerated(Constructed):
    items: List[EnumItem] = field(default_factory=list)
    kind = "ENUMERATED"

    @property
    def maximum(self):
        """The largest value: the upper bound of the coded range 0..maximum."""
        return max(i.value for i in self.items)

    def value_of(self, name):
        for i in self.items:
            if i.name == name:
                return i.value
        raise KeyError(name)

    def name_of(self, value):
        """The name of a value: the first item that has it, or None."""
        return next((i.name for i in self.items if i.value == value), None)


@dataclass(eq=False)
class Assignment:
    """`Name ::= Type` in a module."""
    name: str
    type: Type
    loc: Loc
    module: Optional["Module"] = None
    # The constructed types written inside this one, which become classes of their own.
    inline: List[Type] = field(default_factory=list)


@dataclass(eq=False)
class Import:
    """One imported name: `name` of `module`, as written in an IMPORTS clause."""
    name: str
    module: str
    loc: Loc
    target: Optional[Assignment] = None  # set by the checker


@dataclass(eq=False)
class Module:
    name: str
    loc: Loc
    imports: List[Import] = field(default_factory=list)
    assignments: List[Assignment] = field(default_factory=list)
    # Every constructed type of the module in reading order, inline ones included.
    constructed: List[Type] = field(default_factory=list)

    def assignment(self, name):
        for a in self.assignments:
            if a.name == name:
                return a
        return None

    def type(self, name):
        """The type assigned to `name`, or the constructed type of that class name."""
        a = self.assignment(name)
        if a is not None:
            return a.type
        for t in self.constructed:
            if t.name == name:
                return t
        raise KeyError(f"{self.name}::{name}")


@dataclass(eq=False)
class Model:
    modules: List[Module] = field(default_factory=list)

    def module(self, name):
        for m in self.modules:
            if m.name == name:
                return m
        raise KeyError(name)

    def type(self, qualified):
        """A type by its qualified name, "MODULE::Name"."""
        module, _, name = qualified.partition("::")
        return self.module(module).type(name)


def resolve(t: Type) -> Type:
    """Follows references (and chains of them) to the type they name; an unresolved
    reference is returned as it is."""
    seen = set()
    while isinstance(t, Reference) and t.target is not None and id(t) not in seen:
        seen.add(id(t))
        t = t.target.type
    return t
