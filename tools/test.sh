#!/usr/bin/env bash
# The one test command: installs what is missing, builds every preset, runs the
# native unit tests (plain and under the sanitizers), then the end-to-end tests
# of the real kelvo.scr under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh

step() { printf '\n== %s\n' "$*"; }

step "native build and unit tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset native-sanitize >/dev/null
cmake --build --preset native-sanitize
ctest --preset native-sanitize

step "Windows builds (x64 and x86)"
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

step "end-to-end tests under Wine"
tests/e2e/run_all.sh
