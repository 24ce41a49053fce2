#!/usr/bin/env bash
# Builds kivet and runs the whole test suite: a warnings-as-errors tree built
# with the Release flags, which is then installed and used by a host project
# (scripts/test-install.sh), a tree built with AddressSanitizer and
# UndefinedBehaviorSanitizer, the thread test built with ThreadSanitizer, then
# the 32-bit Windows cross build under Wine (scripts/test-windows.sh). Every
# step runs with a temporary folder of this run's own and must leave it empty.
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

# A fresh temporary folder for this run alone ($TMPDIR, and GoogleTest's
# TEST_TMPDIR, which it reads first), so that what is left there is this
# run's, whatever else uses /tmp. Sticky and open to all as /tmp is: the
# hosts' tests run programs as another user in it.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kivet-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 1777 "$scratch"
export TMPDIR=$scratch TEST_TMPDIR=$scratch

# left_clean WHAT: WHAT (a step) left nothing in the temporary folder.
left_clean() { nothing_left "$scratch" "$1" || exit 1; }

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
  left_clean "the $name tree"
}

start=$SECONDS
# Release, as a host project builds the library: some warnings show only
# with its optimisation.
run_tree release -DCMAKE_BUILD_TYPE=Release -DKIVET_BUILD_BENCH=ON
bash "$root/scripts/test-install.sh" "$root/build/release"
left_clean "the install test"
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
left_clean "the tsan test"
if [ "${KIVET_SKIP_FUZZ:-0}" != 1 ]; then
  # A loaded machine may slow the instrumented readers: the time limit per input
  # is wider here than in the long local runs.
  KIVET_FUZZ_JOBS=$jobs KIVET_FUZZ_TIMEOUT=3 bash "$root/scripts/fuzz.sh" 30
  left_clean "the fuzz pass"
fi
# The library's own platform: a 32-bit Windows build, its tests run under Wine
# (scripts/test-windows.sh checks the Windows programs' temporary folder).
bash "$root/scripts/test-windows.sh"
left_clean "the Windows leg"
step "all trees passed in $((SECONDS - start)) s"
