"""Runs the cases of a test file and gives its verdict: how many passed, were
skipped and failed, counted by case (a subtest, or a test without any).  The
verdict goes to stderr and, where CLIENT_TEST_TALLY names a file, on a line
of its own at the end of that file, so that CI can add up every run.

A skip's reason starts with its cause, before a colon: "strace: ...".  Where
CLIENT_TEST_STRICT is set, as CI sets it, a skip counts as a failure unless
CLIENT_TEST_EXPECTED_SKIPS (causes separated by ";", set by the test preset)
names its cause: there, a tool that should be present and isn't fails the run."""

import collections
import os
import sys
import unittest


def cause(reason):
    return reason.split(":", 1)[0]


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed = 0
        self.with_subtests = set()

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        self.with_subtests.add(test.id())
        self.passed += err is None

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += test.id() not in self.with_subtests


def main(argv):
    """unittest.main over the calling file's cases, with ARGV; exits 0 if
    every case passed or was skipped as allowed."""
    result = unittest.main(argv=argv, exit=False,
                           testRunner=unittest.TextTestRunner(resultclass=CountingResult)).result
    expected = set(os.environ.get("CLIENT_TEST_EXPECTED_SKIPS", "").split(";")) - {""}
    strict = bool(os.environ.get("CLIENT_TEST_STRICT"))
    allowed = collections.Counter()
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    for case, reason in result.skipped:
        if strict and cause(reason) not in expected:
            print("FAIL: %s: skipped, where no skip for %r is expected: %s" % (case, cause(reason), reason),
                  file=sys.stderr)
            failed += 1
        else:
            allowed[cause(reason)] += 1
    if result.testsRun == 0:
        print("FAIL: no case ran", file=sys.stderr)
        failed += 1
    line = "%d passed, %d skipped, %d failed: %s%s" % (
        result.passed, sum(allowed.values()), failed, " ".join([os.path.basename(sys.argv[0])] + sys.argv[1:]),
        "".join(" (skipped for %s: %d)" % item for item in sorted(allowed.items())))
    print(line, file=sys.stderr)
    if os.environ.get("CLIENT_TEST_TALLY"):
        with open(os.environ["CLIENT_TEST_TALLY"], "a") as tally:
            tally.write(line + "\n")
    sys.exit(0 if failed == 0 else 1)
