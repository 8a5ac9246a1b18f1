"""Command line of the generator.

    asn1gen.py --check FILE...   read and check the modules; faults go to the standard
                                 error stream as "file:line: error: text"
    asn1gen.py --dump FILE...    the same, then print the model (also when the check
                                 found faults, as long as every file could be read)

The exit status is 0 when no error was found, 1 otherwise, 2 for a bad command line.
"""

import argparse
import sys

from .checker import check, load
from .dump import dump


def main(argv=None):
    parser = argparse.ArgumentParser(prog="asn1gen.py", description="Reads and checks ASN.1 message modules.")
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--check", action="store_true", help="check the modules")
    action.add_argument("--dump", action="store_true", help="check the modules and print the model")
    parser.add_argument("files", nargs="+", metavar="FILE", help="ASN.1 module source")
    args = parser.parse_args(argv)

    model, diags = load(args.files)
    readable = not diags
    if readable:
        diags = check(model)
    for d in diags:
        print(d, file=sys.stderr)
    errors = sum(1 for d in diags if d.severity == "error")
    if args.dump and readable:
        print(dump(model))
    if errors:
        print(f"asn1gen: {errors} error(s)", file=sys.stderr)
        return 1
    if args.check:
        types = sum(len(m.constructed) for m in model.modules)
        print(f"asn1gen: {len(model.modules)} modules, {types} constructed types, no errors")
    return 0
