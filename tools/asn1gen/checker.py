"""Resolution of references between the modules and the checks of the model.

`check(model)` binds every type reference and every import to its assignment and
returns the faults found, each with its file and line:
- a module name given twice, a type or class name given twice in a module, an import of
  a module or name that does not exist, an imported name given twice or also defined in
  the importing module, a reference to a name that is neither defined nor imported;
- a field, alternative or enumeration item name given twice in one type, or two names
  that become the same identifier once "-" is replaced by "_";
- an impossible constraint: a range or size whose lower bound is above its upper bound,
  a negative size, bounds that the run-time's records cannot hold (a signed 32-bit lower
  and an unsigned 32-bit upper bound, the upper one at most 2^31 - 1 when the lower one
  is negative), an enumeration value outside 32 bits;
- an enumeration item without a number after a numbered one whose value would differ
  under X.680's rule (the lowest value no item uses) and the run-time's (the previous
  value plus one): the source must write such values;
- a type that contains itself through mandatory fields only, whose default value could
  never be built. Other recursion is reported as a note.
"""

from .model import (INT32_MAX, INT32_MIN, UINT32_MAX, Asn1Error, Builtin, Choice,
                    Diagnostic, Enumerated, Loc, Model, Reference, Sequence, SequenceOf,
                    cpp_name, resolve)
from .parser import parse_file


def load(paths):
    """Parses the files into a model. Returns (model, diagnostics); a file with a syntax
    error is left out and its error is in the diagnostics."""
    model, diags = Model(), []
    for path in paths:
        try:
            model.modules.append(parse_file(path))
        except Asn1Error as e:
            diags.append(e.diagnostic)
        except OSError as e:
            diags.append(Diagnostic(Loc(path, 0), f"cannot read: {e.strerror}"))
    return model, diags


class Checker:
    def __init__(self, model):
        self.model = model
        self.diags = []
        self.imported = {}  # module name -> {imported name: Import}

    def error(self, loc, message):
        self.diags.append(Diagnostic(loc, message))

    def missing(self, loc, message):
        self.diags.append(Diagnostic(loc, message, missing=True))

    def note(self, loc, message):
        self.diags.append(Diagnostic(loc, message, "note"))

    def run(self):
        modules = {}
        for m in self.model.modules:
            if m.name in modules:
                self.error(m.loc, f"module {m.name} is already defined at {modules[m.name].loc}")
            else:
                modules[m.name] = m
        for m in self.model.modules:
            self.check_names(m)
        for m in self.model.modules:
            self.resolve_imports(m, modules)
        for m in self.model.modules:
            for a in m.assignments:
                self.walk(a.type, m)
        for m in self.model.modules:
            for a in m.assignments:
                self.check_alias(a)
        self.check_recursion()
        return self.diags

    # Names

    def check_names(self, m):
        """Type names, the class names of inline types among them, must be unique."""
        names = []
        for a in m.assignments:
            names.append((a.name, a.loc, "type"))
            names += [(t.name, t.loc, "inline type") for t in a.inline]
        self.check_identifiers(m.name, names)

    def check_identifiers(self, owner, names):
        """Reports names given twice, and names that meet once '-' becomes '_'.
        `names` holds (name, loc, what) in reading order."""
        seen, formed = {}, {}
        for name, loc, what in names:
            if name in seen:
                self.error(loc, f"{what} {name} of {owner} is already defined at {seen[name]}")
                continue
            seen[name] = loc
            ident = cpp_name(name)
            if ident in formed:
                other, other_loc = formed[ident]
                self.error(loc, f"{what} {name} of {owner} becomes the identifier {ident}, as {other} at {other_loc} does")
            else:
                formed[ident] = (name, loc)

    def resolve_imports(self, m, modules):
        imported = {}
        for imp in m.imports:
            if imp.name in imported:
                self.error(imp.loc, f"{imp.name} is already imported at {imported[imp.name].loc}")
                continue
            imported[imp.name] = imp
            if m.assignment(imp.name) is not None:
                self.error(imp.loc, f"imported {imp.name} is also defined in {m.name} at {m.assignment(imp.name).loc}")
            source = modules.get(imp.module)
            if source is None:
                self.missing(imp.loc, f"{imp.name} is imported from module {imp.module}, which is not given")
            elif source is m:
                self.error(imp.loc, f"module {m.name} imports {imp.name} from itself")
            else:
                imp.target = source.assignment(imp.name)
                if imp.target is None:
                    self.missing(imp.loc, f"module {imp.module} does not define {imp.name}")
        self.imported[m.name] = imported

    # Types

    def walk(self, t, m):
        if isinstance(t, Reference):
            self.bind(t, m)
        elif isinstance(t, Builtin):
            if t.range is not None:
                self.check_range(t.range, "range")
            if t.size is not None:
                self.check_range(t.size, "size")
        elif isinstance(t, SequenceOf):
            if t.size is not None:
                self.check_range(t.size, "size")
            self.walk(t.element, m)
        elif isinstance(t, Sequence):
            self.check_identifiers(t.name, [(f.name, f.loc, "field") for f in t.fields])
            for f in t.fields:
                self.walk(f.type, m)
        elif isinstance(t, Choice):
            self.check_identifiers(t.name, [(a.name, a.loc, "alternative") for a in t.alternatives])
            for a in t.alternatives:
                self.walk(a.type, m)
        elif isinstance(t, Enumerated):
            self.check_enumerated(t)

    def bind(self, ref, m):
        a = m.assignment(ref.name)
        if a is None:
            imp = self.imported[m.name].get(ref.name)
            if imp is None:
                self.missing(ref.loc, f"type {ref.name} is neither defined in {m.name} nor imported")
                return
            a = imp.target
            if a is None:  # the import itself is faulty and reported
                return
        ref.target = a

    def check_alias(self, a):
        """`A ::= B` must end at a type, not come back to A."""
        t, seen = a.type, []
        while isinstance(t, Reference) and t.target is not None:
            if t.target is a or t.target in seen:
                self.error(a.loc, f"type {a.name} is defined through itself: "
                           + " -> ".join([a.name] + [s.name for s in seen] + [t.target.name]))
                return
            seen.append(t.target)
            t = t.target.type

    def check_range(self, r, what):
        if what == "size" and r.lower < 0:
            self.error(r.loc, f"size {r} has a negative lower bound")
        elif r.lower > r.upper:
            self.error(r.loc, f"{what} {r} is empty: its lower bound is above its upper bound")
        elif r.lower < INT32_MIN or r.lower > INT32_MAX:
            self.error(r.loc, f"{what} {r}: the lower bound does not fit a signed 32-bit word")
        elif r.upper > UINT32_MAX:
            self.error(r.loc, f"{what} {r}: the upper bound does not fit an unsigned 32-bit word")
        elif r.lower < 0 and r.upper > INT32_MAX:
            self.error(r.loc, f"{what} {r} mixes a negative lower bound with an upper bound above {INT32_MAX}")

    def check_enumerated(self, e):
        self.check_identifiers(e.name, [(i.name, i.loc, "item") for i in e.items])
        for i in e.items:
            if not INT32_MIN <= i.value <= INT32_MAX:
                self.error(i.loc, f"item {i.name} of {e.name}: value {i.value} does not fit 32 bits")
        # X.680 gives an item without a number the lowest value that no item takes yet;
        # the run-time counts on from the previous item. Where they differ, the source
        # must say which it means.
        taken = {i.value for i in e.items if i.explicit}
        for i in e.items:
            if i.explicit:
                continue
            x680 = 0
            while x680 in taken:
                x680 += 1
            taken.add(x680)
            if x680 != i.value:
                self.error(i.loc, f"item {i.name} of {e.name} counts on to {i.value}, where X.680 gives {x680}: write its value")

    # Recursion

    def check_recursion(self):
        """Finds the cycles of types. A cycle through mandatory SEQUENCE fields only is an
        error: building the default value of the type would build the type again. Any
        other cycle passes a CHOICE, an optional field or a list, which end at an empty
        value; it is reported as a note."""
        nodes = [t for m in self.model.modules for t in m.constructed]
        known = {id(t) for t in nodes}

        def edges(t, mandatory_only):
            if isinstance(t, Sequence):
                comps = [f.type for f in t.root if not (mandatory_only and f.optional)]
                if not mandatory_only:
                    comps += [f.type for f in t.additions]
            elif isinstance(t, Choice) and not mandatory_only:
                comps = [a.type for a in t.alternatives]
            else:
                comps = []
            out = []
            while comps:
                c = resolve(comps.pop(0))
                if isinstance(c, SequenceOf):
                    if not mandatory_only:
                        comps.append(c.element)
                elif id(c) in known:
                    out.append(c)
            return out

        fatal = set()
        for cycle in _cycles(nodes, lambda t: edges(t, True)):
            fatal.update(id(t) for t in cycle)
            self.error(cycle[0].loc, f"type {cycle[0].name} contains itself through mandatory fields: {_show(cycle)}")
        for cycle in _cycles(nodes, lambda t: edges(t, False)):
            if not fatal.intersection(id(t) for t in cycle):
                self.note(cycle[0].loc, f"type {cycle[0].name} is recursive: {_show(cycle)}")


def _show(cycle):
    return " -> ".join(t.name for t in cycle + [cycle[0]])


def _cycles(nodes, edges):
    """One cycle for each strongly connected component that has one (Tarjan), started at
    its first node in reading order."""
    order = {id(t): i for i, t in enumerate(nodes)}
    index, low, on_stack, stack, result = {}, {}, set(), [], []
    counter = [0]

    def visit(v):
        index[id(v)] = low[id(v)] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(id(v))
        for w in edges(v):
            if id(w) not in index:
                visit(w)
                low[id(v)] = min(low[id(v)], low[id(w)])
            elif id(w) in on_stack:
                low[id(v)] = min(low[id(v)], index[id(w)])
        if low[id(v)] == index[id(v)]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(id(w))
                component.append(w)
                if w is v:
                    break
            members = {id(c) for c in component}
            if len(component) > 1 or any(e is v for e in edges(v)):
                start = min(component, key=lambda c: order[id(c)])
                result.append(_path(start, members, edges))

    for t in nodes:
        if id(t) not in index:
            visit(t)
    result.sort(key=lambda c: order[id(c[0])])
    return result


def _path(start, members, edges):
    """A shortest cycle from `start` back to it inside one component (breadth first)."""
    previous = {id(start): None}
    queue = [start]
    while queue:
        v = queue.pop(0)
        for w in edges(v):
            if w is start:
                path = [v]
                while previous[id(path[-1])] is not None:
                    path.append(previous[id(path[-1])])
                return list(reversed(path))
            if id(w) in members and id(w) not in previous:
                previous[id(w)] = v
                queue.append(w)
    return [start]


def check(model):
    """Resolves the model in place and returns its diagnostics (errors and notes)."""
    return Checker(model).run()
