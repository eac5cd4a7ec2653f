#!/bin/bash
# Shows that the release checks catch what they are there for: programs built here with one fault
# each must fail tools/check_imports.sh or tools/check_release.py with the fault named, and the
# real builds must pass. Prints PASS or FAIL per case; exits nonzero when any fails.
#
#   tests/release/run.sh        (after the windows-x64 and windows-x86 builds)
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
work=build/release-checks
rm -rf "$work"
mkdir -p "$work"
cxx=x86_64-w64-mingw32-g++
windres=x86_64-w64-mingw32-windres
failed=0

# A case passes when the check's exit status and output are as expected.
expect() {  # NAME WANTED-STATUS PATTERN COMMAND...
    local name=$1 wanted=$2 pattern=$3
    shift 3
    local output status
    output=$("$@" 2>&1)
    status=$?
    if [ "$status" -eq "$wanted" ] && grep -Eq -- "$pattern" <<<"$output"; then
        echo "PASS $name"
    else
        echo "FAIL $name: status $status, wanted $wanted and /$pattern/ in:"
        sed 's/^/    /' <<<"$output"
        failed=1
    fi
}

# A small program with the resources of kelvo.rc and release.rc, built from the given manifest.
program_with() {  # NAME MANIFEST [EXTRA-LINK-OPTIONS...]
    local name=$1 manifest=$2
    shift 2
    mkdir -p "$work/$name"
    cp resources/release.rc "$work/$name/release.rc"
    cp "$manifest" "$work/$name/kelvo.manifest"
    "$windres" -I resources resources/kelvo.rc -O coff -o "$work/$name/kelvo.o"
    "$windres" -I build/windows-x64/generated -I "$work/$name" "$work/$name/release.rc" -O coff \
        -o "$work/$name/release.o"
    "$cxx" -mwindows -static "$work/main.cpp" "$work/$name/kelvo.o" "$work/$name/release.o" "$@" \
        -o "$work/$name/program.exe"
}

cat > "$work/main.cpp" <<'SOURCE'
#include <string>
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) { return static_cast<int>(std::string(tail).size()); }
SOURCE

# Imports and subsystem.
expect "the real builds import only system DLLs and are GUI programs" 0 "subsystem 00000002" \
    tools/check_imports.sh build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr
"$cxx" -mwindows "$work/main.cpp" -o "$work/shared-runtime.exe"
expect "a program that needs the C++ runtime DLL fails the import check" 1 "libstdc\+\+-6\.dll, which is not" \
    tools/check_imports.sh "$work/shared-runtime.exe"
"$cxx" -mconsole -static "$work/main.cpp" -o "$work/console.exe"
expect "a console program fails the subsystem check" 1 "subsystem 00000003, not 2" \
    tools/check_imports.sh "$work/console.exe"
cat > "$work/dc-brush.cpp" <<'SOURCE'
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return static_cast<int>(SetDCBrushColor(GetDC(nullptr), 0)); }
SOURCE
i686-w64-mingw32-g++ -mwindows -static "$work/dc-brush.cpp" -o "$work/dc-brush.exe"
expect "a 32-bit program that imports a Windows 2000 function fails the older-family check" 1 \
    "imports SetDCBrushColor from gdi32.dll, which Windows 95, 98, ME or NT 4.0 does not export" \
    tools/check_imports.sh "$work/dc-brush.exe"

# Resources, manifest, version, stripping, checksum.
expect "the real builds carry the right manifest and version and are stripped" 0 "as they should be" \
    tools/check_release.py build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr
expect "a version other than the project's is caught" 1 "file version is 1\.0\.0\.0, not 9\.8\.7\.0|file version is .*, not 9\.8\.7\.0" \
    tools/check_release.py --version 9.8.7 build/windows-x64/kelvo.scr

program_with good resources/kelvo.manifest -s
expect "a program built from the same resources passes" 0 "as they should be" tools/check_release.py "$work/good/program.exe"

program_with unstripped resources/kelvo.manifest
expect "an unstripped program is caught" 1 "not stripped" tools/check_release.py "$work/unstripped/program.exe"
cp build/windows-x64/kelvo.scr "$work/patched.scr"
printf 'X' | dd of="$work/patched.scr" bs=1 seek=1024 conv=notrunc status=none
expect "a program changed after its link, checksum left as it was, is caught" 1 "PE checksum is" \
    tools/check_release.py "$work/patched.scr"
expect "a file that is no program is refused, not read" 1 "not a Windows program" tools/check_release.py "$work/main.cpp"

printf '2 24 "kelvo.manifest"\n' > "$work/second.rc"
cp resources/kelvo.manifest "$work/kelvo.manifest"
"$windres" -I "$work" "$work/second.rc" -O coff -o "$work/second.o"
program_with second resources/kelvo.manifest -s "$work/second.o"
expect "a second manifest is caught" 1 "not exactly one" \
    tools/check_release.py "$work/second/program.exe"

sed 's/PerMonitorV2, PerMonitor/PerMonitor/' resources/kelvo.manifest > "$work/no-v2.manifest"
program_with no-v2 "$work/no-v2.manifest" -s
expect "a manifest without per-monitor awareness version 2 is caught" 1 "dpiAwareness is" \
    tools/check_release.py "$work/no-v2/program.exe"

sed '/<dependency>/,/<\/dependency>/d' resources/kelvo.manifest > "$work/no-controls.manifest"
program_with no-controls "$work/no-controls.manifest" -s
expect "a manifest without common controls 6 is caught" 1 "common controls 0 times" \
    tools/check_release.py "$work/no-controls/program.exe"

sed '/8e0f7a12/d' resources/kelvo.manifest > "$work/no-ten.manifest"
program_with no-ten "$work/no-ten.manifest" -s
expect "a manifest that does not name Windows 10 and 11 is caught" 1 "Windows 10 and 11" \
    tools/check_release.py "$work/no-ten/program.exe"

exit $failed
