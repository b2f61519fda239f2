#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs the main job on the bundled example:
# a pack built from examples/game (tiles, three screens and the images painted over them at 2x)
# and the ROM image examples/game.sms, then described by `zelvo inspect`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
zelvo=build/default/src/cli/zelvo
mkdir -p build/example
"$zelvo" build examples/game --rom examples/game.sms --output build/example/game.zrm --scale 2
"$zelvo" inspect build/example/game.zrm
