#!/usr/bin/env bash
# Builds kelvo.scr for x64 and x86 and packs them for users:
#   build/package/Kelvo-<version>-setup.exe   the installer (tools: makensis)
#   build/package/Kelvo-<version>.zip         x64/kelvo.scr, x86/kelvo.scr, README.md, LICENSE
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target kelvo
done

# The one place the version is set is the CMake project; the configured build knows it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-x64/CMakeCache.txt)
if [ -z "$version" ]; then
    echo "package: no project version in build/windows-x64/CMakeCache.txt" >&2
    exit 1
fi

tools/check_imports.sh build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr
tools/check_release.py --version "$version" build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr

out=build/package
rm -rf "$out"
mkdir -p "$out/zip/x64" "$out/zip/x86"

setup="$out/Kelvo-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DX64="$root/build/windows-x64/kelvo.scr" \
    -DX86="$root/build/windows-x86/kelvo.scr" -DOUTFILE="$root/$setup" installer/kelvo.nsi

cp build/windows-x64/kelvo.scr "$out/zip/x64/"
cp build/windows-x86/kelvo.scr "$out/zip/x86/"
cp README.md LICENSE "$out/zip/"
archive="$root/$out/Kelvo-$version.zip"
(cd "$out/zip" && zip -q -X -r "$archive" x64 x86 README.md LICENSE)
rm -rf "$out/zip"

echo "package: $setup ($(stat -c %s "$setup") bytes)"
echo "package: $out/Kelvo-$version.zip ($(stat -c %s "$archive") bytes)"
