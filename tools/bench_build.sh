#!/usr/bin/env bash
# Times whole builds of the large synthetic game (tools/make_large_game) at several scales, with one
# thread and with one per core, stage by stage, beside `lbzip2 -6 -n2` on the same hi-res payload,
# and prints one table of medians. The row "fast" is a build with one thread per core and the
# encoder of our own (--encoder fast). Runs are interleaved (one thread, all threads, lbzip2, then
# again), so a busy machine weighs on every column alike; packs of every thread count must be equal.
#
#   tools/bench_build.sh [RUNS]        (default 3)
#
# Environment: SCALES (default "2 3 4"), BUILD_DIR (default build/default, configured and built
# here when it is the default), WORK (default /tmp/zelvo-bench: the games, kept for the next time),
# BEFORE (a `zelvo` of an earlier version, without --threads: adds its builds as the row "before",
# whose packs must be the same too).
set -euo pipefail
export LC_ALL=C # a decimal point in $EPOCHREALTIME and awk
cd "$(dirname "$0")/.."
runs=${1:-3}
scales=${SCALES:-2 3 4}
build=${BUILD_DIR:-build/default}
work=${WORK:-/tmp/zelvo-bench}
cores=$(nproc)

for tool in lbzip2 bzip2 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_build: $tool is missing (tools/install-deps.sh)" >&2; exit 1; }
done
if [ -z "${BUILD_DIR:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$cores" --target zelvo zelvo_make_large_game >/dev/null
fi
zelvo=$build/src/cli/zelvo
maker=$build/tools/zelvo_make_large_game
mkdir -p "$work"
results=$work/results.txt
: >"$results"

# The seconds between the build's log lines: find, generate, replace, create, rom, tiles, hires.
stamp_lines() {
  local line
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}

# build SCALE THREADS PACK: one timed build; appends "scale threads wall cpu peakMB s1..s7".
build() {
  local scale=$1 threads=$2 pack=$3 game=$work/game$1
  local start
  start=$EPOCHREALTIME
  local command=("$zelvo" build "$game" --rom "$game/game.sms" --output "$pack" --scale "$scale")
  case $threads in
    before) command[0]=$BEFORE ;;
    fast) command+=(--threads "$cores" --encoder fast) ;;
    *) command+=(--threads "$threads") ;;
  esac
  # Only the stage lines and "Success!" are stamped: a shell loop over the tens of thousands of
  # lines the build adds between them would hold the build up at its pipe.
  /usr/bin/time -v -o "$work/time.txt" "${command[@]}" | grep --line-buffered -E '^Success!$|\.\.\.$' |
    stamp_lines >"$work/log.txt"
  grep -q ' Success!$' "$work/log.txt" || { echo "bench_build: build failed" >&2; cat "$work/log.txt" >&2; exit 1; }
  awk -v scale="$scale" -v threads="$threads" -v start="$start" '
    FNR == NR {
      if ($0 ~ /Elapsed \(wall clock\)/) { n = split($NF, t, ":"); wall = t[n] + 60 * t[n - 1] + (n > 2 ? 3600 * t[n - 2] : 0) }
      if ($0 ~ /User time/) cpu += $NF
      if ($0 ~ /System time/) cpu += $NF
      if ($0 ~ /Maximum resident/) peak = $NF / 1024
      next
    }
    # the stage lines and "Success!"; the lines between them say what the build did
    / Success!$|\.\.\.$/ { at[++lines] = $1 }
    END {
      printf "%s %s %.2f %.2f %.1f", scale, threads, wall, cpu, peak
      for (i = 1; i < lines; ++i) printf " %.2f", at[i + 1] - at[i]
      printf "\n"
    }' "$work/time.txt" "$work/log.txt" >>"$results"
}

# lbzip SCALE: lbzip2 -6 -n2 on the payload of the scale's pack; appends "scale lbzip2 wall cpu peakMB".
lbzip() {
  local scale=$1
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" lbzip2 -6 -n2 -c "$work/payload$scale.bin" >/dev/null
  awk -v scale="$scale" '{ printf "%s lbzip2 %.2f %.2f %.1f\n", scale, $1, $2 + $3, $4 / 1024 }' \
    "$work/time.txt" >>"$results"
}

# The uncompressed hi-res payload of a pack: its section starts after the 48-byte header and the
# ROM and tiles sections; the bzip2 stream follows the section's 64-byte header and 16-byte digest.
payload_of() {
  local pack=$1 out=$2 r t h
  read -r r t h < <(od -An -tu4 -j36 -N12 "$pack")
  tail -c +$((48 + r + t + 80 + 1)) "$pack" | head -c $((h - 80)) | bzip2 -dc >"$out"
}

for scale in $scales; do
  if [ ! -f "$work/game$scale/game.sms" ]; then
    echo "== writing the large game at scale $scale"
    "$maker" "$work/game$scale" "$scale" >/dev/null
  fi
  for ((run = 1; run <= runs; ++run)); do
    echo "== scale $scale, run $run of $runs"
    build "$scale" 1 "$work/one$scale.zrm"
    build "$scale" "$cores" "$work/all$scale.zrm"
    cmp -s "$work/one$scale.zrm" "$work/all$scale.zrm" || { echo "bench_build: packs differ at scale $scale" >&2; exit 1; }
    # The fast encoder's pack holds the same data in another bzip2 stream: its digests must check.
    build "$scale" fast "$work/fast$scale.zrm"
    "$zelvo" inspect "$work/fast$scale.zrm" >/dev/null || { echo "bench_build: the fast pack does not check at scale $scale" >&2; exit 1; }
    if [ -n "${BEFORE:-}" ]; then
      build "$scale" before "$work/before$scale.zrm"
      cmp -s "$work/one$scale.zrm" "$work/before$scale.zrm" || { echo "bench_build: packs differ from before at scale $scale" >&2; exit 1; }
    fi
    [ -f "$work/payload$scale.bin" ] || payload_of "$work/one$scale.zrm" "$work/payload$scale.bin"
    lbzip "$scale"
  done
done

echo
echo "Medians of $runs runs on $cores cores; seconds, peak resident MB. Stages: gen(erate), repl(ace),"
echo "hires (compress and save the hi-res tiles), other (the four short stages together)."
echo "x lbzip2: the hires stage over lbzip2 -6 -n2 on the same payload (wall time); speedup: the wall"
echo "time of the \"before\" builds (else of the one-thread builds) over the row's."
awk -v cores="$cores" '
  function median(key,   n, i, j, v, t) {
    n = split(values[key], v, " ")
    for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  function add(key, value) { values[key] = values[key] (values[key] == "" ? "" : " ") value }
  {
    row = $1 " " $2
    if (!(row in seen)) { seen[row] = 1; order[++rows] = row }
    add(row " wall", $3); add(row " cpu", $4); add(row " peak", $5)
    if ($2 != "lbzip2") {
      add(row " gen", $7); add(row " repl", $8); add(row " hires", $12)
      add(row " other", $6 + $9 + $10 + $11)
    }
  }
  END {
    printf "%-5s %-7s %7s %7s %7s %6s %6s %6s %6s %8s %8s\n", "scale", "threads", "wall", "CPU", "peakMB", "gen", "repl", "hires", "other", "x lbzip2", "speedup"
    for (i = 1; i <= rows; ++i) {
      split(order[i], k, " ")
      if (k[2] == "lbzip2") {
        printf "%-5s %-7s %7.2f %7.2f %7.1f\n", k[1], "lbzip2", median(order[i] " wall"), median(order[i] " cpu"), median(order[i] " peak")
        continue
      }
      lb = median(k[1] " lbzip2 wall")
      base = (k[1] " before") in seen ? median(k[1] " before wall") : median(k[1] " 1 wall")
      printf "%-5s %-7s %7.2f %7.2f %7.1f %6.2f %6.2f %6.2f %6.2f %8.1f %8.2f\n", k[1], k[2], median(order[i] " wall"), median(order[i] " cpu"),
             median(order[i] " peak"), median(order[i] " gen"), median(order[i] " repl"), median(order[i] " hires"),
             median(order[i] " other"), (lb > 0 ? median(order[i] " hires") / lb : 0), base / median(order[i] " wall")
    }
  }' "$results"
