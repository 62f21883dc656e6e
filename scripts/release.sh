#!/bin/sh
# Builds every package of a release from the working tree into dist/, and
# the SHA256SUMS that lists them: one package for each package preset in
# CMakePresets.json (tests/package_test.py requires exactly those).  The
# suites are not run: CI does that.
#
#   [CLIENT_MAINTAINER='Name <address>'] scripts/release.sh
#
# CLIENT_MAINTAINER is the Maintainer of the .debs; without it, they name
# the project's placeholder.
set -eu
cd "$(dirname "$0")/.."
export LC_ALL=C # the order of SHA256SUMS, and the tools' messages

# Each build folder may keep an earlier release's maintainer: set it, or
# drop it so that the default applies.
if [ -n "${CLIENT_MAINTAINER:-}" ]; then
    maintainer="-DCLIENT_MAINTAINER=$CLIENT_MAINTAINER"
else
    maintainer=-UCLIENT_MAINTAINER
fi

rm -rf dist
for preset in $(cmake --list-presets=package | sed -n 's/^ *"\([^"]*\)".*/\1/p'); do
    echo "release: $preset"
    cmake --preset "$preset" "$maintainer" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    cpack --preset "$preset" >/dev/null
done

cd dist
sha256sum -- * >SHA256SUMS
ls -l
