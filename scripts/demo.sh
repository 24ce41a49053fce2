#!/usr/bin/env bash
# The demo: builds the library and its example hosts, synthesises a few
# seconds of test audio (rising tones, a chord, a noise swell, a click track
# and a stereo mix of them), extracts a signature from every file with the
# default configuration (config/default.xml) and prints what one signature
# holds.
#
#   scripts/demo.sh            installs what is missing (as root), builds
#                              build/demo, writes build/demo/audio and
#                              build/demo/signatures
#   KIVET_JOBS=N               parallel build jobs (default: cores)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

install_packages cmake ninja-build g++ pkg-config libexpat1-dev libxerces-c-dev libsndfile1-dev

jobs=${KIVET_JOBS:-$(nproc)}
tree="$root/build/demo"
audio="$tree/audio"
signatures="$tree/signatures"

step "build (build/demo)"
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVET_BUILD_TESTS=OFF >/dev/null
cmake --build "$tree" -j "$jobs" --target kivet-synth kivet-extract kivet-inspect

step "synthesise test audio (build/demo/audio)"
mkdir -p "$audio" "$signatures"
"$tree/examples/kivet-synth" -d 5 "$audio"

step "extract signatures with config/default.xml (build/demo/signatures)"
"$tree/examples/kivet-extract" -c "$root/config/default.xml" -o "$signatures" \
  "$audio/tones.wav" "$audio/chord.wav" "$audio/noise.flac" "$audio/clicks.wav" "$audio/mix.wav"

step "inspect build/demo/signatures/mix.sig"
"$tree/examples/kivet-inspect" -n 2 "$signatures/mix.sig"
