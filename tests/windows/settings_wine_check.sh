#!/usr/bin/env bash
# Runs settings_store_check.exe under Wine in a fresh prefix of its own: the
# `setting` file cases beside the executable, an executable deeper than 256
# units and one in a drive root, a save on a full disk, and the startup
# shortcut (read back with lnkinfo). Removes the prefix and every file it
# made, also on failure.
# Usage: settings_wine_check.sh WINE CHECK_EXE
set -euo pipefail

wine=$1
check_exe=$2
name=$(basename "$check_exe")

scratch=$(mktemp -d /tmp/settings-wine-XXXXXX)
export WINEPREFIX=$scratch/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES=winemenubuilder.exe=d
# No display is needed; keep Wine off any display the caller has.
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

failed=0
fail() {
    echo "FAIL $*"
    failed=1
}

# The Windows path Wine gives a Unix path through its Z: drive.
windows_path() {
    local path=$1
    echo "Z:${path//\//\\}"
}

# Runs a copy of the program placed in folder $1 with the mode $2 (and the
# path Wine should start it by, $3, when not the Unix one).
run_check() {
    local folder=$1 mode=$2 start=${3:-$1/$name}
    mkdir -p "$folder"
    cp "$check_exe" "$folder/$name"
    echo "== $mode in $folder"
    (cd "$scratch" && "$wine" "$start" "$mode") || fail "$mode in $folder"
}

"$wine" wineboot --init >/dev/null 2>&1
canonical_off=$'capslock_to_ctrl=0\nswap_alt_for_ctrl=0\nsend_lang=0\nuse_dvorak=0'

run_check "$scratch/app" store

deep="$scratch/deep/$(printf 'd%.0s' {1..100})/$(printf 'e%.0s' {1..100})/$(printf 'f%.0s' {1..100})"
run_check "$deep" path
[ "$(cat "$deep/setting" 2>/dev/null)" = "$canonical_off" ] || fail "setting beside a deep executable"

# A drive root: the settings path gets a doubled backslash, "R:\\setting".
mkdir -p "$scratch/root"
ln -s "$scratch/root" "$WINEPREFIX/dosdevices/r:"
run_check "$scratch/root" path 'R:\'"$name"
[ "$(cat "$scratch/root/setting" 2>/dev/null)" = "$canonical_off" ] || fail "setting beside an executable in a drive root"

# The temporary file of the save is /dev/full: its write fails like a full
# disk's.
mkdir -p "$scratch/full"
printf 'capslock_to_ctrl=1\nswap_alt_for_ctrl=0\nsend_lang=0\nuse_dvorak=1' >"$scratch/full/setting"
ln -s /dev/full "$scratch/full/setting.tmp"
run_check "$scratch/full" full-disk

# The shortcut: made, read back, deleted.
run_check "$scratch/app" shortcut-create
startup_dir=$(find "$WINEPREFIX/drive_c/users" -ipath '*/Start Menu/Programs/Startup' -type d | head -n 1)
link="$startup_dir/$name.lnk"
if [ -f "$link" ]; then
    info=$(lnkinfo "$link" 2>/dev/null) || fail "lnkinfo cannot read $link"
    field() {
        # Wine stores its strings with a trailing NUL; the text before it counts.
        sed -n "s/^[[:space:]]*$1[[:space:]]*: //p" <<<"$info" | tr -d '\000'
    }
    target=$(field 'Local path')
    arguments=$(field 'Command line arguments')
    expected_target=$(windows_path "$scratch/app/$name")
    echo "lnkinfo: target '$target', arguments '$arguments'"
    [ "$target" = "$expected_target" ] || fail "shortcut target '$target', not '$expected_target'"
    [ "$arguments" = "/hide" ] || fail "shortcut arguments '$arguments', not '/hide'"
    ! grep -q 'Working directory' <<<"$info" || fail "shortcut has a working directory"
else
    fail "no $name.lnk in the Startup folder"
fi
run_check "$scratch/app" shortcut-delete
[ ! -e "$link" ] || fail "shortcut still there after deletion"

if [ "$failed" -ne 0 ]; then
    echo "settings store checks under Wine: FAILED"
    exit 1
fi
echo "settings store checks under Wine: all passed"
