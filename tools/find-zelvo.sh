# Sourced by the picture scripts: sets `zelvo` to the program given as $1, else to the one a
# build left (default, then ci); exits with a hint when there is none.
zelvo=${1:-}
if [ -z "$zelvo" ]; then
  for candidate in build/default/src/cli/zelvo build/ci/src/cli/zelvo; do
    if [ -x "$candidate" ]; then zelvo=$candidate; break; fi
  done
fi
if [ -z "$zelvo" ] || [ ! -x "$zelvo" ]; then
  echo "zelvo not found: build it first (cmake --build --preset ci --target zelvo)" >&2
  exit 1
fi
