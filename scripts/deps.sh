#!/usr/bin/env bash
# Installs with apt-get whatever this machine lacks for building, testing and
# running Lumbrix. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    g++-mingw-w64-x86-64   # the Windows cross compiler
    wine wine64            # runs lumbrix.exe and the Windows tests
    fonts-wine             # Marlett, for the caption buttons Wine draws
    xvfb xauth x11-utils   # a display for Wine when none is given
    xdotool                # physical keystrokes and clicks through XTEST
    imagemagick            # screenshots of the settings window
    locales fonts-noto-cjk # Japanese texts
    liblnk-utils           # lnkinfo, to read the startup shortcut
    libxtst-dev            # XTEST for the end-to-end runner
    python3                # the end-to-end runner (standard library only)
    python3-markdown       # the guide rendered to HTML for the release zip
    chromium               # the guide's page drawn to a picture by the release check
    unzip binutils         # reading the release zip and the exe's texts back in its check
    binutils-mingw-w64-x86-64 # the exe's import table, for the same check
    valgrind               # instruction counts of the hook
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine renders the Japanese window texts only under a Japanese locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
fi
