#!/bin/sh
# Installs, with apt-get, whatever the build, the tests and the benchmark need
# and this machine lacks.  Tools already on the PATH are left alone.
#
#   scripts/setup.sh [GROUP...]    groups: linux windows checks bench all
#                                  (default: all)
set -eu

packages_for() {
    case "$1" in
        linux)   echo "cmake:cmake ninja:ninja-build g++:g++ python3:python3 strace:strace nc:netcat-openbsd" ;;
        windows) echo "x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix wine:wine64 wine:wine" ;;
        checks)  echo "valgrind:valgrind clang-tidy:clang-tidy clang-format:clang-format cppcheck:cppcheck" ;;
        bench)   echo "hyperfine:hyperfine socat:socat nc:netcat-openbsd valgrind:valgrind strace:strace /usr/bin/time:time" ;;
    esac
}

[ $# -gt 0 ] || set -- all
[ "$1" = all ] && set -- linux windows checks bench

for group in "$@"; do
    case "$group" in
        linux|windows|checks|bench) ;;
        *) echo "setup.sh: unknown group '$group' (linux windows checks bench all)" >&2; exit 2 ;;
    esac
done

missing=
for group in "$@"; do
    for pair in $(packages_for "$group"); do
        command -v "${pair%%:*}" >/dev/null 2>&1 || missing="$missing ${pair#*:}"
    done
done
if [ -z "$missing" ]; then
    echo "setup.sh: everything is installed"
    exit 0
fi

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "setup.sh: installing $missing"
$sudo apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
