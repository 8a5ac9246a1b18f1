"""Command line of the generator.

    asn1gen.py --check FILE...   read and check the modules; faults go to the standard
                                 error stream as "file:line: error: text"
    asn1gen.py --dump FILE...    the same, then print the model (also when the check
                                 found faults, as long as every file could be read)
    asn1gen.py --cpp DIR [--parts STEM=N]... [--allow-missing] FILE...
                                 check, then write the C++ classes of every module into
                                 DIR: STEM.h and STEM_1.cpp .. STEM_N.cpp (N = 1 unless
                                 given), STEM being the source file's name; a file that
                                 already holds the same text is left untouched. With
                                 --allow-missing, a type that needs a type no module
                                 defines is left out (with a note) instead of failing.

The exit status is 0 when no error was found, 1 otherwise, 2 for a bad command line.
"""

import argparse
import os
import sys

from .checker import check, load
from .dump import dump
from .emit_cpp import Emitter, missing_types, write_if_changed
from .model import Asn1Error


def parts_argument(text):
    stem, sep, count = text.partition("=")
    if not sep or not stem or not count.isdigit() or int(count) < 1:
        raise argparse.ArgumentTypeError(f"expected STEM=N with N at least 1, got '{text}'")
    return stem, int(count)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="asn1gen.py", description="Reads and checks ASN.1 message modules.")
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--check", action="store_true", help="check the modules")
    action.add_argument("--dump", action="store_true", help="check the modules and print the model")
    action.add_argument("--cpp", metavar="DIR", help="check the modules and write their C++ classes into DIR")
    parser.add_argument("--parts", metavar="STEM=N", type=parts_argument, action="append", default=[],
                        help="the number of source files of one module (default 1)")
    parser.add_argument("--allow-missing", action="store_true",
                        help="leave out the types that need a type no module defines")
    parser.add_argument("files", nargs="+", metavar="FILE", help="ASN.1 module source")
    args = parser.parse_args(argv)

    model, diags = load(args.files)
    readable = not diags
    if readable:
        diags = check(model)
    tolerated = args.cpp is not None and args.allow_missing and readable
    for d in diags:
        if tolerated and d.missing:
            print(f"{d.loc}: note: {d.message}", file=sys.stderr)
        else:
            print(d, file=sys.stderr)
    errors = sum(1 for d in diags if d.severity == "error" and not (tolerated and d.missing))
    if args.dump and readable:
        print(dump(model))
    if errors:
        print(f"asn1gen: {errors} error(s)", file=sys.stderr)
        return 1
    if args.check:
        types = sum(len(m.constructed) for m in model.modules)
        print(f"asn1gen: {len(model.modules)} modules, {types} constructed types, no errors")
    if args.cpp is not None:
        return write_cpp(model, args.cpp, dict(args.parts))
    return 0


def write_cpp(model, directory, parts):
    missing = missing_types(model)
    for m in model.modules:
        for a in m.assignments:
            if id(a) in missing:
                print(f"{a.loc}: note: {m.name}::{a.name} is left out: it needs {missing[id(a)]}", file=sys.stderr)
    emitter = Emitter(model, frozenset(missing))
    stems = {Emitter.stem(m) for m in model.modules}
    unknown = sorted(set(parts) - stems)
    if unknown:
        print(f"asn1gen: --parts names no module file: {', '.join(unknown)}", file=sys.stderr)
        return 2
    try:
        files = {}
        for m in emitter.module_order():
            files.update(emitter.module_files(m, parts.get(Emitter.stem(m), 1)))
    except Asn1Error as e:
        print(e.diagnostic, file=sys.stderr)
        print("asn1gen: 1 error(s)", file=sys.stderr)
        return 1
    os.makedirs(directory, exist_ok=True)
    for name, text in files.items():
        write_if_changed(os.path.join(directory, name), text)
    return 0
