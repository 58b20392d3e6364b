#!/usr/bin/env bash
# Times Dravix's writers against ImageMagick's `convert` on the same 1920 × 1080 BMP, one whole
# process per run for both (read the BMP, encode, write the file), median of RUNS runs, and then
# prints the in-process encode times of bench_export.
#   bench/export/compare.sh [BUILD_DIR]        RUNS=7 by default
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-7}

"$root/scripts/setup.sh" imagemagick
if ! command -v convert >/dev/null; then
  echo "ImageMagick's convert is not available" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DDRAVIX_BUILD_GUI=OFF -DDRAVIX_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_export export_convert_timing >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/bench_export" --write-bmp "$work/capture.bmp"

now_ns() { date +%s%N; }

# Median wall time in milliseconds of RUNS runs of "$@".
median_ms() {
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    start=$(now_ns)
    "$@" >/dev/null 2>&1 || { echo "failed"; return; }
    end=$(now_ns)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2) { printf "%.1f", $1 / 1000 }'
}

# extension | ImageMagick options that match our writer's settings
formats=(
  "bmp|-type TrueColor BMP3:"
  "gif|"
  "jpg|-quality 90"
  "png|"
  "tif|-compress JPEG -quality 90"
  "tga|"
  "pcx|"
  "jp2|"
  "j2c|"
  "ppm|"
  "ras|"
)

printf '%-6s %12s %12s %8s %12s %12s\n' format dravix_ms magick_ms ratio dravix_bytes magick_bytes
for entry in "${formats[@]}"; do
  ext=${entry%%|*}
  options=${entry#*|}
  prefix=""
  if [[ $options == *: ]]; then  # a format prefix such as BMP3:
    prefix=${options##* }
    options=${options% *}
    [[ $options == "$prefix" ]] && options=""
  fi
  ours=$(median_ms "$build/bin/export_convert_timing" "$work/capture.bmp" "$work/ours.$ext")
  # shellcheck disable=SC2086
  theirs=$(median_ms convert "$work/capture.bmp" $options "$prefix$work/magick.$ext")
  ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { if (a > 0) printf "%.1fx", b / a; else print "-" }')
  printf '%-6s %12s %12s %8s %12s %12s\n' "$ext" "$ours" "$theirs" "$ratio" \
    "$(stat -c %s "$work/ours.$ext" 2>/dev/null || echo -)" "$(stat -c %s "$work/magick.$ext" 2>/dev/null || echo -)"
done
echo "(ratio = ImageMagick time / Dravix time; above 1.0x Dravix is faster)"
echo
"$build/bin/bench_export" --benchmark_min_time=0.5
