#!/bin/bash
# Tests Kelvo's installer under Wine in Xvfb, silently: install, the files and registry values it
# leaves, the installed saver running, and uninstall. Prints PASS or FAIL per test and exits
# nonzero when any fails.
#
#   tests/e2e/installer/run.sh [--no-build]
#
# The installer users get is a 32-bit program. A Wine without its 32-bit side cannot run it; the
# test then runs the same script built as a 64-bit installer.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
cd "$root"

if [ "${1:-}" != "--no-build" ]; then
    tools/package.sh >/dev/null
    # The harness beside kelvo.scr.
    cmake --build --preset windows-x64 --target kelvo-harness >/dev/null
fi

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-x64/CMakeCache.txt)
setup="build/package/Kelvo-$version-setup.exe"
[ -f "$setup" ] || { echo "FAIL installer: $setup is missing (run tools/package.sh)"; exit 1; }

wine32=0
for dll in /usr/lib/wine/i386-windows/kernel32.dll /usr/lib/*/wine/i386-windows/kernel32.dll \
           /opt/wine*/lib/wine/i386-windows/kernel32.dll; do
    [ -f "$dll" ] && wine32=1
done
if [ "$wine32" = 0 ]; then
    mkdir -p build/installer-test
    setup="build/installer-test/Kelvo-$version-setup-amd64.exe"
    makensis -V1 -DTARGET_AMD64 -DVERSION="$version" -DX64="$root/build/windows-x64/kelvo.scr" \
        -DX86="$root/build/windows-x86/kelvo.scr" -DOUTFILE="$root/$setup" installer/kelvo.nsi
    echo "installer: this Wine runs no 32-bit programs; testing the 64-bit build of the same script"
fi

exec python3 tests/e2e/installer/test_installer.py --setup "$setup" --version "$version" \
    --build build/windows-x64 --artifacts build/e2e-artifacts/installer
