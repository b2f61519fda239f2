#!/usr/bin/env bash
# tools/measure_hostile.sh [PRESET]: makes the hostile files (tests/fuzz/make_fuzz_files.cpp
# describes them) in build/hostile, runs `zelvo inspect`, `build` or `export` on each under
# /usr/bin/time -v, and prints one table row per run: exit status, wall seconds, peak resident MB,
# whether the file was refused ("flagged": inspect ran through but reports a failed check;
# "warned": the build went on after a warning about it) and the run's last line. Every run has
# 120 s and a 4 GiB address space at most (an allocation beyond that fails, which a reader may take
# for a refusal: see the last line). The first row is a valid game, for scale. The last rows give
# FIFOs and devices where a file is read or written: each must be refused at once, never waited on.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-ci}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target zelvo zelvo_fuzz_files >/dev/null
zelvo=$PWD/build/$preset/src/cli/zelvo
dir=build/hostile
if [ ! -f "$dir/hires_bomb.zrm" ] || [ "$dir/hires_bomb.zrm" -ot "build/$preset/tests/fuzz/zelvo_fuzz_files" ]; then
  rm -rf "$dir"
  "build/$preset/tests/fuzz/zelvo_fuzz_files" hostile "$dir"
fi
cd "$dir"
rm -rf out tmp
mkdir -p out tmp

row() { printf '%-26s %-7s %4s %7s %8s  %-7s  %s\n' "$@"; }
row file command exit wall_s peak_mb refused "last line"
run() { # FILE COMMAND ARGUMENTS...
  local file=$1 command=$2 status=0
  shift 2
  (ulimit -v 4194304 && TMPDIR=$PWD/tmp /usr/bin/time -v -o time.txt timeout 120 "$zelvo" "$command" "$@") \
    >output.txt 2>&1 || status=$?
  local wall rss refused=no
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
                       for (i = 1; i <= n; ++i) s = s * 60 + t[i]; printf "%.2f", s }' time.txt)
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' time.txt)
  if [ "$status" -ne 0 ]; then
    refused=yes
  elif [ "$command" = inspect ] && grep -qE 'Ok: no$|Problem:' output.txt; then
    refused=flagged
  elif grep -q '^Warning: ' output.txt; then
    refused=warned
  fi
  row "$file" "$command" "$status" "$wall" "$rss" "$refused" "$(grep -v '^ *$' output.txt | tail -n 1 | cut -c 1-60)"
}

run game.sms build game --rom game.sms --output out/game.zrm --scale 1
run tiles_bomb/game.mstiles inspect tiles_bomb/game.mstiles
run tiles_bomb/game.mstiles build tiles_bomb --rom game.sms --output out/tiles.zrm --scale 1
run screen_bomb/shot.msscreen inspect screen_bomb/shot.msscreen
run screen_bomb/shot.msscreen export screen_bomb/shot.msscreen out/screen.png
run hires_bomb.zrm inspect hires_bomb.zrm
run lzma_dictionary.zip build game --rom lzma_dictionary.zip --output out/lzma.zrm --scale 1
run flipped_bit.zip build game --rom flipped_bit.zip --output out/flipped.zrm --scale 1
run bmp_huge/shot.bmp build bmp_huge --rom game.sms --output out/bmp_huge.zrm --scale 1
run bmp_rle8/shot.bmp build bmp_rle8 --rom game.sms --output out/bmp_rle8.zrm --scale 1

rm -rf fifo_game fifo.sms fifo.zrm
mkdir fifo_game
cp game/* fifo_game/
cp game/shot.png fifo_game/fifo.png
mkfifo fifo.sms fifo.zrm fifo_game/a.mstiles fifo_game/fifo.msscreen
run fifo.sms build game --rom fifo.sms --output out/fifo.zrm --scale 1
run /dev/zero build game --rom /dev/zero --output out/zero.zrm --scale 1
run 'fifo_game (tiles, screen)' build fifo_game --rom game.sms --output out/fifo_game.zrm --scale 1
run fifo.zrm inspect fifo.zrm
run /dev/zero inspect /dev/zero
run fifo_game/fifo.msscreen export fifo_game/fifo.msscreen out/fifo.png
run fifo.zrm preview game/shot.msscreen fifo.zrm out/preview.png
run fifo.zrm sheet fifo.zrm out/sheet.png
run '/dev/null (output)' build game --rom game.sms --output /dev/null --force
run 'fifo.zrm (output)' build game --rom game.sms --output fifo.zrm --force
rm -rf time.txt output.txt fifo_game fifo.sms fifo.zrm
