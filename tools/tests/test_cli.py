"""The command line, run as a separate process."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "asn1gen.py")

GOOD = """\
GOOD DEFINITIONS AUTOMATIC TAGS ::=
BEGIN
Pdu ::= CHOICE { ping NULL, data Data, ... }
Data ::= SEQUENCE { slot INTEGER (0..1023) OPTIONAL, kind Kind, ... }
Kind ::= ENUMERATED { none(0), standby(8), ... }
END
"""


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def run_tool(self, *args):
        env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
        return subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True, env=env)

    def test_check_of_good_modules(self):
        r = self.run_tool("--check", self.write("good.asn", GOOD))
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(r.stdout, "asn1gen: 1 modules, 3 constructed types, no errors\n")

    def test_dump_prints_numbers_presence_and_values(self):
        r = self.run_tool("--dump", self.write("good.asn", GOOD))
        self.assertEqual(r.returncode, 0)
        for line in ["module GOOD (", "  Pdu: CHOICE, extensible, 2 root alternatives, 0 additions",
                     "      1 data: GOOD::Data", "      0 slot: INTEGER (0..1023) OPTIONAL (bit 0)",
                     "  Kind: ENUMERATED, extensible, coded in 0..8", "    standby = 8"]:
            self.assertIn(line, r.stdout)

    def test_faults_go_to_stderr_and_fail(self):
        bad = self.write("bad.asn", GOOD.replace("kind Kind", "kind Missing"))
        r = self.run_tool("--dump", bad)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, f"{bad}:4: error: type Missing is neither defined in GOOD nor imported\n"
                                   "asn1gen: 1 error(s)\n")
        self.assertIn("kind: Missing", r.stdout)  # the model is still printed

    def test_syntax_error_and_missing_file(self):
        bad = self.write("bad.asn", GOOD.replace("Pdu ::=", "Pdu ="))
        missing = os.path.join(self.dir.name, "none.asn")
        r = self.run_tool("--check", bad, missing)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, "")
        self.assertIn(f"{bad}:3: error: unexpected character '='", r.stderr)
        self.assertIn(f"{missing}:0: error: cannot read: No such file or directory", r.stderr)

    def test_bad_command_line(self):
        self.assertEqual(self.run_tool("--check").returncode, 2)
        self.assertEqual(self.run_tool("--frobnicate", "x.asn").returncode, 2)


if __name__ == "__main__":
    unittest.main()
