#!/usr/bin/env bash
# Every figure of BENCHMARKS.md in one run, on a fresh clone: instructions per
# key event and per mouse event while an Alt tap is pending, scaling with the
# length of the stream, footprint of lumbrix.exe, the time a switch click's
# save holds the hook's thread, what the watchdog's WM_INPUT costs that
# thread per key, what installing and removing the mouse hook costs an Alt
# press, and the latency Lumbrix adds under Wine next to a bare yardstick
# hook, for keys and for mouse moves.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

echo "== machine"
echo "$(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
echo "$(g++ --version | head -1); $(x86_64-w64-mingw32-g++-win32 --version | head -1); $(wine --version)"

echo
echo "== instructions per key event, and per mouse event while an Alt tap is pending (callgrind)"
bash bench/instructions.sh

echo
echo "== footprint"
bash bench/footprint.sh

echo
echo "== the settings save, the watchdog's WM_INPUT and the mouse hook's installation (under Wine, in a scratch folder on $(df --output=source /tmp | tail -1))"
cmake --build --preset windows --target save_timing raw_input_timing mouse_hook_timing >/dev/null
scratch=$(mktemp -d /tmp/save-timing-XXXXXX)
cp build/windows/bench/save_timing.exe build/windows/bench/raw_input_timing.exe \
    build/windows/bench/mouse_hook_timing.exe "$scratch/"
(cd "$scratch" && WINEPREFIX="$scratch/prefix" WINEDEBUG=-all wine save_timing.exe 2>/dev/null)
(cd "$scratch" && WINEPREFIX="$scratch/prefix" WINEDEBUG=-all xvfb-run -a wine raw_input_timing.exe 2>/dev/null)
(cd "$scratch" && WINEPREFIX="$scratch/prefix" WINEDEBUG=-all xvfb-run -a wine mouse_hook_timing.exe 2>/dev/null)
WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true
rm -rf "$scratch"

echo
echo "== added latency under Wine"
cmake --build --preset windows --target key_probe yardstick_hook >/dev/null
/usr/bin/python3 bench/latency.py --lumbrix build/windows/lumbrix.exe \
    --probe build/windows/tests/e2e/key_probe.exe --yardstick build/windows/bench/yardstick_hook.exe

echo
echo "== mouse-move latency under Wine: no hook, a bare mouse hook, Lumbrix with and without an Alt tap pending"
/usr/bin/python3 bench/mouse_latency.py --lumbrix build/windows/lumbrix.exe \
    --probe build/windows/tests/e2e/key_probe.exe --yardstick build/windows/bench/yardstick_hook.exe
