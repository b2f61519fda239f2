#!/usr/bin/env bash
# Writes the fuzz targets' seed corpus into tests/fuzz/corpus/<target>/ afresh, from synthetic
# data (the program zelvo_fuzz_files of the `ci` build). Inputs saved under tests/fuzz/regressions
# are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset ci >/dev/null
cmake --build --preset ci --target zelvo_fuzz_files >/dev/null
rm -rf tests/fuzz/corpus
build/ci/tests/fuzz/zelvo_fuzz_files corpus tests/fuzz/corpus
find tests/fuzz/corpus -type f | sort | xargs ls -l | awk '{ print $5, $NF }'
