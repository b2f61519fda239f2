#!/usr/bin/env bash
# tools/fuzz.sh TARGET SECONDS [LIBFUZZER_OPTION...]: builds the `fuzz` preset (clang-14,
# libFuzzer, ASan + UBSan) and fuzzes one target (tiles_file, screen_file, pack, rom_loader, png,
# bmp, bzip2_fast) for SECONDS, starting from its seed corpus and regression inputs. Inputs that
# reach new code go to build/fuzz/corpus/TARGET, never into the committed corpus. A crash, leak, time-out (5 s)
# or memory blow-up (256 MB) is written to build/fuzz/findings/TARGET/: once understood, it
# belongs in tests/fuzz/regressions/TARGET/, where every build replays it. Further options go to
# libFuzzer. To look past a known allocation on a claimed size, let such allocations fail instead:
#   ASAN_OPTIONS=max_allocation_size_mb=256:allocator_may_return_null=1 \
#     tools/fuzz.sh TARGET SECONDS -malloc_limit_mb=4096
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
  echo "usage: tools/fuzz.sh TARGET SECONDS [LIBFUZZER_OPTION...]" >&2
  exit 2
fi
target=$1 seconds=$2
shift 2
bash tools/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz_$target"

out=build/fuzz
mkdir -p "$out/corpus/$target" "$out/findings/$target" "$out/tmp"
seeds=("tests/fuzz/corpus/$target")
if [ -d "tests/fuzz/regressions/$target" ]; then seeds+=("tests/fuzz/regressions/$target"); fi
log=$out/$target.log
status=0
# A small quarantine keeps the sanitizer's own holdings well below the memory limit.
TMPDIR=$PWD/$out/tmp ASAN_OPTIONS=quarantine_size_mb=32${ASAN_OPTIONS:+:$ASAN_OPTIONS} \
  UBSAN_OPTIONS=print_stacktrace=1 \
  "$out/tests/fuzz/fuzz_$target" "$out/corpus/$target" "${seeds[@]}" -max_total_time="$seconds" \
  -rss_limit_mb=256 -timeout=5 -artifact_prefix="$out/findings/$target/" -print_final_stats=1 "$@" \
  >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then tail -n 80 "$log"; fi
# The run's last coverage line and its totals.
grep -E '^#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
echo "log: $log"
exit "$status"
