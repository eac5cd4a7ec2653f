#!/usr/bin/env bash
# Fails when a Windows build imports a DLL that is not part of Windows itself
# (kelvo.scr must run from a bare copy, with nothing installed beside it), or
# when it is not a GUI program (a console program would open a console window).
# A 32-bit build must also load on Windows 95, 98, ME and NT 4.0, whose loader
# refuses a program that imports a function they do not export: every import
# must be in tools/older_family_exports.txt, or be the wide twin of an 8-bit
# function there (those systems export it as a stub).
#
#   tools/check_imports.sh [FILE...]   default: the x64 and x86 builds of kelvo.scr
set -euo pipefail
cd "$(dirname "$0")/.."

# DLLs that every Windows since XP ships in its system folder.
allowed='^(kernel32|user32|gdi32|advapi32|msvcrt|shell32|comctl32|comdlg32|ole32|oleaut32|imm32|mpr|winmm|version|shlwapi|uxtheme)\.dll$'
gui_subsystem=2

if [ $# -eq 0 ]; then
    set -- build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr
fi

# The x86-64 objdump of MinGW reads 32-bit programs as well.
objdump=x86_64-w64-mingw32-objdump
older_family_exports=tools/older_family_exports.txt

# "module function" for every function the program imports by name.
imported_functions() {
    awk '/^[[:space:]]*DLL Name:/ { module = tolower($3); next }
         /^$/ { module = "" }
         module != "" && NF == 2 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { next }
         module != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print module, $3 }' <<<"$1" | tr -d '\r'
}

# The imports that Windows 95, 98, ME or NT 4.0 would not find.
missing_on_older_family() {
    local known
    known=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$older_family_exports" | awk '{ print tolower($1), $2 }')
    awk 'NR == FNR { exported[$0] = 1; next }
         !($0 in exported) && !($2 ~ /W$/ && ($1 " " substr($2, 1, length($2) - 1) "A") in exported)' \
        <(echo "$known") <(imported_functions "$1")
}

status=0
for file in "$@"; do
    if [ ! -f "$file" ]; then
        echo "check_imports: $file does not exist"
        status=1
        continue
    fi
    if ! headers=$("$objdump" -p "$file" 2>&1); then
        echo "check_imports: $file is not a Windows program: $headers"
        status=1
        continue
    fi

    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr -d '\r')
    if [ -z "$imports" ]; then
        echo "check_imports: $file imports nothing, which no working build of it does"
        status=1
    fi
    for dll in $imports; do
        if ! tr 'A-Z' 'a-z' <<<"$dll" | grep -Eq "$allowed"; then
            echo "check_imports: $file imports $dll, which is not a Windows system DLL"
            status=1
        fi
    done

    subsystem=$(sed -n 's/^Subsystem[[:space:]]*\([0-9a-fA-F]*\).*/\1/p' <<<"$headers")
    if [ -z "$subsystem" ] || [ $((16#$subsystem)) -ne $gui_subsystem ]; then
        echo "check_imports: $file has subsystem ${subsystem:-unknown}, not $gui_subsystem (GUI): it would open a console window"
        status=1
    fi

    if grep -q 'file format pei-i386' <<<"$headers"; then
        missing=$(missing_on_older_family "$headers")
        if [ -n "$missing" ]; then
            while read -r module function; do
                echo "check_imports: $file imports $function from $module, which Windows 95, 98, ME or NT 4.0 does not export ($older_family_exports)"
            done <<<"$missing"
            status=1
        fi
    fi

    echo "check_imports: $file imports $(echo $imports), subsystem ${subsystem:-unknown}"
done
exit $status
