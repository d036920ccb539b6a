#!/usr/bin/env bash
# Builds the release zip twice, from two clean clones of the committed HEAD in
# folders of different depth, and fails unless both give the same lumbrix.exe
# and the same zip. Then checks what the zip holds: lumbrix.exe exactly as
# built, and guide-ja.html as one UTF-8 page with its picture inside; and that
# the .sha256 file beside it matches. Uncommitted changes are not built.
set -euo pipefail
cd "$(dirname "$0")/.."

commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clones=("$work/one/lumbrix" "$work/second/clone/of/lumbrix")
for clone in "${clones[@]}"; do
    git clone -q --no-checkout . "$clone"
    git -C "$clone" checkout -q "$commit"
    (cd "$clone" && cmake --preset windows >/dev/null && cmake --build --preset windows --target package >/dev/null)
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${clones[0]}/build/windows/CMakeCache.txt")
zip_name=Lumbrix-$version-win64.zip
for file in lumbrix.exe "$zip_name"; do
    hashes=$(for clone in "${clones[@]}"; do sha256sum <"$clone/build/windows/$file" | cut -d" " -f1; done | sort -u)
    if [ "$(wc -l <<<"$hashes")" -ne 1 ]; then
        echo "FAIL: two clean builds of $commit give different $file:" >&2
        echo "$hashes" >&2
        exit 1
    fi
    echo "same $file from both clones: $hashes"
done

build=${clones[0]}/build/windows
(cd "$build" && sha256sum --check --quiet "$zip_name.sha256")
entries=$(unzip -Z1 "$build/$zip_name" | sort | tr '\n' ' ')
if [ "$entries" != "guide-ja.html lumbrix.exe " ]; then
    echo "FAIL: $zip_name holds: $entries" >&2
    exit 1
fi
unzip -p "$build/$zip_name" lumbrix.exe | cmp - "$build/lumbrix.exe"
guide=$(unzip -p "$build/$zip_name" guide-ja.html)
if ! grep -q '<meta charset="utf-8">' <<<"$guide" || ! grep -q 'src="data:image/png;base64,' <<<"$guide"; then
    echo "FAIL: guide-ja.html lacks its charset or its embedded picture" >&2
    exit 1
fi
echo "$zip_name holds lumbrix.exe as built and guide-ja.html; its checksum file matches"
