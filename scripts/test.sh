#!/usr/bin/env bash
# Runs every test: host unit and property tests under ASan/UBSan, the fuzz
# run of the settings reader, the Windows build with both compilers, and the
# Windows programs under Wine (settings store, startup shortcut, end-to-end).
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

echo "== Windows build (mingw-w64 g++) and its tests under Wine"
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
