"""Runs the cases of a test file and gives its verdict, counted by case: a
subtest, or a test without any, each once (CountingResult).  It prints the
verdict on stderr and, where CLIENT_TEST_TALLY names a file, adds it to
that file as a line:
    [RUN ]SUITE: P passed[, N skipped for CAUSE]...[, F failed]
RUN is CLIENT_TEST_RUN, where it is set; SUITE is the file's name without
"_test.py".  No case here is meant to fail: an expected failure fails too.

A skip's reason starts with its cause, before a colon: "strace: ...".  Where
CLIENT_TEST_STRICT is set, as CI sets it, a skip fails unless
CLIENT_TEST_EXPECTED_SKIPS (causes separated by ";", set by the test preset)
names its cause.

    python3 tests/verdict.py TALLY
prints CI's tally from the lines that its steps added to TALLY (summary())."""

import collections
import os
import re
import sys
import unittest

RUN_OF_A_SUITE = re.compile(r"(?:(.+) )?([\w-]+): (\d+) passed((?:, \d+ skipped for [^,]+)*)(?:, (\d+) failed)?")


def cause(reason):
    return reason.split(":", 1)[0]


class CountingResult(unittest.TextTestResult):
    """A test that fails outside its subtests fails one of its cases: none
    more where a subtest failed, else one that passed."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.passed, self.failed_subtests = 0, {}  # failed_subtests: by test id, where it has subtests

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        self.failed_subtests[test.id()] = self.failed_subtests.get(test.id(), 0) + (err is not None)
        self.passed += err is None

    def addSuccess(self, test):
        # A test with subtests passed its subtests, which are counted already.
        super().addSuccess(test)
        self.passed += test.id() not in self.failed_subtests

    def counts(self):
        """The cases that passed, and those that failed."""
        passed, failed = self.passed, 0
        for case in [case for case, _ in self.failures + self.errors + self.expectedFailures] + self.unexpectedSuccesses:
            # A subtest's id is no key; a test's is where it has subtests.
            failed_subtests = self.failed_subtests.get(case.id())
            passed -= failed_subtests == 0
            failed += not failed_subtests
        return passed, failed


def main(argv):
    """unittest.main over the calling file's cases, with ARGV; exits 0 if
    every case passed or was skipped as allowed."""
    result = unittest.main(argv=argv, exit=False,
                           testRunner=unittest.TextTestRunner(resultclass=CountingResult)).result
    expected = set(os.environ.get("CLIENT_TEST_EXPECTED_SKIPS", "").split(";")) - {""}
    strict = bool(os.environ.get("CLIENT_TEST_STRICT"))
    skipped = collections.Counter()
    passed, failed = result.counts()
    for case, reason in result.skipped:
        if strict and cause(reason) not in expected:
            print("FAIL: %s: skipped, where no skip for %r is expected: %s" % (case, cause(reason), reason), file=sys.stderr)
            failed += 1
        else:
            skipped[cause(reason)] += 1
    if result.testsRun == 0:
        print("FAIL: no case ran", file=sys.stderr)
        failed += 1
    suite = " ".join(filter(None, [os.environ.get("CLIENT_TEST_RUN"), os.path.basename(argv[0])[:-len("_test.py")]]))
    counts = ["%d passed" % passed] + ["%d skipped for %s" % (n, why) for why, n in sorted(skipped.items())]
    line = "%s: %s" % (suite, ", ".join(counts + ["%d failed" % failed] * bool(failed)))
    print(line, file=sys.stderr)
    if os.environ.get("CLIENT_TEST_TALLY"):
        with open(os.environ["CLIENT_TEST_TALLY"], "a") as tally:
            tally.write(line + "\n")
    sys.exit(0 if failed == 0 else 1)


def summary(lines):
    """CI's tally from the LINES that its steps added, sorted byte by byte.
    Each suite gets one line: its count of cases, with the runs that had
    that count.  Each run's skips for a cause, and its failures, get a line
    of their own.  Lines of other steps stay as they are."""
    tally, cases = [], collections.defaultdict(lambda: collections.defaultdict(list))
    for line in lines:
        match = RUN_OF_A_SUITE.fullmatch(line)
        if not match:
            tally.append(line)
            continue
        run, suite, passed, skips, failed = match.groups()
        run = run or "no run"
        total = int(passed) + int(failed or 0)
        for count, why in re.findall(r", (\d+) skipped for ([^,]+)", skips):
            total += int(count)
            tally.append("%s in %s: %s skipped for %s" % (suite, run, count, why))
        if failed:
            tally.append("%s in %s: %s failed" % (suite, run, failed))
        cases[suite][total].append(run)
    for suite, runs in cases.items():
        counts = ["%d %s in %s" % (total, "case" if total == 1 else "cases", ", ".join(sorted(names)))
                  for total, names in sorted(runs.items(), reverse=True)]
        tally.append("%s: %s" % (suite, "; ".join(counts)))
    return sorted(tally)


if __name__ == "__main__":
    with open(sys.argv[1]) as raw:
        sys.stdout.write("".join(line + "\n" for line in summary(raw.read().splitlines())))
