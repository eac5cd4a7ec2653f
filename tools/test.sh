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

step "fuzzing on the stand-in: command line, settings file, effect, failing calls (20 s each)"
tools/fuzz.sh

step "Windows builds (x64 and x86)"
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

step "release checks: system DLLs only, GUI subsystem, resources, manifest, version, stripped, checksum"
tools/check_imports.sh build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr
tools/check_release.py build/windows-x64/kelvo.scr build/windows-x86/kelvo.scr
tests/release/run.sh

step "the installer and the package; the same bytes from two clean copies of the commit, and signed with a certificate"
tools/package.sh
tests/release/package_test.sh

step "end-to-end tests under Wine, both builds, on a display with openbox: the saver, the preview, the command tail, the settings file and dialog, the older family, hardening, the installer"
pytest-3 tests/e2e

