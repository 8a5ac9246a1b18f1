#!/usr/bin/env python3
"""Reads, checks and prints the ASN.1 message modules; see asn1gen/cli.py."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from asn1gen.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
