#!/usr/bin/env bash
# The demo: kivet's main job, "which songs are most like this one".
#
# Builds the library and its example hosts, synthesises a small varied
# collection of test audio (a dozen clips in five families: tones, chords,
# noise, rhythms and mixes), builds a session of it with the default
# extraction configuration (config/default.xml) and the similarity
# configuration (config/similarity.xml), lists the session, then asks for the
# nearest neighbours of one stored clip and of a noisy copy of another, which
# the session has never seen.
#
#   scripts/demo.sh            installs what is missing (as root), builds
#                              build/demo and writes build/demo/audio,
#                              build/demo/noisy and build/demo/songs.ses
#   KIVET_JOBS=N               parallel build jobs (default: cores)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/lib.sh"

install_packages cmake ninja-build g++ pkg-config libexpat1-dev libxerces-c-dev libsndfile1-dev libsoxr-dev

jobs=${KIVET_JOBS:-$(nproc)}
tree="$root/build/demo"
audio="$tree/audio"
noisy="$tree/noisy"
session="$tree/songs.ses"
hosts="$tree/examples"
configs=(-c "$root/config/default.xml" -s "$root/config/similarity.xml")

step "build (build/demo)"
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKIVET_BUILD_TESTS=OFF >/dev/null
cmake --build "$tree" -j "$jobs" --target kivet-synth kivet-session

step "synthesise a dozen clips (build/demo/audio) and noisy copies of them (build/demo/noisy)"
rm -rf "$audio" "$noisy" "$session" "${session%.ses}.meta"
mkdir -p "$audio" "$noisy"
"$hosts/kivet-synth" -d 6 "$audio" >/dev/null
"$hosts/kivet-synth" -d 6 -n 0.01 "$noisy" >/dev/null
ls "$audio"

step "build the session build/demo/songs.ses"
"$hosts/kivet-session" build "${configs[@]}" "$session" "$audio"/*

# The session keeps the similarity configuration it was made with.
step "what the session holds"
"$hosts/kivet-session" info "$session"

id=$("$hosts/kivet-session" info "$session" | awk -F '\t' '$4 == "A minor chord" { print $1 }')
step "the songs most like song $id, the A minor chord"
"$hosts/kivet-session" query "$session" --id "$id" -n 5

step "the songs most like a noisy copy of the gliding tone, which the session has never seen"
"$hosts/kivet-session" query -c "$root/config/default.xml" "$session" "$noisy/glide.wav" -n 5
