#!/usr/bin/env bash
# Builds kivet and runs the whole test suite: a warnings-as-errors tree, which
# is then installed and used by a host project (scripts/test-install.sh), a
# tree built with AddressSanitizer and UndefinedBehaviorSanitizer, the thread
# test built with ThreadSanitizer, then the 32-bit Windows cross build under
# Wine (scripts/test-windows.sh).
#
#   scripts/test.sh            everything
#   KIVET_JOBS=N               parallel build and test jobs (default: cores)
#   KIVET_SKIP_FUZZ=1          skip the short fuzz pass (scripts/fuzz.sh 30)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

install_packages cmake ninja-build g++ pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libexpat1-dev libxerces-c-dev libfftw3-dev libsndfile1-dev libsoxr-dev libaubio-dev libfaiss-dev \
  clang libclang-rt-14-dev

jobs=${KIVET_JOBS:-$(nproc)}

run_tree() {
  local name=$1
  shift
  local dir="$root/build/$name"
  step "configure $name"
  cmake -S "$root" -B "$dir" -G Ninja -DKIVET_WERROR=ON "$@" >/dev/null
  step "build $name"
  cmake --build "$dir" -j "$jobs"
  step "test $name"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

start=$SECONDS
run_tree release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVET_BUILD_BENCH=ON
bash "$root/scripts/test-install.sh" "$root/build/release"
run_tree asan -DCMAKE_BUILD_TYPE=Debug -DKIVET_SANITIZE=ON
# Threads that each use objects of their own share nothing unguarded: the
# thread test alone (tests/api/vra_threads_test.cpp), built with
# ThreadSanitizer, which stops it at the first report.
tsan=$root/build/tsan
step "configure tsan"
cmake -S "$root" -B "$tsan" -G Ninja -DKIVET_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVET_TSAN=ON >/dev/null
step "build tsan"
cmake --build "$tsan" -j "$jobs" --target vra_threads_test
step "test tsan"
TSAN_OPTIONS=halt_on_error=1 "$tsan/tests/api/vra_threads_test"
if [ "${KIVET_SKIP_FUZZ:-0}" != 1 ]; then
  # A loaded machine may slow the instrumented readers: the time limit per input
  # is wider here than in the long local runs.
  KIVET_FUZZ_JOBS=$jobs KIVET_FUZZ_TIMEOUT=3 bash "$root/scripts/fuzz.sh" 30
fi
# The library's own platform: a 32-bit Windows build, its tests run under Wine.
bash "$root/scripts/test-windows.sh"
step "all trees passed in $((SECONDS - start)) s"
