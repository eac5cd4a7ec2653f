#!/usr/bin/env bash
# Runs tools/setup.sh's install logic with apt-get, dpkg and the 32-bit probe replaced: every
# package counts as missing and apt-get fails for any :i386 package, except (in "retry") when
# the release is named with -t. Needs neither root nor the network.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo 'VERSION_CODENAME=testrelease' >"$work/os-release"
failed=0

run_setup() {  # retry | fails | no-32-bit
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
            [[ "$*" != *:i386* ]] || [[ $case = retry && "$*" == *"-t testrelease "* ]]
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

# The 64-bit packages are all asked for in one install that has no :i386 package.
sixty_four_bit_alone() {
    local line package
    line=" $(grep '^install ' "$work/apt.log" | grep -v ':i386' | head -1) "
    for package in $(bash -c "source '$root/tools/setup.sh'; echo \"\${packages[*]}\""); do
        [[ $line == *" $package "* ]] || return 1
    done
}
printed() { grep -qx "$1" "$work/out"; }
asked() { grep -q -- "$1" "$work/apt.log"; }

run_setup fails
check "a 32-bit side that cannot be had: exit 0" [ "$status" -eq 0 ]
check "the 64-bit packages are installed on their own" sixty_four_bit_alone
check "the release's own name is tried with -t" asked '^install .*-t testrelease wine32:i386$'
check "nothing is downgraded" bash -c "! grep -qE -- '--allow-downgrades|=[0-9]' '$work/apt.log'"
check "one clear line says the x86 cases will be skipped" \
    printed "setup: Wine's 32-bit side could not be installed (.*); the x86 cases will be skipped"

run_setup retry
check "the -t route resolves: exit 0" [ "$status" -eq 0 ]
check "and it says it is installed" printed "setup: Wine's 32-bit side (wine32:i386) is installed"

run_setup no-32-bit
check "a kernel without 32-bit programs: exit 0, no i386 asked for" \
    bash -c "[ $status -eq 0 ] && ! grep -q i386 '$work/apt.log'"

exit $failed
