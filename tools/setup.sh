#!/usr/bin/env bash
# Installs everything the build, the saver run and the tests need on a fresh
# Debian machine. Quick when everything is already there.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev libpng-dev libgif-dev
    g++-mingw-w64-x86-64 g++-mingw-w64-i686
    wine wine64 xvfb xdotool x11-utils imagemagick
    fonts-ipafont-gothic locales python3
    nsis zip
    clang libclang-rt-14-dev e2fsprogs
)

missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done

sudo_if_needed() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_if_needed apt-get update -q
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# A Japanese locale (code page 932 under Wine) for the locale tests.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    sudo_if_needed sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | sudo_if_needed tee -a /etc/locale.gen >/dev/null
    sudo_if_needed locale-gen >/dev/null
fi
