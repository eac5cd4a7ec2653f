#!/bin/bash
# Runs the settings dialog's end-to-end tests: the resources natively and under Wine, the dialog
# under Wine in Xvfb (opening, scrolling, OK, Cancel, Escape, close box) and its pictures in a
# Japanese and in the default locale. Prints PASS or FAIL per test and exits nonzero when any fails;
# Wine and Xvfb are ended on the way out. Pictures go to build/e2e-artifacts/.
#
#   tests/e2e/dialog/run.sh [--no-setup] [--no-build] [TEST-NAME-PART...]
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
    bash tools/setup.sh
fi

if [ "$build" = 1 ]; then
    # kelvo.scr with the harness and the probe beside it; the 32-bit build for its resources.
    for preset in windows-x64 windows-x86; do
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset" -j2 >/dev/null
    done
fi

mkdir -p build/e2e-artifacts
exec python3 tests/e2e/dialog/run_dialog_tests.py --build build/windows-x64 --build-x86 build/windows-x86 \
    --artifacts build/e2e-artifacts "$@"
