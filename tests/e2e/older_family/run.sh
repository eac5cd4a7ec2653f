#!/bin/bash
# The older Windows family end to end under Wine in Xvfb: the password gate, the saver-running
# notice, the password change and the AutoPlay answer, with stand-ins of the system's password
# modules. Prints PASS or FAIL per test and exits nonzero when any fails.
#
#   tests/e2e/older_family/run.sh [--no-build] [--build DIR] [TEST-NAME-PART...]
set -euo pipefail

root="$(cd "$(dirname "$0")/../../.." && pwd)"
cd "$root"

build=1
build_dir=build/windows-x64
while [ $# -gt 0 ]; do
    case "$1" in
        --no-build) build=0; shift ;;
        --build) build_dir="$2"; build=0; shift 2 ;;
        *) break ;;
    esac
done

if [ "$build" = 1 ]; then
    cmake --preset windows-x64 >/dev/null
    cmake --build --preset windows-x64 -j2 --target kelvo kelvo-harness kelvo-older-probe \
        kelvo-password-standin kelvo-mpr-standin
fi

rm -rf build/e2e-artifacts/older_family
mkdir -p build/e2e-artifacts/older_family
# The bench tears down Xvfb and Wine itself; the time limit only guards against a hung Wine.
exec timeout --kill-after=20 300 python3 tests/e2e/older_family/run_tests.py --build "$build_dir" \
    --artifacts build/e2e-artifacts/older_family "$@"
