#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer, on the
# stand-in) and runs each on its seed corpus in tests/fuzz/corpus/ for a bounded time.
#
#   tools/fuzz.sh                 20 seconds per target (the test command's run)
#   tools/fuzz.sh --long          10 minutes per target
#   tools/fuzz.sh --seconds N [TARGET...]
#
# New inputs go to build/fuzz/corpus/<target>/, never into the repository; a crash, a hang or a
# failed check leaves its input in build/fuzz/artifacts/ and makes the script fail. Replay one
# with: build/fuzz/fuzz_<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=20
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --long) seconds=600; shift ;;
        --seconds) seconds="$2"; shift 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=(command_line settings_file effect failing_calls)

build="$root/build/fuzz"
CC=clang CXX=clang++ cmake -S tests/fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 >/dev/null

declare -A max_len=([command_line]=256 [settings_file]=4096 [effect]=64 [failing_calls]=264)
mkdir -p "$build/artifacts"
failed=0
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    mkdir -p "$work"
    log="$build/$target.log"
    began=$(date +%s)
    # ASan's quarantine is kept small: the targets allocate little, and the run stays well under
    # the machine's memory.
    if ASAN_OPTIONS=quarantine_size_mb=16 "$build/fuzz_$target" "$work" "tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/artifacts/$target-" -print_final_stats=1 >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
        echo "fuzz $target: PASS, $runs inputs in $(( $(date +%s) - began )) s, $cov, corpus $(ls "$work" | wc -l) new + $(ls "tests/fuzz/corpus/$target" | wc -l) seeds"
    else
        failed=$((failed + 1))
        echo "fuzz $target: FAIL (log $log)"
        grep -E 'fuzz:|ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20 || true
    fi
done
echo "fuzz: $(( ${#targets[@]} - failed )) passed, $failed failed"
[ "$failed" -eq 0 ]
