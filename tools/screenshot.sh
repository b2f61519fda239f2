#!/usr/bin/env bash
# Takes two screenshots of zelvo-tool under a virtual X display, into the folder given (docs/
# when none is):
#   screenshot-build.png    the "Create Hi-Res ROM" dialog after OK built the bundled example;
#   screenshot-screens.png  two screens of the bundled example open in the frame.
#
#   tools/screenshot.sh [output-folder] [path/to/zelvo-tool]
#
# With PRESS_OK=0 the dialog is shown as it opens, before any build.
#
# The program is driven by its hidden automation options (see src/app/main.cpp) and uses a
# throwaway settings file, so the real "ZelvoTool.ini" is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs}
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
  "$root/examples/game" "$root/examples/game.sms" "$root/build/screenshot/game.zrm" \
  > "$work/ZelvoTool.ini"
mkdir -p build/screenshot
mkdir -p "$out"
case "$out" in /*) target=$out ;; *) target=$root/$out ;; esac

# Inside the virtual display: start the program with its options, wait for its windows, grab
# the screen, end it.
cat > "$work/inside.sh" <<'INSIDE'
#!/usr/bin/env bash
set -euo pipefail
image=$1
shift
"$@" --quit-after 60000 &
pid=$!
sleep "${SETTLE_SECONDS:-3}"
import -window root "$image"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
INSIDE
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
shoot() {
  xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$@"
  echo "screenshot: $1"
}
press=()
if [ "${PRESS_OK:-1}" = 1 ]; then press=(--press-ok); fi
shoot "$target/screenshot-build.png" "$tool" --settings-file "$work/ZelvoTool.ini" --open-build-dialog "${press[@]}"
shoot "$target/screenshot-screens.png" "$tool" --settings-file "$work/ZelvoTool.ini" \
  --open-screen "$root/examples/game/title.msscreen" --open-screen "$root/examples/game/sprites.msscreen"
