#!/usr/bin/env bash
# The long run: kelvo.scr (x64) full screen at 1920 x 1080 under Wine, komakasa 1, wait 10, watched
# for growth of its GDI objects, working set, resident size and handles; the figures at start and
# end are printed, every sample goes to
# build/e2e/test_hardening.py-test_long_run_at_1920x1080_keeps_gdi_objects_and_memory_flat-x64/.
#
#   tools/long_run.sh [--minutes M]      (10 minutes unless told; the test command runs 1)
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=10
while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) minutes="$2"; shift 2 ;;
        *) echo "usage: tools/long_run.sh [--minutes M]" >&2; exit 2 ;;
    esac
done
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j2 >/dev/null
# -m "" lifts the marker selection, so that -k alone picks the GDI count's check and the long run.
KELVO_LONG_RUN_MINUTES="$minutes" exec pytest-3 tests/e2e/test_hardening.py -s -m "" -k "gdi_count or long_run"
