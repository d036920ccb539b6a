#!/usr/bin/env bash
# Builds the release zip twice, from two clean clones of the committed HEAD in
# folders of different depth, and fails unless both give the same lumbrix.exe
# and the same zip. Then checks what the zip holds: lumbrix.exe exactly as
# built, guide-ja.html as one UTF-8 page with its picture inside, and
# LICENSE.txt; that the .sha256 file beside it matches; and that no address
# of the reserved example.org domain stands in the exe, the README or the
# guide. Last it draws the guide's page in headless Chromium to
# build/guide-ja.png, to be looked at. Uncommitted changes are not built.
set -euo pipefail
cd "$(dirname "$0")/.."

commit=$(git rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clones=("$work/one/lumbrix" "$work/second/clone/of/lumbrix")
for clone in "${clones[@]}"; do
    git clone -q --no-checkout . "$clone"
    git -C "$clone" checkout -q "$commit"
    (cd "$clone" && cmake --workflow --preset package >/dev/null)
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
entries=$(unzip -Z1 "$build/$zip_name" | LC_ALL=C sort | tr '\n' ' ')
if [ "$entries" != "LICENSE.txt guide-ja.html lumbrix.exe " ]; then
    echo "FAIL: $zip_name holds: $entries" >&2
    exit 1
fi
unzip -p "$build/$zip_name" lumbrix.exe | cmp - "$build/lumbrix.exe"
guide=$(unzip -p "$build/$zip_name" guide-ja.html)
if ! grep -q '<meta charset="utf-8">' <<<"$guide" || ! grep -q 'src="data:image/png;base64,' <<<"$guide"; then
    echo "FAIL: guide-ja.html lacks its charset or its embedded picture" >&2
    exit 1
fi
if ! unzip -p "$build/$zip_name" LICENSE.txt | grep -q '^MIT License'; then
    echo "FAIL: LICENSE.txt in $zip_name is not the MIT licence" >&2
    exit 1
fi
# The exe keeps its texts in UTF-16, the rest in UTF-8.
placeholder='example\.org'
exe_texts=$(strings -a "$build/lumbrix.exe" && strings -a -el "$build/lumbrix.exe")
if grep -qi "$placeholder" - <<<"$exe_texts" ||
    grep -qi "$placeholder" "${clones[0]}/README.md" "${clones[0]}/docs/ja/guide.md" - <<<"$guide"; then
    echo "FAIL: example.org, a domain reserved for examples, in the exe, the README or the guide" >&2
    exit 1
fi
echo "$zip_name holds lumbrix.exe as built, guide-ja.html and LICENSE.txt; its checksum file matches; no example.org"

# A tall window, cut to the page; as root Chromium runs only without its sandbox.
picture=build/guide-ja.png
mkdir -p build
unzip -p "$build/$zip_name" guide-ja.html >"$work/guide-ja.html"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,16000 \
    --screenshot="$work/page.png" "file://$work/guide-ja.html" >/dev/null 2>&1
convert "$work/page.png" -trim +repage -bordercolor white -border 24 "$picture"
echo "guide-ja.html as a browser draws it: $picture"
