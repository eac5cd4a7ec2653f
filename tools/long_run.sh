#!/usr/bin/env bash
# The long run: kelvo.scr full screen at 1920 x 1080 under Wine, komakasa 1, wait 10, watched
# for growth of its GDI objects, working set, resident size and handles; the figures at start
# and end are printed, every sample goes to build/hardening-artifacts/long-run-samples.txt.
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
exec tests/e2e/hardening/run.sh --minutes "$minutes" gdi-count-sees-objects long-run
