#!/usr/bin/env bash
# The extraction time of older commits next to the present tree, side by
# side, for changes that must not cost extraction time: every commit named and
# the present tree (with its changes not yet committed) are built in Release,
# and bench/extract_side_by_side loads every build's library into one process
# on one core, where the builds take turns extracting a 60 s song of synthetic
# music with their own config/default.xml, one extraction each per round.
# Prints each round, then per build the median processor time, as a multiple
# of real time, divided by the present tree's median, the median of that ratio
# taken round by round, and the fastest extraction.
#
#   bench/finish_side_by_side.sh [-r ROUNDS] [-c CORE] COMMIT...
#       ROUNDS  rounds (default 21)
#       CORE    the core they run on (default the last one)
#   KIVET_JOBS=N    parallel build jobs (default: cores)
#
# A commit is taken out with git archive into a temporary folder, removed at
# the end, where only its library is built; the present tree builds in
# build/side-by-side. The builds must share the interface version of the
# present tree, with which the program calls them all.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

jobs=${KIVET_JOBS:-$(nproc)}
rounds=21
core=$(($(nproc) - 1))

fail() {
  echo "finish_side_by_side: $*" >&2
  exit 1
}

while getopts r:c: option; do
  case $option in
    r) rounds=$OPTARG ;;
    c) core=$OPTARG ;;
    *) fail "usage: bench/finish_side_by_side.sh [-r ROUNDS] [-c CORE] COMMIT..." ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || fail "usage: bench/finish_side_by_side.sh [-r ROUNDS] [-c CORE] COMMIT..."

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

# build SOURCE TREE BENCH TARGET...: a Release build without the tests, with
# the benches or without (BENCH ON or OFF).
build() {
  local source=$1 tree=$2 bench=$3
  shift 3
  cmake -S "$source" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVET_BUILD_TESTS=OFF \
    -DKIVET_BUILD_BENCH="$bench" >"$scratch/cmake.log" 2>&1 ||
    { cat "$scratch/cmake.log" >&2; fail "cannot configure $source"; }
  cmake --build "$tree" -j "$jobs" --target "$@" >"$scratch/build.log" 2>&1 ||
    { tail -n 30 "$scratch/build.log" >&2; fail "cannot build $source"; }
}

# Each build: its name, its library and its configuration.
builds=()

for commit in "$@"; do
  name=$(git -C "$root" rev-parse --short "$commit^{commit}") || fail "no commit $commit"
  step "building $name"
  mkdir -p "$scratch/$name/source"
  git -C "$root" archive "$name" | tar -x -C "$scratch/$name/source"
  build "$scratch/$name/source" "$scratch/$name/build" OFF kivet
  builds+=("$name" "$scratch/$name/build/libkivet.so" "$scratch/$name/source/config/default.xml")
done

step "building the present tree"
build "$root" "$root/build/side-by-side" ON kivet extract_side_by_side
builds+=(present "$root/build/side-by-side/libkivet.so" "$root/config/default.xml")

step "$rounds rounds on core $core, one extraction of a 60 s song per build and round"
taskset -c "$core" "$root/build/side-by-side/bench/extract_side_by_side" "$rounds" "$scratch/song.sig" "${builds[@]}"
