#!/usr/bin/env bash
# Makes the README's picture of a coverage map: the bundled example's level screen as
# `zelvo coverage --maps` draws it at 2x (the scale its images are painted at).
#
#   tools/coverage-picture.sh [output.png] [path/to/zelvo]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/coverage-map.png}
source tools/find-zelvo.sh "${2:-}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$zelvo" coverage examples/game --scale 2 --maps "$work"
cp "$work/level-coverage.png" "$out"
echo "picture: $out"
