#!/usr/bin/env bash
# Installs what is missing, checks that the sources follow .clang-format, then configures, builds
# and runs every test: first with warnings as errors, then again under AddressSanitizer +
# UndefinedBehaviorSanitizer; last the compression and build tests (the ones that use threads)
# under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs=$(nproc)
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "== format"
  git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
fi
for preset in ci asan tsan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done
