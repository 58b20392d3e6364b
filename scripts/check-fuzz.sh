#!/usr/bin/env bash
# Builds every fuzz target with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer (clang,
# build-fuzz/) and runs each for a bounded time (DRAVIX_FUZZ_SECONDS, 30 by default), as many at
# once as there are cores, starting from its committed corpus in fuzz/corpus/<name>/. A crash
# fails the check; its input is kept in build-fuzz/crashes/ and belongs in the corpus once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${DRAVIX_FUZZ_SECONDS:-30}
names=()
for dir in fuzz/corpus/*/; do names+=("$(basename "$dir")"); done
targets=("${names[@]/#/fuzz_}")

start=$SECONDS
CC=clang CXX=clang++ DRAVIX_BUILD_DIR=build-fuzz DRAVIX_BUILD_TARGETS="${targets[*]}" ./scripts/build.sh \
  -DDRAVIX_FUZZ=ON -DDRAVIX_ASAN=ON -DDRAVIX_BUILD_GUI=OFF -DDRAVIX_BUILD_TESTS=OFF -DDRAVIX_BUILD_BENCH=OFF
echo "fuzz targets built: $((SECONDS - start)) s"

out=build-fuzz/runs
rm -rf "$out"
mkdir -p "$out" build-fuzz/crashes
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run() {
  local name=$1
  mkdir -p "$out/$name.corpus"
  # New inputs go to the scratch folder; the committed corpus is only read.
  if build-fuzz/bin/fuzz_"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/crashes/$name-" "$out/$name.corpus" "fuzz/corpus/$name" >"$out/$name.log" 2>&1; then
    echo "ok" >"$out/$name.status"
  else
    echo "failed" >"$out/$name.status"
  fi
}
export -f run
export out seconds
printf '%s\n' "${names[@]}" | xargs -P "$(nproc)" -I{} bash -c 'run {}'

status=0
for name in "${names[@]}"; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$name.log")
  if [ "$(cat "$out/$name.status")" = ok ]; then
    echo "fuzz_$name: ${runs:-?} runs in $seconds s, no fault"
  else
    status=1
    echo "fuzz_$name: FAILED after ${runs:-?} runs"
    tail -n 40 "$out/$name.log"
  fi
done
exit $status
