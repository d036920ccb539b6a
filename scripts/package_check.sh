#!/usr/bin/env bash
# Builds the release zip twice, from two clean clones of the committed HEAD in
# folders of different depth, and fails unless both give the same lumbrix.exe
# and the same zip. Then checks what the zip holds: one folder Lumbrix (no
# version, so that an update unpacks over the old one) with lumbrix.exe
# exactly as built, guide-ja.html as one UTF-8 page with its picture inside,
# and LICENSE.txt; that the .sha256 file beside it matches; that no address of
# the reserved example.org domain stands in the exe, the README or the guide;
# and what the guide says of the exe: it imports and names no network DLL, it
# carries the licence's copyright line, and the guide names every label of the
# window and the tray menu and quotes none that the exe does not have. Last it
# draws the guide's page in headless Chromium to build/guide-ja.png, to be
# looked at. Uncommitted changes are not built.
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
top=Lumbrix
entries=$(unzip -Z1 "$build/$zip_name" | LC_ALL=C sort | tr '\n' ' ')
if [ "$entries" != "$top/LICENSE.txt $top/guide-ja.html $top/lumbrix.exe " ]; then
    echo "FAIL: $zip_name holds: $entries" >&2
    exit 1
fi
unzip -p "$build/$zip_name" "$top/lumbrix.exe" | cmp - "$build/lumbrix.exe"
guide=$(unzip -p "$build/$zip_name" "$top/guide-ja.html")
if ! grep -q '<meta charset="utf-8">' <<<"$guide" || ! grep -q 'src="data:image/png;base64,' <<<"$guide"; then
    echo "FAIL: guide-ja.html lacks its charset or its embedded picture" >&2
    exit 1
fi
if ! unzip -p "$build/$zip_name" "$top/LICENSE.txt" | grep -q '^MIT License'; then
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
echo "$zip_name holds $top/ with lumbrix.exe as built, guide-ja.html and LICENSE.txt; its checksum file matches; no example.org"

x86_64-w64-mingw32-objdump -p "$build/lumbrix.exe" >"$work/headers.txt"
python3 - "$build/lumbrix.exe" "$work/headers.txt" "${clones[0]}/docs/ja/guide.md" "${clones[0]}/LICENSE" <<'EOF'
import difflib
import re
import sys

exe_path, headers_path, guide_path, license_path = sys.argv[1:]
exe = open(exe_path, "rb").read()
imports = [line.split(":", 1)[1].strip().lower() for line in open(headers_path) if "DLL Name:" in line]
if "kernel32.dll" not in imports:
    sys.exit("FAIL: no import table read from " + exe_path)
failures = []
# The guide says that Lumbrix connects to no network: no network DLL is
# imported, or named (in either encoding) to be loaded at run time.
for dll in ("ws2_32", "wsock32", "mswsock", "wininet", "winhttp", "urlmon", "dnsapi", "iphlpapi", "httpapi",
            "netapi32", "webio"):
    if dll + ".dll" in imports or dll.encode() in exe.lower() or dll.encode("utf-16-le") in exe.lower():
        failures.append("the exe imports or names the network DLL " + dll)
# The exe's UTF-16 texts, at either byte alignment: each run of text units
# that ends at a terminator, whatever precedes it (a literal may follow a
# switch's jump table rather than another literal's terminator).
text = "[\u0020-\u007e\u2190-\u21ff\u3000-\u30ff\u4e00-\u9fff\uff01-\uff5e]"
texts = set()
for offset in (0, 1):
    units = exe[offset:len(exe) - (len(exe) - offset) % 2].decode("utf-16-le", "replace")
    texts.update(re.findall("(?<!" + text + ")" + text + "+(?=\x00)", units))
copyright = next(line.strip() for line in open(license_path, encoding="utf-8") if line.startswith("Copyright"))
if copyright not in texts:
    failures.append("the version resource lacks the licence's line " + repr(copyright))
# The labels: the window's and the menu's Japanese texts. A box or window
# label has no space and is no sentence (the notices and tooltip lines are);
# a menu item or button carries an access key, "(&P)", which the guide leaves
# out, as it does a label's closing colon. A printf field ("%s") stands for
# the name the program puts there.
def plain(t):
    return re.sub(r"[:\uff1a]$", "", re.sub(r"\(&\w\)$", "", t).replace("&", ""))
def pattern(t):
    return "".join(".+?" if re.fullmatch("%l?[sdu]", part) else re.escape(part)
                   for part in re.split("(%l?[sdu])", t))
japanese = [t for t in texts if re.search("[\u3040-\u30ff\u4e00-\u9fff]", t)]
labels = sorted({plain(t) for t in japanese
                 if re.search(r"\(&\w\)$", t) or (len(t) >= 6 and " " not in t and not t.endswith("\u3002")
                                                     and re.search("[\u3040-\u30ff]", t))})
labels = [label for label in labels if label]
guide = open(guide_path, encoding="utf-8").read()
if len(labels) < 5:
    failures.append("expected at least the five box labels among the exe's texts, found %r" % labels)
for label in labels:
    if not re.search(pattern(label), guide):
        failures.append("the guide never names " + repr(label))
# A quote close to one of the exe's texts, or to its start, must be that text
# or its start: a label or notice renamed in the program, or mistyped in the
# guide, is caught; a Windows label that only shares some words
# ("スタートアップ アプリ") is not.
quoted = (re.findall("\u300c([^\u300c\u300d]+)\u300d", guide) + re.findall("\uff3b([^\uff3b\uff3d]+)\uff3d", guide)
          + re.findall("^#+ (.+)$", guide, re.M))
ours = {plain(t) for t in japanese}
for quote in sorted(set(quoted)):
    if any(re.fullmatch(pattern(t), quote) or (t.startswith(quote) and "%" not in t) for t in ours):
        continue
    # Against the whole text, and against its start as long as the quote.
    likeness = {t: max(difflib.SequenceMatcher(None, quote, t).ratio(),
                       difflib.SequenceMatcher(None, quote, t[:len(quote)]).ratio()) for t in ours}
    near = max(likeness, key=likeness.get, default="")
    if near and likeness[near] >= 0.8:
        failures.append("the guide quotes %r, which the exe does not have (it has %r)" % (quote, near))
for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
if failures:
    sys.exit(1)
print("lumbrix.exe imports %s; no network DLL; its copyright is the licence's; the guide names its %d labels: %s"
      % (", ".join(imports), len(labels), ", ".join(labels)))
EOF

# A tall window, cut to the page; as root Chromium runs only without its sandbox.
picture=build/guide-ja.png
mkdir -p build
unzip -p "$build/$zip_name" "$top/guide-ja.html" >"$work/guide-ja.html"
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,16000 \
    --screenshot="$work/page.png" "file://$work/guide-ja.html" >/dev/null 2>&1
convert "$work/page.png" -trim +repage -bordercolor white -border 24 "$picture"
echo "guide-ja.html as a browser draws it: $picture"
