#!/usr/bin/env bash
# What making saves durable costs: builds of the bundled example and of the large synthetic game
# (scale 4) timed as they are and under eatmydata, which turns fsync into a no-op, interleaved;
# prints the median wall seconds of each, the difference, and the sync calls of one build with the
# time spent in them (strace -T). The pack must be the same either way.
#
#   tools/bench_saves.sh [RUNS]        (default 5)
#
# Environment: BUILD_DIR (default build/default, configured and built here when it is the
# default), WORK (default /tmp/zelvo-bench, shared with tools/bench_build.sh: the large game is
# written there once).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
runs=${1:-5}
build=${BUILD_DIR:-build/default}
work=${WORK:-/tmp/zelvo-bench}
for tool in eatmydata strace; do
  command -v "$tool" >/dev/null || { echo "bench_saves: $tool is missing (tools/install-deps.sh)" >&2; exit 1; }
done
if [ -z "${BUILD_DIR:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$(nproc)" --target zelvo zelvo_make_large_game >/dev/null
fi
zelvo=$PWD/$build/src/cli/zelvo
mkdir -p "$work"
[ -f "$work/game4/game.sms" ] || "$build/tools/zelvo_make_large_game" "$work/game4" 4 >/dev/null

# time_build NAME FOLDER ROM [WRAPPER]: prints the wall seconds of one build into $work/NAME.zrm.
time_build() {
  local name=$1 folder=$2 rom=$3 start end
  shift 3
  start=$EPOCHREALTIME
  "$@" "$zelvo" build "$folder" --rom "$rom" --output "$work/$name.zrm" --scale 4 >/dev/null
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-8s %10s %10s %10s %7s %9s\n' game synced_s unsynced_s diff_ms fsyncs fsync_ms
echo "(medians of $runs builds at scale 4; diff: synced minus unsynced wall time, which the noise of a"
echo " build may outweigh; fsync_ms: the time one build spent inside its sync calls)"
for game in example large; do
  if [ "$game" = example ]; then folder=examples/game rom=examples/game.sms; else folder=$work/game4 rom=$work/game4/game.sms; fi
  : >"$work/synced.txt"
  : >"$work/unsynced.txt"
  for ((run = 1; run <= runs; ++run)); do
    time_build synced "$folder" "$rom" >>"$work/synced.txt"
    time_build unsynced "$folder" "$rom" eatmydata >>"$work/unsynced.txt"
    cmp -s "$work/synced.zrm" "$work/unsynced.zrm" || { echo "bench_saves: packs differ" >&2; exit 1; }
  done
  # The time spent in the sync calls themselves, as strace -T sees them.
  strace -f -T -e trace=fsync,fdatasync -o "$work/strace.txt" "$zelvo" build "$folder" --rom "$rom" \
    --output "$work/synced.zrm" --scale 4 >/dev/null
  read -r syncs spent < <(awk -F'[<>]' '/fsync|fdatasync/ && NF > 2 { n++; t += $(NF - 1) } END { print n + 0, t * 1000 }' \
    "$work/strace.txt")
  s=$(median <"$work/synced.txt")
  u=$(median <"$work/unsynced.txt")
  awk -v g="$game" -v s="$s" -v u="$u" -v n="$syncs" -v t="$spent" \
    'BEGIN { printf "%-8s %10.3f %10.3f %10.1f %7s %9.1f\n", g, s, u, (s - u) * 1000, n, t }'
done
rm -f "$work/synced.zrm" "$work/unsynced.zrm" "$work/strace.txt"
