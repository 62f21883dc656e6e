#!/bin/sh
# Builds every package of a release from the working tree into dist/, and
# the SHA256SUMS that lists them: one package for each package preset in
# CMakePresets.json (tests/package_test.py requires exactly those).  The
# suites are not run: CI does that.
set -eu
cd "$(dirname "$0")/.."
export LC_ALL=C # the order of SHA256SUMS, and the tools' messages

rm -rf dist
for preset in $(cmake --list-presets=package | sed -n 's/^ *"\([^"]*\)".*/\1/p'); do
    echo "release: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    cpack --preset "$preset" >/dev/null
done

cd dist
sha256sum -- * >SHA256SUMS
sha256sum --check --strict --quiet SHA256SUMS
ls -l
