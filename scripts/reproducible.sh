#!/bin/sh
# Proves that the release artefacts are reproducible: builds the working
# tree twice, from two copies in two folders, one after the other, and
# compares the programs, packages and checksums byte for byte.  Dates come
# from SOURCE_DATE_EPOCH if it is set, else from the last commit.
set -eu
cd "$(dirname "$0")/.."

artefacts="build/default/client build/default/client-*-Linux-x86_64.tar.gz build/default/client_*_amd64.deb
build/default/SHA256SUMS build/windows/client.exe build/windows/client-*-win64.zip build/windows/SHA256SUMS
build/linux-arm64/client build/linux-arm64/client-*-Linux-aarch64.tar.gz build/linux-arm64/SHA256SUMS"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for copy in first second; do
    echo "reproducible: building the $copy copy"
    # The history, for the commit's date, and the files that git knows of
    # or would add, as they are now.
    git clone --quiet --no-checkout . "$work/$copy"
    # shellcheck disable=SC2016 # the inner shell expands $file
    git ls-files -z --cached --others --exclude-standard |
        xargs -0 sh -c 'for file; do [ -e "$file" ] && printf "%s\0" "$file"; done' sh |
        tar --null -T - -cf - | tar -xf - -C "$work/$copy"
    (
        cd "$work/$copy"
        cmake --workflow --preset package >/dev/null
        cmake --workflow --preset package-windows >/dev/null
        cmake --preset linux-arm64 >/dev/null
        cmake --build --preset linux-arm64 >/dev/null
        cpack --preset linux-arm64 >/dev/null
    )
    sleep 1 # the second build starts at a later second, whatever the machine's speed
done

status=0
for pattern in $artefacts; do
    # shellcheck disable=SC2086 # the pattern is meant to expand to one file
    set -- "$work"/first/$pattern
    if [ $# -ne 1 ] || [ ! -f "$1" ]; then
        echo "reproducible: no single file matches $pattern" >&2
        status=1
        continue
    fi
    if cmp "$1" "$work/second/${1#"$work"/first/}"; then
        echo "reproducible: identical ${1#"$work"/first/}"
    else
        status=1
    fi
done
exit $status
