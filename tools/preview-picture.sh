#!/usr/bin/env bash
# Makes the README's picture of a preview: the bundled example's title screen enlarged without a
# pack beside the same screen drawn with the pack built from the example (its images are painted
# at 2x, so the pack is built at scale 2).
#
#   tools/preview-picture.sh [output.png] [path/to/zelvo]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/preview-compare.png}
source tools/find-zelvo.sh "${2:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$zelvo" build examples/game --rom examples/game.sms --output "$work/game.zrm" --scale 2 >/dev/null
"$zelvo" preview examples/game/title.msscreen "$work/game.zrm" "$out" --compare --json --force
echo "picture: $out"
