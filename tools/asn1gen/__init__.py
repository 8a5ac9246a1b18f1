"""Class generator for the ASN.1 message modules.

The parser (lexer.py, parser.py) reads the subset of ASN.1 that the modules in messages/
use into the model of model.py; checker.py resolves the references between modules and
reports every fault with its file and line; dump.py prints the model; emit_cpp.py writes
the C++ classes and records of the checked model (the build runs it, see
messages/CMakeLists.txt).
"""

from .model import Diagnostic, Asn1Error
from .parser import parse_file, parse_text
from .checker import check, load

__all__ = ["Diagnostic", "Asn1Error", "parse_file", "parse_text", "check", "load"]
