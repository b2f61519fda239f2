#!/usr/bin/env bash
# Takes a screenshot of zelvo-tool with its "Create Hi-Res ROM" dialog open, under a virtual X
# display, into docs/screenshot-build.png (or the path given as first argument).
#
#   tools/screenshot.sh [output.png] [path/to/zelvo-tool]
#
# With PRESS_OK=1 the dialog's OK is pressed first, so the log shows a build on the bundled
# example.
#
# The program is driven by its hidden automation options (see src/app/main.cpp) and uses a
# throwaway settings file, so the real "ZelvoTool.ini" is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs/screenshot-build.png}
tool=${2:-}
if [ -z "$tool" ]; then
  for candidate in build/gui/src/app/zelvo-tool build/ci/src/app/zelvo-tool build/default/src/app/zelvo-tool; do
    if [ -x "$candidate" ]; then tool=$candidate; break; fi
  done
fi
if [ -z "$tool" ] || [ ! -x "$tool" ]; then
  echo "zelvo-tool not found: build it first (cmake --build --preset ci --target zelvo-tool)" >&2
  exit 1
fi
for program in xvfb-run import; do
  command -v "$program" >/dev/null || { echo "$program is missing: run tools/install-deps.sh" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Entries as a user would have left them, so that the dialog shows filled fields.
printf '[General]\r\nLastInputFolder=%s\r\nLastOriginalROM=%s\r\nLastOutputFile=%s\r\nLastTilesRes=2\r\n' \
  "$root/examples/game" "$root/examples/game/game.sms" "$root/build/screenshot/game.zrm" \
  > "$work/ZelvoTool.ini"
mkdir -p build/screenshot
mkdir -p "$(dirname "$out")"
case "$out" in /*) target=$out ;; *) target=$root/$out ;; esac

# Inside the virtual display: start the program, wait for its windows, grab the screen, end it.
cat > "$work/inside.sh" <<'INSIDE'
#!/usr/bin/env bash
set -euo pipefail
tool=$1 settings=$2 target=$3
extra=()
if [ "${PRESS_OK:-0}" = 1 ]; then extra=(--press-ok); fi
"$tool" --settings-file "$settings" --open-build-dialog "${extra[@]}" --quit-after 60000 &
pid=$!
sleep "${SETTLE_SECONDS:-3}"
import -window root "$target"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
INSIDE
xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")" \
  "$work/ZelvoTool.ini" "$target"
echo "screenshot: $out"
