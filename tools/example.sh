#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs the main job on the bundled example:
# a pack built from examples/game (tiles, three screens and the images painted over them at 2x)
# and the ROM image examples/game.sms, then described by `zelvo inspect`; the title screen is then
# drawn as the pack shows it, beside its plain enlargement, and the pack's tiles laid out on a sheet.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
zelvo=build/default/src/cli/zelvo
mkdir -p build/example
"$zelvo" build examples/game --rom examples/game.sms --output build/example/game.zrm --scale 2
"$zelvo" inspect build/example/game.zrm
"$zelvo" preview examples/game/title.msscreen build/example/game.zrm build/example/title-preview.png --compare --json --force
"$zelvo" sheet build/example/game.zrm build/example/sheet.png --force
echo "pictures: build/example/title-preview.png, build/example/sheet.png"
