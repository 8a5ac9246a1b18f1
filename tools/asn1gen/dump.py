"""A readable listing of the checked model, one type per paragraph."""

from .model import Choice, Enumerated, Sequence


def type_text(t):
    return t.describe()


def dump_type(name, t, out):
    ext = ", extensible" if getattr(t, "extensible", False) else ""
    if isinstance(t, Sequence):
        out.append(f"  {name}: SEQUENCE{ext}, {len(t.root)} root fields, "
                   f"{t.optional_count} optional, {len(t.additions)} additions")
        for i, f in enumerate(t.fields):
            presence = ""
            if f.addition:
                presence = " (extension addition)"
            elif f.optional:
                presence = f" OPTIONAL (bit {f.presence_bit})"
            out.append(f"    {i:3} {f.name}: {type_text(f.type)}{presence}")
    elif isinstance(t, Choice):
        out.append(f"  {name}: CHOICE{ext}, {len(t.root)} root alternatives, "
                   f"{len(t.additions)} additions")
        for a in t.alternatives:
            addition = " (extension addition)" if a.addition else ""
            out.append(f"    {a.index:3} {a.name}: {type_text(a.type)}{addition}")
    elif isinstance(t, Enumerated):
        out.append(f"  {name}: ENUMERATED{ext}, coded in 0..{t.maximum}")
        for i in t.items:
            out.append(f"    {i.name} = {i.value}")
    else:
        out.append(f"  {name}: {type_text(t)}")


def dump(model):
    out = []
    for m in model.modules:
        out.append(f"module {m.name} ({m.loc})")
        sources = {}
        for imp in m.imports:
            sources.setdefault(imp.module, []).append(imp.name)
        for source, names in sources.items():
            out.append(f"  imports from {source}: {', '.join(names)}")
        for a in m.assignments:
            dump_type(a.name, a.type, out)
            for t in a.inline:
                dump_type(t.name + " (inline)", t, out)
        out.append("")
    return "\n".join(out)
