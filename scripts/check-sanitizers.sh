#!/usr/bin/env bash
# The whole suite built with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/) and run,
# then the tests that run work on threads built with ThreadSanitizer (build-tsan/) and run. Every
# sanitizer report fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
# Tests must never touch the user's own virtual drive.
export XDG_STATE_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_STATE_HOME"' EXIT
common=(-DDRAVIX_BUILD_BENCH=OFF)

start=$SECONDS
DRAVIX_BUILD_DIR=build-asan ./scripts/build.sh -DDRAVIX_ASAN=ON "${common[@]}"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-asan --no-label-summary --output-on-failure -j "$(nproc)" --timeout 900
echo "AddressSanitizer + UndefinedBehaviorSanitizer: $((SECONDS - start)) s"

# Scan engine and page, chart, virtual drive and its library, capture, the pages' and the main
# window's workers, the drive turns and worker threads themselves.
start=$SECONDS
tsan_tests=(dravix_probix_tests dravix_scan_page_tests dravix_scan_app_tests dravix_scan_cli_tests
  dravix_chart_tests emu_tests drive_tests capture_tests switches_page_tests info_booktype_page_tests
  main_dialog_tests turns_tests workers_tests drive_sequence_tests)
DRAVIX_BUILD_DIR=build-tsan DRAVIX_BUILD_TARGETS="${tsan_tests[*]}" \
  ./scripts/build.sh -DDRAVIX_TSAN=ON "${common[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/sanitizers/tsan.supp"
regex=$(IFS='|'; echo "${tsan_tests[*]}")
# Three read-test cases read whole discs on one thread: ThreadSanitizer has nothing to look at in
# them and spends three quarters of its test time over them (the other builds run them).
one_thread='^ReadTest\.(VerifyFindsExactlyTheChangedSectorsAndTheLengths|EachReadModeIsRecognisedFromTheCurve|ASpeedSetBySetStreamingOrSetCdSpeedCapsTheCurveAndRefusalsFallBack)$'
ctest --test-dir build-tsan --no-label-summary --output-on-failure -j "$(nproc)" --timeout 900 -L "^($regex)\$" \
  -E "$one_thread"
echo "ThreadSanitizer: $((SECONDS - start)) s"
