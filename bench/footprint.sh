#!/usr/bin/env bash
# Size, imported DLLs and PE hardening flags of lumbrix.exe as built by the
# `windows` preset.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v x86_64-w64-mingw32-objdump >/dev/null || bash scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target lumbrix >/dev/null

exe=build/windows/lumbrix.exe
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
size=$(stat -c %s "$exe")
printf 'lumbrix.exe: %d bytes (%.1f KB; goal at most 150 KB)\n' "$size" "$(awk -v s="$size" 'BEGIN { print s / 1024 }')"
echo "imported DLLs:"
sed -n 's/^\s*DLL Name: /  /p' <<<"$headers"
echo "hardening:"
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
    if grep -q "$flag" <<<"$headers"; then echo "  $flag yes"; else echo "  $flag NO"; fi
done
# The DLL search path is restricted before anything loads a DLL on demand.
if grep -q ' SetDefaultDllDirectories$' <<<"$headers"; then
    echo "DLL search: SetDefaultDllDirectories imported"
else
    echo "DLL search: SetDefaultDllDirectories NOT imported"
    exit 1
fi
