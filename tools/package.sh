#!/usr/bin/env bash
# Builds kelvo.scr for x64 and x86 and packs them for users:
#   build/package/Kelvo-<version>-setup.exe   the installer (tools: makensis)
#   build/package/Kelvo-<version>.zip         x64/kelvo.scr, x86/kelvo.scr, README.md, LICENSE
#   build/package/SHA256SUMS                  the checksums of both, for sha256sum -c
# The same commit gives the same bytes in any folder, at any time: the one time in them is
# SOURCE_DATE_EPOCH, the commit's time unless it is set. With a certificate in the environment
# (tools/sign.sh) the programs, the installer and its uninstaller are signed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) || {
        echo "package: SOURCE_DATE_EPOCH is not set and there is no git commit to take it from" >&2
        exit 1
    }
fi
# ld writes it as the programs' link time; zip stores local times.
export SOURCE_DATE_EPOCH TZ=UTC0

for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    # Linked anew: an earlier build's program carries the time of its own link.
    rm -f "build/$preset/kelvo.scr"
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
stage=$out/stage
rm -rf "$out"
mkdir -p "$stage/x64" "$stage/x86"
cp build/windows-x64/kelvo.scr "$stage/x64/"
cp build/windows-x86/kelvo.scr "$stage/x86/"
cp README.md LICENSE "$stage/"

signing=()
if [ -n "${KELVO_SIGN_PKCS12:-}${KELVO_SIGN_CERT:-}${KELVO_SIGN_KEY:-}" ]; then
    tools/sign.sh "$stage/x64/kelvo.scr" "$stage/x86/kelvo.scr"
    signing=(-DSIGN="$root/tools/sign.sh")
else
    echo "package: no certificate (KELVO_SIGN_CERT and KELVO_SIGN_KEY, or KELVO_SIGN_PKCS12): nothing is signed"
fi
# The zip stores modes and times, the installer times: fixed ones, not the checkout's or the umask's.
chmod 755 "$stage/x64" "$stage/x86" "$stage/x64/kelvo.scr" "$stage/x86/kelvo.scr"
chmod 644 "$stage/README.md" "$stage/LICENSE"
find "$stage" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +

setup="$out/Kelvo-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DX64="$root/$stage/x64/kelvo.scr" -DX86="$root/$stage/x86/kelvo.scr" \
    -DOUTFILE="$root/$setup" "${signing[@]}" installer/kelvo.nsi

archive="$out/Kelvo-$version.zip"
(cd "$stage" && zip -q -X "$root/$archive" x64/ x64/kelvo.scr x86/ x86/kelvo.scr README.md LICENSE)
rm -rf "$stage"
(cd "$out" && sha256sum "${setup##*/}" "${archive##*/}" >SHA256SUMS)

echo "package: $setup ($(stat -c %s "$setup") bytes)"
echo "package: $archive ($(stat -c %s "$archive") bytes)"
echo "package: $out/SHA256SUMS"
