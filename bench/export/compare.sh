#!/usr/bin/env bash
# Times Dravix's writers against ImageMagick's `convert` (by its full path: the first `convert` on
# PATH may be another program) on the same 1920 × 1080 BMP, one whole
# process per run for both (read the BMP, encode, write the file), mean of RUNS runs in
# milliseconds, then prints the in-process encode times of bench_export. Times in milliseconds;
# ratio = ImageMagick / Dravix, so above 1.0x Dravix is faster.
#   bench/export/compare.sh [BUILD_DIR]        RUNS=10 by default
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-10}

"$root/scripts/setup.sh" imagemagick
magick=/usr/bin/convert
if [ ! -x "$magick" ] || ! "$magick" -version 2>/dev/null | grep -q ImageMagick; then
  echo "ImageMagick's convert is not available at $magick" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DDRAVIX_BUILD_GUI=OFF -DDRAVIX_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_export export_convert_timing >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/bench_export" --write-bmp "$work/capture.bmp"

# Runs "$@" RUNS times; prints the mean wall time and the mean CPU time (user + system, all
# threads) per run in milliseconds. CPU time is the steadier figure on a busy machine.
measure() {
  local TIMEFORMAT='%R %U %S' out
  out=$({ time (for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1 || exit 1; done); } 2>&1) ||
    { echo "failed failed"; return 0; }
  awk -v n="$runs" '{ printf "%.1f %.1f\n", $1 * 1000 / n, ($2 + $3) * 1000 / n }' <<<"$out"
}

ratio() { awk -v ours="$1" -v theirs="$2" 'BEGIN { if (ours > 0) printf "%.1fx", theirs / ours; else print "-" }'; }

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

printf '%-5s | %9s %9s %7s | %9s %9s %7s | %9s %9s\n' format wall_ours wall_im ratio \
  cpu_ours cpu_im ratio bytes_ours bytes_im
for entry in "${formats[@]}"; do
  ext=${entry%%|*}
  options=${entry#*|}
  prefix=""
  if [[ $options == *: ]]; then  # a format prefix such as BMP3:
    prefix=${options##* }
    options=${options% *}
    [[ $options == "$prefix" ]] && options=""
  fi
  read -r ours_wall ours_cpu < <(measure "$build/bin/export_convert_timing" "$work/capture.bmp" "$work/ours.$ext")
  # shellcheck disable=SC2086
  read -r im_wall im_cpu < <(measure "$magick" "$work/capture.bmp" $options "$prefix$work/magick.$ext")
  printf '%-5s | %9s %9s %7s | %9s %9s %7s | %9s %9s\n' "$ext" "$ours_wall" "$im_wall" \
    "$(ratio "$ours_wall" "$im_wall")" "$ours_cpu" "$im_cpu" "$(ratio "$ours_cpu" "$im_cpu")" \
    "$(stat -c %s "$work/ours.$ext" 2>/dev/null || echo -)" "$(stat -c %s "$work/magick.$ext" 2>/dev/null || echo -)"
done
echo
"$build/bin/bench_export" --benchmark_min_time=0.5
