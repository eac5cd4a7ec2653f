#!/bin/bash
# The hardening tests under Wine: builds kelvo.scr with the harness (unless --no-build) and the
# hardening helper, then runs tests/e2e/hardening/run_hardening.py with the remaining arguments.
#
#   tests/e2e/hardening/run.sh [--no-setup] [--no-build] [--tails N] [--seed S] [--minutes M] [NAME...]
#
# The test command runs it as it is (40 random tails, a one-minute long run); the longer runs:
#   tests/e2e/hardening/run.sh --tails 400 random-tails
#   tools/long_run.sh --minutes 10
set -euo pipefail

root="$(cd "$(dirname "$0")/../../.." && pwd)"
cd "$root"

setup=1
build=1
while [ $# -gt 0 ]; do
    case "$1" in
        --no-setup) setup=0; shift ;;
        --no-build) build=0; shift ;;
        *) break ;;
    esac
done

if [ "$setup" = 1 ]; then
    bash tests/e2e/setup.sh
fi
if [ "$build" = 1 ]; then
    cmake --preset windows-x64 >/dev/null
    cmake --build --preset windows-x64 -j2 >/dev/null
fi
mkdir -p build/hardening
helper=build/hardening/kelvo-hardening-helper.exe
if [ ! -f "$helper" ] || [ tests/e2e/hardening/hardening_helper.cpp -nt "$helper" ]; then
    x86_64-w64-mingw32-g++ -std=c++17 -O2 -Wall -Wextra -Wno-cast-function-type -static \
        tests/e2e/hardening/hardening_helper.cpp -o "$helper" -lpsapi -lgdi32 -luser32
fi

rm -rf build/hardening-artifacts
mkdir -p build/hardening-artifacts
exec python3 tests/e2e/hardening/run_hardening.py --build build/windows-x64 --helper "$helper" \
    --artifacts build/hardening-artifacts "$@"
