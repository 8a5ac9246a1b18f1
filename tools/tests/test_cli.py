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
        good = self.write("good.asn", GOOD)
        self.assertEqual(self.run_tool("--cpp", self.dir.name, "--parts", "good=0", good).returncode, 2)
        self.assertEqual(self.run_tool("--cpp", self.dir.name, "--parts", "other=2", good).returncode, 2)

    def test_cpp_writes_header_and_parts_and_leaves_equal_files_alone(self):
        good = self.write("good.asn", GOOD)
        out = os.path.join(self.dir.name, "out")
        r = self.run_tool("--cpp", out, "--parts", "good=2", good)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        self.assertEqual(sorted(os.listdir(out)), ["good.h", "good_1.cpp", "good_2.cpp"])
        stamps = {n: os.stat(os.path.join(out, n)).st_mtime_ns for n in os.listdir(out)}
        for n in stamps:
            os.utime(os.path.join(out, n), ns=(1, 1))
        r = self.run_tool("--cpp", out, "--parts", "good=2", good)
        self.assertEqual(r.returncode, 0)
        self.assertEqual({os.stat(os.path.join(out, n)).st_mtime_ns for n in stamps}, {1})
        # A change rewrites only the files whose text changes.
        self.write("good.asn", GOOD.replace("standby(8)", "standby(9)"))
        self.run_tool("--cpp", out, "--parts", "good=2", good)
        changed = sorted(n for n in stamps if os.stat(os.path.join(out, n)).st_mtime_ns != 1)
        self.assertEqual(len(changed), 2, changed)
        self.assertIn("good.h", changed)

    def test_cpp_leaves_out_what_needs_a_missing_type_only_when_allowed(self):
        text = GOOD.replace("BEGIN", "BEGIN\nIMPORTS Far FROM FAR;").replace(
            "END", "Lost ::= SEQUENCE { far Far }\nEND")
        path = self.write("good.asn", text)
        out = os.path.join(self.dir.name, "out")
        r = self.run_tool("--cpp", out, path)
        self.assertEqual(r.returncode, 1)
        self.assertIn(f"{path}:3: error: Far is imported from module FAR, which is not given", r.stderr)
        self.assertFalse(os.path.exists(out))
        r = self.run_tool("--cpp", out, "--allow-missing", path)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, f"{path}:3: note: Far is imported from module FAR, which is not given\n"
                                   f"{path}:7: note: GOOD::Lost is left out: it needs Far\n")
        with open(os.path.join(out, "good.h")) as f:
            header = f.read()
        self.assertIn("class Data ", header)
        self.assertNotIn("Lost", header)


if __name__ == "__main__":
    unittest.main()
