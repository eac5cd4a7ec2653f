#!/bin/bash
# Installs what the end-to-end tests under Wine need; quick when everything is present.
set -euo pipefail

packages=(wine wine64 xvfb xdotool imagemagick fonts-ipafont-gothic locales
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 x11-utils cmake make g++)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Japanese screenshots run Wine in code page 932, which needs this locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "setup: generating ja_JP.UTF-8"
    sed -i 's/^# *ja_JP.UTF-8/ja_JP.UTF-8/' /etc/locale.gen
    locale-gen >/dev/null
fi
