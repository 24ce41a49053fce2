#!/usr/bin/env bash
# kivet-session keeps texts whose only characters beyond ASCII take four bytes
# in UTF-8 (emoji): in the tags of a WAV file and in its file name.
#   kivet_session_texts_test.sh HOSTS_DIR CONVERTER
# HOSTS_DIR holds kivet-session and kivet-synth; CONVERTER is audio_convert
# (tests/examples/audio_convert.cpp).
set -euo pipefail
hosts=$1
convert=$2
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

clips
song="$work/🎵 drive.wav"
"$convert" "$a/chord.wav" "$song" pcm16 --tags "🎵 Night Drive" "DJ 🎧"
session build "$work/s.ses" "$song" >/dev/null || fail "build: $(said)"
grep -qF "<FILENAME>$song</FILENAME><TIT2>🎵 Night Drive</TIT2>" "$work/s.meta" ||
  fail "metadata file: $(cat "$work/s.meta")"
[ "$(session info "$work/s.ses" | tail -1 | cut -f 3,4)" = "$(printf 'DJ 🎧\t🎵 Night Drive')" ] ||
  fail "info: $(session info "$work/s.ses")"
[ "$(session query "$work/s.ses" "$song" -n 1 | tail -1 | cut -f 4,5)" = "$(printf 'DJ 🎧\t🎵 Night Drive')" ] ||
  fail "query: $(said)"
session export "$work/s.ses" --text "$work/s.txt" --mask 11 >/dev/null || fail "export: $(said)"
[ "$(tail -1 "$work/s.txt")" = "1;\"DJ 🎧\";\"🎵 Night Drive\";;\"$song\";;;;" ] || fail "text export: $(tail -1 "$work/s.txt")"
# The stored file name leads to the file: a second build finds its song there.
[ "$(session build "$work/s.ses" "$song")" = "$work/s.ses: 1 song (0 added, 1 already there)" ] ||
  fail "build again: $(said)"
finish
