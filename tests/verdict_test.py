"""The verdict's own rules, on synthetic test files: what each kind of
outcome counts as, in the tally and in the exit status.  In a sound run most
of these never happen; the day they do, the verdict must not hide them."""

import os
import subprocess
import sys
import tempfile
import unittest

import verdict

HERE = os.path.dirname(os.path.abspath(__file__))
SYNTHETIC = """import sys, unittest
sys.path.insert(0, %r)
import verdict

class Synthetic(unittest.TestCase):
    %s

verdict.main(sys.argv)
"""
STRICT = {"CLIENT_TEST_STRICT": "1", "CLIENT_TEST_EXPECTED_SKIPS": "valgrind;tool"}

CASES = [
    # name                 the test file's one test, or nothing
    #                      the environment   the tally's line                      status
    ("a pass",             "def test(self): pass",
                           {},               "run synthetic: 1 passed",            0),
    ("an error",           "def test(self): raise OSError",
                           {},               "run synthetic: 0 passed, 1 failed",  1),
    ("a failure",          "def test(self): self.fail()",
                           {},               "run synthetic: 0 passed, 1 failed",  1),
    ("an unexpected success", "@unittest.expectedFailure\n    def test(self): pass",
                           {},               "run synthetic: 0 passed, 1 failed",  1),
    ("an expected failure", "@unittest.expectedFailure\n    def test(self): self.fail()",
                           {},               "run synthetic: 0 passed, 1 failed",  1),
    ("a failing subtest",  "def test(self):\n        for n in range(3):\n"
                           "            with self.subTest(n): self.assertNotEqual(n, 1)",
                           {},               "run synthetic: 2 passed, 1 failed",  1),
    ("a skip, strict, its cause expected", "def test(self): self.skipTest('tool: not here')",
                           STRICT,           "run synthetic: 0 passed, 1 skipped for tool", 0),
    ("a skip, strict, its cause not expected", "def test(self): self.skipTest('strace: not here')",
                           STRICT,           "run synthetic: 0 passed, 1 failed",  1),
    ("a skip, not strict", "def test(self): self.skipTest('strace: not here')",
                           {},               "run synthetic: 0 passed, 1 skipped for strace", 0),
    ("no case",            "pass",
                           {},               "run synthetic: 0 passed, 1 failed",  1),
]


class VerdictTest(unittest.TestCase):
    def test_outcomes(self):
        # Whatever the caller set (CI sets a tally and strictness) stays out.
        clean = {name: value for name, value in os.environ.items() if not name.startswith("CLIENT_TEST_")}
        for name, test, env, line, status in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "synthetic_test.py")
                with open(path, "w") as synthetic:
                    synthetic.write(SYNTHETIC % (HERE, test))
                tally = os.path.join(folder, "tally")
                ran = subprocess.run([sys.executable, path], capture_output=True, text=True, check=False,
                                     env=dict(clean, CLIENT_TEST_RUN="run", CLIENT_TEST_TALLY=tally, **env))
                with open(tally) as written:
                    self.assertEqual((written.read(), ran.returncode), (line + "\n", status), ran.stderr)


if __name__ == "__main__":
    verdict.main(sys.argv)
