#!/usr/bin/env bash
# Installs everything the build, the saver run and the tests need on a fresh
# Debian machine. Quick when everything is already there. Wine's 32-bit side is
# optional: when it cannot be had, the set-up says so and the x86 cases skip.
# Sourced (tests/tools/setup_test.sh), it only defines its functions.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev libpng-dev libgif-dev
    g++-mingw-w64-x86-64 g++-mingw-w64-i686
    wine wine64 xvfb openbox xdotool x11-utils imagemagick
    xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
    fonts-ipafont-gothic locales python3 python3-pytest
    nsis zip osslsigncode openssl
    clang libclang-rt-14-dev e2fsprogs
)
os_release=/etc/os-release

sudo_if_needed() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_get() {
    sudo_if_needed env DEBIAN_FRONTEND=noninteractive apt-get "$@"
}

installed() {
    dpkg -s "$1" 2>/dev/null | grep -q '^Status: install ok installed'
}

# A mirror caught mid-sync fails one index; what the others give may still do.
update() {
    apt_get update -q || echo "setup: apt-get update reported errors; trying the install anyway"
}

# Wine runs the x86 build through its 32-bit side, whose loader is a 32-bit Linux
# program. Some kernels run none (32-bit emulation off): there the 32-bit side
# would break `wine` for 64-bit programs too, so it is left out and the x86 cases
# are skipped. The probe is a 96-byte i386 program that exits with 42.
runs_32_bit() {
    local probe
    probe=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
    chmod +x "$probe"
    local status=0
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}

# Wine's 32-bit side is asked for together with the 64-bit packages: installed
# first, an amd64 library can take a security update whose i386 twin the mirror
# lacks yet, and multi-arch twins must match, so wine32:i386 would then need a
# downgrade. Together, apt picks versions both have; the release's own suite (-t)
# is the second try. Each set is simulated first, and nothing is downgraded or
# removed for it.
install_with_wine32() {  # MISSING_64_BIT_PACKAGE...
    local codename
    codename=$(. "$os_release" 2>/dev/null && echo "${VERSION_CODENAME:-}") || codename=
    if apt_get install -s -q --no-remove "$@" wine32:i386 >/dev/null 2>&1; then
        apt_get install -y -q --no-remove "$@" wine32:i386
    elif [ -n "$codename" ] &&
        apt_get install -s -q --no-remove -t "$codename" "$@" wine32:i386 >/dev/null 2>&1; then
        echo "setup: installing from the main suite (-t $codename): packages new here get the security suite's newer versions only at the next upgrade"
        apt_get install -y -q --no-remove -t "$codename" "$@" wine32:i386
    else
        [ $# -eq 0 ] || apt_get install -y -q "$@"
        echo "setup: Wine's 32-bit side could not be installed (apt-get found no set with it that downgrades or removes nothing, also with -t ${codename:-<no release name>}); the x86 cases will be skipped"
        return 0
    fi
    echo "setup: Wine's 32-bit side (wine32:i386) is installed"
}

main() {
    local missing=() package wine32=
    for package in "${packages[@]}"; do
        installed "$package" || missing+=("$package")
    done
    if ! runs_32_bit; then
        echo "setup: this kernel runs no 32-bit programs; the x86 build's end-to-end cases will be skipped"
    elif ! installed wine32:i386; then
        wine32=wine32:i386
        dpkg --print-foreign-architectures | grep -qx i386 || sudo_if_needed dpkg --add-architecture i386
    fi
    if [ ${#missing[@]} -gt 0 ] || [ -n "$wine32" ]; then
        echo "setup: installing" "${missing[@]}" $wine32
        update
    fi
    if [ -n "$wine32" ]; then
        install_with_wine32 "${missing[@]}"
    elif [ ${#missing[@]} -gt 0 ]; then
        apt_get install -y -q "${missing[@]}"
    fi

    # A Japanese locale (code page 932 under Wine) for the locale tests.
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
        sudo_if_needed sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
        grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | sudo_if_needed tee -a /etc/locale.gen >/dev/null
        sudo_if_needed locale-gen >/dev/null
    fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    main
fi
