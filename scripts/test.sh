#!/usr/bin/env bash
# Runs every test: host unit and property tests under ASan/UBSan, the fuzz
# run of the settings reader, the Windows build with both compilers, the
# release zip built twice from clean clones and compared byte for byte, and
# the Windows programs under Wine (settings store, startup shortcut,
# end-to-end). The Wine tests come last, so that ctest's summary closes the run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

echo "== host tests (g++, ASan/UBSan)"
cmake --preset host
cmake --build --preset host
ctest --preset host

echo "== fuzzing the settings reader (clang, libFuzzer)"
cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz

echo "== Windows build (clang, second compiler)"
cmake --preset windows-clang
cmake --build --preset windows-clang

echo "== release zip: two clean clones of HEAD give the same bytes"
bash scripts/package_check.sh

echo "== Windows build (mingw-w64 g++) and its tests under Wine"
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
