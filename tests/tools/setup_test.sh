#!/usr/bin/env bash
# Runs tools/setup.sh's install logic with apt-get, dpkg and the 32-bit probe replaced: every
# package counts as missing, and apt-get installs or simulates any set with a :i386 package only
# in "plain", or in "testrelease" when the release is named with -t. Needs neither root nor the
# network.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo 'VERSION_CODENAME=testrelease' >"$work/os-release"
failed=0

run_setup() {  # plain | testrelease | fails | no-32-bit
    : >"$work/apt.log"
    (
        source "$root/tools/setup.sh"
        os_release=$work/os-release
        runs_32_bit() { [ "$case" != no-32-bit ]; }
        sudo_if_needed() { "$@"; }
        dpkg() { [ "$1" = -s ] && return 1; echo "dpkg $*" >>"$work/apt.log"; }
        locale() { echo ja_JP.utf8; }
        apt_get() {
            echo "$*" >>"$work/apt.log"
            [[ $case = plain || "$*" != *:i386* ]] || [[ $case = testrelease && "$*" == *"-t testrelease "* ]]
        }
        case=$1
        main
    ) >"$work/out" 2>&1
    status=$?
}

check() {  # NAME COMMAND...
    if "${@:2}"; then echo "PASS $1"; else
        echo "FAIL $1 (exit $status); apt-get and dpkg were asked:"
        sed 's/^/    /' "$work/apt.log"; echo "  and it printed:"; sed 's/^/    /' "$work/out"
        failed=1
    fi
}

packages=$(bash -c "source '$root/tools/setup.sh'; echo \"\${packages[*]}\"")
# Exit 0 and one install (not a simulation), matching REGEX, asking for every 64-bit package and
# EXTRA; and no downgrade option anywhere.
one_install() {  # REGEX [EXTRA]
    local line package
    line=" $(grep '^install ' "$work/apt.log" | grep -v -- ' -s ') "
    [ "$status" -eq 0 ] && [ "$(wc -l <<<"$line")" -eq 1 ] && [[ $line =~ $1 ]] &&
        ! grep -qiE -- 'downgrade|force|=[0-9]' "$work/apt.log" || return 1
    for package in $packages ${2:-}; do
        [[ $line == *" $package "* ]] || return 1
    done
}
printed() { grep -qx "$1" "$work/out"; }
asked() { grep -q -- "$1" "$work/apt.log"; }

run_setup testrelease
check "the set resolves with -t only: one install of it all, with -t" \
    one_install '^ install -y -q --no-remove -t testrelease ' wine32:i386
check "and a line says it comes from the main suite" \
    printed "setup: installing from the main suite (-t testrelease): .*"

run_setup plain
check "the plain set resolves: one install of it all" \
    one_install '^ install -y -q --no-remove [^-]' wine32:i386
check "and it says the 32-bit side is installed" printed "setup: Wine's 32-bit side (wine32:i386) is installed"

run_setup fails
check "no set resolves: the 64-bit packages alone, exit 0" one_install '^[^:]*$'
check "after the set was tried with -t too" asked '^install -s .* -t testrelease .* wine32:i386$'
check "one clear line says the x86 cases will be skipped" \
    printed "setup: Wine's 32-bit side could not be installed (.*); the x86 cases will be skipped"

run_setup no-32-bit
check "a kernel without 32-bit programs: exit 0, no i386 asked for" \
    bash -c "[ $status -eq 0 ] && ! grep -q i386 '$work/apt.log'"

exit $failed
