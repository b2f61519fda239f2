#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs the main job on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
zelvo=build/default/src/cli/zelvo
"$zelvo" inspect examples/game/game.mstiles
