"""The verdict's own rules, on synthetic test files: what each kind of
outcome counts as, in the tally and in the exit status; and CI's tally made
from the lines of several runs.  In a sound run most of these outcomes never
happen.  When one does, the verdict must show it."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import verdict

HERE = os.path.dirname(os.path.abspath(__file__))
SYNTHETIC = """import sys, unittest
import verdict

class Synthetic(unittest.TestCase):
    %s

verdict.main(sys.argv)
"""
# Strict, as CI is, where a skip for "tool" (and no other cause) is expected.
STRICT = {"CLIENT_TEST_STRICT": "1", "CLIENT_TEST_EXPECTED_SKIPS": "valgrind;tool"}

TEST = "def test(self): "
EXPECTED_FAILURE = "@unittest.expectedFailure\n    " + TEST
SUBTESTS = TEST + "\n        for n in 0, 1, 2:\n            with self.subTest(n): self.assertNotEqual(n, %d)"

CASES = [
    # name                       environment  the tally's counts       status  the test file's one test, or none
    ("a pass",                   {},     "1 passed",                       0, TEST + "pass"),
    ("an error",                 {},     "0 passed, 1 failed",             1, TEST + "raise OSError"),
    ("a failure",                {},     "0 passed, 1 failed",             1, TEST + "self.fail()"),
    ("an unexpected success",    {},     "0 passed, 1 failed",             1, EXPECTED_FAILURE + "pass"),
    ("an expected failure",      {},     "0 passed, 1 failed",             1, EXPECTED_FAILURE + "self.fail()"),
    ("a failing subtest",        {},     "2 passed, 1 failed",             1, SUBTESTS % 1),
    ("subtests, then a failure", {},     "2 passed, 1 failed",             1, SUBTESTS % 3 + "\n        self.fail()"),
    ("a failing subtest, then a failure", {}, "2 passed, 1 failed",        1, SUBTESTS % 1 + "\n        self.fail()"),
    ("a skip, cause expected",   STRICT, "0 passed, 1 skipped for tool",   0, TEST + "self.skipTest('tool: x')"),
    ("a skip, cause unexpected", STRICT, "0 passed, 1 failed",             1, TEST + "self.skipTest('strace: x')"),
    ("a skip, not strict",       {},     "0 passed, 1 skipped for strace", 0, TEST + "self.skipTest('strace: x')"),
    ("no case",                  {},     "0 passed, 1 failed",             1, "pass"),
]


class VerdictTest(unittest.TestCase):
    def test_outcomes(self):
        # Whatever the caller set (CI sets a tally and strictness) stays out.
        clean = {name: value for name, value in os.environ.items() if not name.startswith("CLIENT_TEST_")}
        for name, env, counts, status, test in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                path, tally = Path(folder, "synthetic_test.py"), Path(folder, "tally")
                path.write_text(SYNTHETIC % test)
                ran = subprocess.run([sys.executable, path], capture_output=True, text=True, check=False,
                                     env=dict(clean, PYTHONPATH=HERE, CLIENT_TEST_RUN="run", CLIENT_TEST_TALLY=str(tally), **env))
                self.assertEqual((tally.read_text(), ran.returncode), ("run synthetic: %s\n" % counts, status),
                                 ran.stderr)

    def test_summary(self):
        # Three runs of a suite, one with another count: each run shows.
        # A suite's name may hold "_" and "-".
        lines = ["a s-1: 3 passed", "b s-1: 1 passed, 2 skipped for tool", "c s-1: 2 passed, 1 failed",
                 "d s-1: 1 passed", "lint: x, y"]
        self.assertEqual(verdict.summary(lines), ["lint: x, y", "s-1 in b: 2 skipped for tool", "s-1 in c: 1 failed",
                                                  "s-1: 3 cases in a, b, c; 1 case in d"])


if __name__ == "__main__":
    verdict.main(sys.argv)
