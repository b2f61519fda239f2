#!/usr/bin/env bash
# Times builds of the large synthetic game (tools/make_large_game), stage by stage, beside
# `lbzip2 -6 -n2` on the same hi-res payload, and prints one table of medians. Rows:
#   cold     the default build (fast encoder, every block read back by libbz2) with an empty cache
#   nocache  the same with --no-cache (its pack must be the cold build's, byte for byte)
#   libbz2   --no-cache --encoder libbz2
#   touch    a rebuild after 10 cells of one screen were touched up (the cache of the build before)
#   repaint  a rebuild after one whole screen was painted over (its colours inverted)
#   one      (ONE_THREAD=1 only) --no-cache --threads 1: its pack must be the cold build's too
#   lbzip2   lbzip2 -6 -n2 on the payload
# Runs are interleaved (every row once, then again), so a busy machine weighs on every row alike.
# The touched and repainted screens are the last two of the listing, so no later screen paints
# over what changed; their images are put back before each run.
#
#   tools/bench_build.sh [RUNS]        (default 3)
#
# Environment: SCALES (default "4"), BUILD_DIR (default build/default, configured and built here
# when it is the default), WORK (default /tmp/zelvo-bench: the games, kept for the next time; the
# build cache lives in WORK/cache), BEFORE (a `zelvo` of an earlier version: adds its builds as the
# row "before"), ONE_THREAD.
set -euo pipefail
export LC_ALL=C # a decimal point in $EPOCHREALTIME and awk
cd "$(dirname "$0")/.."
runs=${1:-3}
scales=${SCALES:-4}
build=${BUILD_DIR:-build/default}
work=${WORK:-/tmp/zelvo-bench}
cores=$(nproc)

for tool in lbzip2 bzip2 convert /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_build: $tool is missing (tools/install-deps.sh)" >&2; exit 1; }
done
if [ -z "${BUILD_DIR:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$cores" --target zelvo zelvo_make_large_game >/dev/null
fi
zelvo=$build/src/cli/zelvo
maker=$build/tools/zelvo_make_large_game
mkdir -p "$work"
export XDG_CACHE_HOME=$work/cache
results=$work/results.txt
: >"$results"

# The seconds between the build's log lines: find, generate, replace, create, rom, tiles, hires.
stamp_lines() {
  local line
  while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done
}

# build SCALE ROW PACK [RESULTS]: one timed build; appends "scale row wall cpu peakMB s1..s7" to
# RESULTS (default: the table's).
build() {
  local scale=$1 row=$2 pack=$3 game=$work/game$1 into=${4:-$results}
  local command=("$zelvo" build "$game" --rom "$game/game.sms" --output "$pack" --scale "$scale")
  case $row in
    before) command[0]=$BEFORE ;;
    nocache) command+=(--no-cache) ;;
    libbz2) command+=(--no-cache --encoder libbz2) ;;
    one) command+=(--no-cache --threads 1) ;;
  esac
  # Only the stage lines and "Success!" are stamped: a shell loop over the tens of thousands of
  # lines the build adds between them would hold the build up at its pipe.
  /usr/bin/time -v -o "$work/time.txt" "${command[@]}" | grep --line-buffered -E '^Success!$|\.\.\.$' |
    stamp_lines >"$work/log.txt"
  grep -q ' Success!$' "$work/log.txt" || { echo "bench_build: build failed" >&2; cat "$work/log.txt" >&2; exit 1; }
  awk -v scale="$scale" -v row="$row" '
    FNR == NR {
      if ($0 ~ /Elapsed \(wall clock\)/) { n = split($NF, t, ":"); wall = t[n] + 60 * t[n - 1] + (n > 2 ? 3600 * t[n - 2] : 0) }
      if ($0 ~ /User time/) cpu += $NF
      if ($0 ~ /System time/) cpu += $NF
      if ($0 ~ /Maximum resident/) peak = $NF / 1024
      next
    }
    / Success!$|\.\.\.$/ { at[++lines] = $1 }
    END {
      printf "%s %s %.2f %.2f %.1f", scale, row, wall, cpu, peak
      for (i = 1; i < lines; ++i) printf " %.2f", at[i + 1] - at[i]
      printf "\n"
    }' "$work/time.txt" "$work/log.txt" >>"$into"
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

# touch_cells IMAGE SCALE: 10 cells along the diagonal get a small square of their own colour.
touch_cells() {
  local image=$1 edge=$((8 * $2)) draws=() i
  for ((i = 0; i < 10; ++i)); do
    draws+=(-draw "rectangle $((i * edge + 1)),$((i * edge + 1)),$((i * edge + edge / 2)),$((i * edge + edge / 2))")
  done
  convert "$image" -fill '#ff00ff' "${draws[@]}" "PNG32:$image"
}

for scale in $scales; do
  game=$work/game$scale
  if [ ! -f "$game/game.sms" ]; then
    echo "== writing the large game at scale $scale"
    "$maker" "$game" "$scale" >/dev/null
  fi
  screens=("$game"/*.png)
  touched=${screens[-1]} repainted=${screens[-2]}
  for image in "$touched" "$repainted"; do [ -f "$image.orig" ] || cp "$image" "$image.orig"; done
  for ((run = 1; run <= runs; ++run)); do
    echo "== scale $scale, run $run of $runs"
    cp "$touched.orig" "$touched"
    cp "$repainted.orig" "$repainted"
    rm -rf "$XDG_CACHE_HOME"
    build "$scale" cold "$work/cold$scale.zrm"
    build "$scale" nocache "$work/nocache$scale.zrm"
    cmp -s "$work/cold$scale.zrm" "$work/nocache$scale.zrm" || { echo "bench_build: packs with and without the cache differ at scale $scale" >&2; exit 1; }
    build "$scale" libbz2 "$work/libbz2$scale.zrm"
    "$zelvo" inspect "$work/libbz2$scale.zrm" >/dev/null || { echo "bench_build: the libbz2 pack does not check at scale $scale" >&2; exit 1; }
    if [ -n "${ONE_THREAD:-}" ]; then
      build "$scale" one "$work/one$scale.zrm"
      cmp -s "$work/cold$scale.zrm" "$work/one$scale.zrm" || { echo "bench_build: packs of one and $cores threads differ at scale $scale" >&2; exit 1; }
    fi
    if [ -n "${BEFORE:-}" ]; then
      build "$scale" before "$work/before$scale.zrm"
    fi
    touch_cells "$touched" "$scale"
    build "$scale" touch "$work/touch$scale.zrm"
    convert "$repainted" -channel RGB -negate "PNG32:$repainted"
    build "$scale" repaint "$work/repaint$scale.zrm"
    if ((run == 1)); then
      # The rebuilt pack is the one a build without the cache makes of the same files.
      build "$scale" nocache "$work/check$scale.zrm" /dev/null
      cmp -s "$work/repaint$scale.zrm" "$work/check$scale.zrm" || { echo "bench_build: the rebuilt pack differs from a build without the cache at scale $scale" >&2; exit 1; }
      cmp -s "$work/cold$scale.zrm" "$work/repaint$scale.zrm" && { echo "bench_build: the touched screens changed nothing at scale $scale" >&2; exit 1; }
    fi
    [ -f "$work/payload$scale.bin" ] || payload_of "$work/cold$scale.zrm" "$work/payload$scale.bin"
    lbzip "$scale"
  done
  cp "$touched.orig" "$touched"
  cp "$repainted.orig" "$repainted"
done

echo
echo "Medians of $runs runs on $cores cores; seconds, peak resident MB. Stages: gen(erate), repl(ace),"
echo "hires (compress and save the hi-res tiles), other (the four short stages together)."
echo "x lbzip2: the row's wall time over lbzip2 -6 -n2 on the same payload (wall time)."
awk '
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
    printf "%-5s %-8s %7s %7s %7s %6s %6s %6s %6s %8s\n", "scale", "row", "wall", "CPU", "peakMB", "gen", "repl", "hires", "other", "x lbzip2"
    for (i = 1; i <= rows; ++i) {
      split(order[i], k, " ")
      if (k[2] == "lbzip2") {
        printf "%-5s %-8s %7.2f %7.2f %7.1f\n", k[1], "lbzip2", median(order[i] " wall"), median(order[i] " cpu"), median(order[i] " peak")
        continue
      }
      lb = median(k[1] " lbzip2 wall")
      printf "%-5s %-8s %7.2f %7.2f %7.1f %6.2f %6.2f %6.2f %6.2f %8.1f\n", k[1], k[2], median(order[i] " wall"), median(order[i] " cpu"),
             median(order[i] " peak"), median(order[i] " gen"), median(order[i] " repl"), median(order[i] " hires"),
             median(order[i] " other"), (lb > 0 ? median(order[i] " wall") / lb : 0)
    }
  }' "$results"
