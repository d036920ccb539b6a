#!/usr/bin/env bash
# Builds lumbrix.exe and runs it under Wine: on $DISPLAY when one is reachable,
# otherwise in an Xvfb started here (display :97, or the first free one after
# it). Saves a screenshot of the settings window as build/lumbrix-window.png,
# then waits until the program ends (its Exit button or tray menu, or Ctrl+C
# here). With --exit-after-screenshot it stops the program once the picture
# is taken. --dpi N sets the prefix's display scale (96, 120, 144 or 192;
# 96 when not given), the way Windows' scale setting does: the guide's
# picture is taken at 192, to be shown at half size.
#
# Wine gets a prefix of its own, build/wine (LUMBRIX_WINEPREFIX overrides it),
# and a Japanese locale so that the window's texts render.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

usage() {
    echo "usage: $0 [--dpi 96|120|144|192] [--exit-after-screenshot]" >&2
    exit 2
}
exit_after_screenshot=0
dpi=96
while (($#)); do
    case "$1" in
    --exit-after-screenshot) exit_after_screenshot=1 ;;
    --dpi)
        [[ "${2:-}" =~ ^(96|120|144|192)$ ]] || usage
        dpi=$2
        shift
        ;;
    *) usage ;;
    esac
    shift
done

bash scripts/deps.sh

echo "== building lumbrix.exe"
cmake --preset windows >/dev/null
# The guide beside the exe, as in the release zip: the notice links to it.
cmake --build --preset windows --target lumbrix guide
exe=$root/build/windows/lumbrix.exe
# The window title carries the version of project() in CMakeLists.txt.
title="Lumbrix $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)"
screenshot=$root/build/lumbrix-window.png

export WINEPREFIX=${LUMBRIX_WINEPREFIX:-$root/build/wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winemenubuilder.exe=d
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

xvfb_pid=""
lumbrix_pid=""
cleanup() {
    if [ -n "$lumbrix_pid" ] && kill -0 "$lumbrix_pid" 2>/dev/null; then
        wineserver -k 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

display_free() {
    [ ! -e "/tmp/.X$1-lock" ] && [ ! -e "/tmp/.X11-unix/X$1" ]
}

start_xvfb() {
    local number=97
    while ! display_free "$number"; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$number"
    for _ in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && return
        sleep 0.2
    done
    echo "Xvfb on $DISPLAY did not come up" >&2
    exit 1
}

own_display=0
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "== using the display $DISPLAY"
else
    [ -z "${DISPLAY:-}" ] || echo "The display $DISPLAY cannot be reached; starting Xvfb instead."
    start_xvfb
    own_display=1
    echo "== started Xvfb on $DISPLAY"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== preparing the Wine prefix $WINEPREFIX (once)"
    # No Mono or Gecko: the program needs neither, and their installers would ask.
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
fi
# The caption buttons are drawn with the Marlett font, which this Wine build
# does not find in its own data folder.
fonts=$WINEPREFIX/drive_c/windows/Fonts
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
    mkdir -p "$fonts"
    cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi
# Xvfb has no window manager: Wine then draws the frames itself. A real
# desktop's window manager keeps its own.
x11_driver='HKCU\Software\Wine\X11 Driver'
if [ "$own_display" -eq 1 ]; then
    wine reg add "$x11_driver" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
else
    wine reg delete "$x11_driver" /v Managed /f >/dev/null 2>&1 || true
fi

# The display scale as the end-to-end suite sets it: every process of the
# prefix reads it afresh once the server has ended.
desktop='HKCU\Control Panel\Desktop'
if ! wine reg query "$desktop" /v LogPixels 2>/dev/null | tr -d '\r' | grep -qi "LogPixels.*REG_DWORD.*0x$(printf %x "$dpi")\$"; then
    echo "== display scale of the prefix: $dpi DPI"
    wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w
fi

echo "== starting lumbrix.exe"
wine "$exe" &
lumbrix_pid=$!

window=""
for _ in $(seq 120); do
    window=$(xwininfo -name "$title" 2>/dev/null | awk '/Window id:/ { print $4 }') || true
    if [ -n "$window" ] && xwininfo -id "$window" 2>/dev/null | grep -q 'IsViewable'; then
        break
    fi
    window=""
    if ! kill -0 "$lumbrix_pid" 2>/dev/null; then
        # A running instance was handed the window instead; keep looking.
        lumbrix_pid=""
    fi
    sleep 0.5
done
if [ -z "$window" ]; then
    echo "The settings window did not appear within a minute." >&2
    exit 1
fi
sleep 1 # let the controls paint
import -window "$window" "$screenshot"
echo "Screenshot of the settings window: $screenshot"

if [ "$exit_after_screenshot" -eq 1 ] || [ -z "$lumbrix_pid" ]; then
    exit 0
fi
if [ "$own_display" -eq 1 ]; then
    echo "lumbrix.exe runs in Xvfb on $DISPLAY; press Ctrl+C to stop it."
else
    echo "lumbrix.exe runs; end it with its Exit button (終了) or tray menu, or press Ctrl+C."
fi
wait "$lumbrix_pid" || true
lumbrix_pid=""
