#!/usr/bin/env bash
# kivet-session on generated audio: build, add, query, list and export, and
# what it answers to bad input.
#   kivet_session_test.sh HOSTS_DIR
set -euo pipefail
hosts=$1
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

mkdir "$work/audio"
"$hosts/kivet-synth" -d 2 "$work/audio" >/dev/null
"$hosts/kivet-extract" -o "$work/sig" "$work/audio/organ.wav" >/dev/null
session build "$work/s.ses" "$work/audio/tones.wav" "$work/audio/chord.wav" >/dev/null || fail "build"
# Added to the saved session: an audio file, a signature file and one bad file.
printf 'not audio' >"$work/bad.wav"
status=0
session build "$work/s.ses" "$work/audio/clicks.wav" "$work/sig/organ.sig" "$work/bad.wav" >/dev/null || status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-session: $work/bad.wav: Format not recognised." ] ||
  fail "bad input: $status $(cat "$work/said")"
[ "$(ls "$work")" = "$(printf 'audio\nbad.wav\ns.meta\ns.meta.lock\ns.ses\ns.ses.lock\nsaid\nsig')" ] ||
  fail "files left: $(ls "$work")"

[ "$(session info "$work/s.ses" | tail -n +5 | cut -f 1,4)" = "$(printf '1\tRising tones\n2\tC major chord\n3\tClick track\n4\tHeld G major chord')" ] ||
  fail "info: $(session info "$work/s.ses")"
[ "$(session query "$work/s.ses" --id 2 -n 2 | cut -f 1,2)" = "$(printf 'rank\tid\n1\t2\n2\t4')" ] || fail "query by id"
[ "$(session query "$work/s.ses" "$work/audio/clicks.wav" -n 1 | tail -1 | cut -f 2,3)" = "$(printf '3\t1.000')" ] ||
  fail "query by audio"
session export "$work/s.ses" --text "$work/s.txt" --mask 2 >/dev/null && [ "$(tail -1 "$work/s.txt")" = '4;;"Held G major chord";;;;;;' ] ||
  fail "text export"
# A name with a backslash after its last point: the metadata file is where
# the library saves it, the whole name with ".meta".
session build "$work/s.v\\2" "$work/audio/tones.wav" >/dev/null && session info "$work/s.v\\2" >/dev/null &&
  [ -f "$work/s.v\\2.meta" ] || fail "a name with a backslash: $(said)"

status=0
head -c 120 "$work/s.ses" >"$work/cut.ses"
session info "$work/cut.ses" >/dev/null || status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-session: $work/cut.ses: Session::load() corrupted session format" ] ||
  fail "cut session: $(cat "$work/said")"
finish
