#!/bin/bash
# Runs every end-to-end test of kelvo.scr under Wine in Xvfb. Prints PASS or FAIL per test and
# exits nonzero when any fails; screenshots go to build/e2e-artifacts/saver/.
#
#   tests/e2e/run_all.sh [--no-setup] [--no-build] [TEST-NAME-PART...]
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
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
    # kelvo.scr with the harness and the profile probe beside it.
    cmake --preset windows-x64 >/dev/null
    cmake --build --preset windows-x64 -j2
    # The same probe natively, on the stand-in's profile functions.
    mkdir -p build/e2e-native
    g++ -std=c++17 -O1 -Wall -Wextra -Istandin/include -Istandin \
        tests/e2e/profile_probe.cpp standin/*.cpp -o build/e2e-native/profile_probe
fi

exec python3 tests/e2e/run_tests.py --build build/windows-x64 --artifacts build/e2e-artifacts/saver \
    --native-probe build/e2e-native/profile_probe "$@"
