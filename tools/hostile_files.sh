#!/usr/bin/env bash
# Makes small hostile files (claims of gigabytes in a few hundred bytes, a huge LZMA dictionary, a
# zip whose ROM has a flipped bit) and measures with /usr/bin/time -v how long `zelvo` takes to
# refuse each and how much memory it takes at its peak. Prints one table row per file.
#   bash tools/hostile_files.sh [path/to/zelvo]   (default: build/ci/src/cli/zelvo)
set -euo pipefail
cd "$(dirname "$0")/.."
zelvo=$(realpath "${1:-build/ci/src/cli/zelvo}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bytes() { for b in "$@"; do printf "$(printf '\\x%02x' "$b")"; done; }
le32() { bytes $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
le16() { bytes $(($1 & 255)) $(($1 >> 8 & 255)); }
zeros() { head -c "$1" /dev/zero; }
# Overwrites bytes of file $1 at offset $2 with the rest of the arguments' output (stdin).
patch_at() { dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# A tiles file header: flags, palettes, patterns, nine group counts, compression.
tiles_header() {
  printf 'MSTILES\0'
  le32 "$1"; le32 "$2"; le32 "$3"
  for g in 0 1 2 3 4 5 6 7; do le32 0; done
  le32 "$4"; le32 "$5"; le32 0
}

mkdir -p "$work/bomb" "$work/lzma" "$work/screen" "$work/game"
# 44,739,243 sprite entries: a payload of 1 GB, from a bzip2 stream of a few hundred bytes.
{ tiles_header 0 0 0 44739243 2; zeros 4000000 | bzip2 -9; } >"$work/bomb/bomb.mstiles"
# An LZMA stream whose properties ask for a 4 GiB dictionary.
{ tiles_header 0 1 0 0 3; printf '\x09\x14'; le16 5; printf '\x5d\xff\xff\xff\xff'; zeros 64; } \
  >"$work/lzma/dict.mstiles"
# A screen file whose sprite count claims 1 GB of records, beside a valid tiles file.
cp examples/game/game.mstiles "$work/screen/"
{ printf 'MSSCREN\0'; le32 8; le32 10737418; le16 256; le16 224; le32 2; le32 0; le32 0
  zeros 4000000 | bzip2 -9; } >"$work/screen/bomb.msscreen"

# A pack of the example, then its hi-res header claiming 4.5 GB two ways: scale 255 (as any byte
# used to be taken) and a tile count of 1,100,000 at scale 4.
cp -r examples/game/. "$work/game/"
"$zelvo" build "$work/game" --rom examples/game.sms --output "$work/good.zrm" --scale 2 >/dev/null
hires=$((48 + $(od -An -tu4 -j36 -N4 "$work/good.zrm") + $(od -An -tu4 -j40 -N4 "$work/good.zrm")))
cp "$work/good.zrm" "$work/scale.zrm"
le32 270 | patch_at "$work/scale.zrm" $((hires + 12))
le32 255 | patch_at "$work/scale.zrm" $((hires + 56))
cp "$work/good.zrm" "$work/tiles.zrm"
le32 1100000 | patch_at "$work/tiles.zrm" $((hires + 12))
le32 4 | patch_at "$work/tiles.zrm" $((hires + 56))

# The example ROM stored in a zip, with one bit of its data flipped.
(cd "$work" && cp "$OLDPWD/examples/game.sms" game.sms && zip -q -0 rom.zip game.sms)
byte=$(od -An -tu1 -j5000 -N1 "$work/rom.zip")
bytes $((byte ^ 16)) | patch_at "$work/rom.zip" 5000

measure() { # name, then the command's arguments
  local name=$1
  shift
  local status=0
  /usr/bin/time -v -o "$work/time.txt" "$zelvo" "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
  local wall rss said
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  said=$(cat "$work/err.txt" "$work/out.txt" | tail -n 1)
  printf '| %-34s | %6s | %9s | %8s KB | %s\n' "$name" "$status" "$wall" "$rss" "${said#zelvo: $work/}"
}

printf '| %-34s | %6s | %9s | %11s | %s\n' file exit wall "peak RSS" "last line"
measure "tiles, bzip2 claims 1 GB (inspect)" inspect "$work/bomb/bomb.mstiles"
measure "tiles, bzip2 claims 1 GB (build)" build "$work/bomb" --rom examples/game.sms --output "$work/o.zrm"
measure "tiles, LZMA 4 GiB dictionary" inspect "$work/lzma/dict.mstiles"
measure "screen, sprites claim 1 GB" export "$work/screen/bomb.msscreen" "$work/o.png"
measure "pack, hi-res 4.5 GB at scale 255" inspect "$work/scale.zrm"
measure "pack, hi-res 4.5 GB in tile count" inspect "$work/tiles.zrm"
measure "zip ROM with a flipped bit" build "$work/game" --rom "$work/rom.zip" --output "$work/o.zrm"
measure "sound pack of the example (inspect)" inspect "$work/good.zrm"
