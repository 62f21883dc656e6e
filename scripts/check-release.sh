#!/bin/sh
# Judges the release with the tools that packagers use, as they would:
# lintian and hardening-check on the Debian packages in dist/ (made by
# scripts/release.sh), then reprotest, which makes the release twice from a
# clean copy of the working tree, varying whatever it can here, and requires
# every artefact to be identical.  Any finding fails.  Where
# CLIENT_TEST_TALLY names CI's tally, each tool adds a line to it that names
# what it passed.
set -eu
cd "$(dirname "$0")/.."

# The tally's line for the tool $1, naming what it passed (on stdin, one a
# line) in an order that no shell or locale sets, each version written as
# <version>, as the README's table does.
passed() {
    names=$(sed -E 's/[0-9]+(\.[0-9]+)+/<version>/g' | LC_ALL=C sort | tr '\n' ' ')
    [ -z "${CLIENT_TEST_TALLY:-}" ] || echo "check-release $1: ${names% }" >>"$CLIENT_TEST_TALLY"
}

# lintian is judged by its exit status and by its stdout: any tag that it
# prints there is a finding.  Its stderr is not judged, because lintian
# run as root says so there.
tags=$(lintian --fail-on error,warning dist/*.deb) || { echo "$tags"; exit 1; }
[ -z "$tags" ] || { echo "$tags"; echo "check-release: lintian shows the tags above" >&2; exit 1; }
echo "check-release: lintian passes $(echo dist/*.deb)"
(cd dist && printf '%s\n' *.deb) | passed lintian

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# hardening-check is told not to look for what no program here can have.
# Control-flow protection (x86's IBT and SHSTK, from -fcf-protection): the
# C start files of Debian's glibc carry no such marks, so the linker drops
# them from every program.  Branch protection (BTI and PAC) on amd64: it is
# an AArch64 defence, but hardening-check 2.25 and later look for it on
# every machine.
skip_bti=
case $(hardening-check --help 2>&1) in *--nobranchprotection*) skip_bti=--nobranchprotection ;; esac
for deb in dist/*.deb; do
    dpkg-deb -x "$deb" "$work/${deb##*/}"
    case $deb in *_arm64.deb) skip= ;; *) skip=$skip_bti ;; esac
    # shellcheck disable=SC2086 # no option, or one
    hardening-check --nocfprotection $skip "$work/${deb##*/}/usr/bin/client"
    echo "${deb##*/}" >>"$work/hardened"
done
passed hardening-check <"$work/hardened"

# The tree as git sees it (the history, for the date; the files that git
# knows of or would add, as they are now), without build/ or dist/.
git clone --quiet --no-checkout . "$work/tree"
# shellcheck disable=SC2016 # the inner shell expands $file
git ls-files -z --cached --others --exclude-standard |
    xargs -0 sh -c 'for file; do [ -e "$file" ] && printf "%s\0" "$file"; done' sh |
    tar --null -T - -cf - | tar -xf - -C "$work/tree"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
# Accounts of its own are the one variation that needs more than root.  It
# ends by listing the artefacts that it found identical, with their sums.
(cd "$work/tree" && $sudo reprotest --vary=-user_group -c scripts/release.sh . 'dist/*') >"$work/reprotest.log" 2>&1 ||
    { cat "$work/reprotest.log"; exit 1; }
cat "$work/reprotest.log"
sed -n '/^No differences in /,$ s|^[0-9a-f]\{64\}  \./dist/||p' "$work/reprotest.log" | passed reprotest
