#!/bin/sh
# Static analysis of the program: formatting (.clang-format), clang-tidy
# (.clang-tidy) and cppcheck (.cppcheck-suppressions).  Any finding fails.
set -eu
cd "$(dirname "$0")/.."

sources="src/client.cpp src/platform_sockets.h"

cmake --preset default >/dev/null   # compile_commands.json for clang-tidy and cppcheck

clang-format --dry-run --Werror $sources tests/ws2_32/ws2_32.c
clang-tidy --quiet -p build/default src/client.cpp
cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr \
    --project=build/default/compile_commands.json
cppcheck --quiet --enable=all --inconclusive --std=c++17 --error-exitcode=1 \
    --suppressions-list=.cppcheck-suppressions --inline-suppr -D_WIN32 $sources
echo "lint: clean"
