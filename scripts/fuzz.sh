#!/usr/bin/env bash
# Builds the fuzz targets of the stored-format readers (clang, libFuzzer with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each of them for
# SECONDS on its committed corpus, several targets at once.
#
#   scripts/fuzz.sh [SECONDS]       default 60 seconds per target
#   KIVET_FUZZ_JOBS=N               targets running at once (default: cores)
#   KIVET_FUZZ_TARGETS="a b"        only these targets (default: all)
#   KIVET_FUZZ_BUILD_DIR=DIR        build tree (default: build/fuzz)
#   KIVET_FUZZ_TIMEOUT=S            seconds one input may take (default: 1)
#
# Each target runs on tests/fuzz/corpus/<target>/ (read only) plus a working
# corpus in <build>/corpus/<target>/ that keeps what the fuzzer adds. Inputs
# are at most 64 KiB and each must finish within KIVET_FUZZ_TIMEOUT seconds.
# A finding (crash, sanitizer report, uncaught exception, timeout, out of
# memory) fails the script; its input is left in <build>/findings/<target>/ and the log in
# <build>/logs/<target>.log. A mended finding's input belongs in the committed
# corpus as a regression case (regress-<what>).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

seconds=${1:-60}
jobs=${KIVET_FUZZ_JOBS:-$(nproc)}
dir=${KIVET_FUZZ_BUILD_DIR:-$root/build/fuzz}
max_len=65536

step "configure fuzz"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKIVET_BUILD_FUZZ=ON -DKIVET_BUILD_TESTS=OFF >/dev/null
step "build fuzz"
cmake --build "$dir" --target kivet_fuzz -j "$jobs"

if [ -n "${KIVET_FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$KIVET_FUZZ_TARGETS"
else
  targets=()
  for bin in "$dir"/tests/fuzz/*_fuzz; do targets+=("$(basename "$bin")"); done
fi

rm -rf "$dir/findings" "$dir/logs"
mkdir -p "$dir/findings" "$dir/logs"

run_target() {
  local name=$1
  local bin=$dir/tests/fuzz/$name
  local seeds=$root/tests/fuzz/corpus/$name
  local work=$dir/corpus/$name
  local options=()
  mkdir -p "$work" "$seeds" "$dir/findings/$name"
  [ -f "$root/tests/fuzz/$name.dict" ] && options+=("-dict=$root/tests/fuzz/$name.dict")
  local rc=0
  "$bin" "${options[@]}" -max_total_time="$seconds" -max_len=$max_len -timeout="${KIVET_FUZZ_TIMEOUT:-1}" -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/$name/" "$work" "$seeds" \
    >"$dir/logs/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$dir/logs/$name.rc"
}

step "fuzz ${#targets[@]} targets for $seconds s each, $jobs at once"
for name in "${targets[@]}"; do
  [ -x "$dir/tests/fuzz/$name" ] || { echo "no fuzz target $name" >&2; exit 1; }
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$name" &
done
wait

# Per target: executions, coverage (cov: edges, ft: features), corpus size and
# the slowest input's time in seconds.
passed=0
failed=0
printf '%-26s %10s %7s %7s %7s %7s  %s\n' target execs cov ft corpus slowest result
for name in "${targets[@]}"; do
  log=$dir/logs/$name.log
  rc=$(cat "$dir/logs/$name.rc" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  slowest=$(sed -n 's/^stat::slowest_unit_time_sec: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: ' | tail -n 1 || true)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  findings=$(find "$dir/findings/$name" -type f | wc -l)
  if [ "$rc" -eq 0 ] && [ "$findings" -eq 0 ]; then
    result=ok
    passed=$((passed + 1))
  else
    result="FAILED (exit $rc)"
    failed=$((failed + 1))
  fi
  printf '%-26s %10s %7s %7s %7s %7s  %s\n' "$name" "${execs:--}" "${cov:--}" "${ft:--}" "${corp:--}" \
    "${slowest:--}" "$result"
done

if [ "$failed" -ne 0 ]; then
  for name in "${targets[@]}"; do
    files=$(find "$dir/findings/$name" -type f)
    rc=$(cat "$dir/logs/$name.rc" 2>/dev/null || echo 1)
    [ "$rc" -eq 0 ] && [ -z "$files" ] && continue
    printf '\n== finding of %s (log %s)\n' "$name" "$dir/logs/$name.log"
    if [ -n "$files" ]; then
      printf '   input: %s\n' $files
      printf '   again: %s %s\n' "$dir/tests/fuzz/$name" "$(head -n 1 <<<"$files")"
    fi
    grep -E -A 30 '^==[0-9]+==|^==kivet-fuzz==|ERROR: libFuzzer|runtime error:|terminate called' \
      "$dir/logs/$name.log" | head -n 60 || tail -n 40 "$dir/logs/$name.log"
  done
fi
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
