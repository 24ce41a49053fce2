#!/usr/bin/env bash
# kivet-session on audio as users have it: float and double samples, Ogg
# Vorbis, and sampling rates other than the session's.
#   kivet_session_audio_test.sh HOSTS_DIR CONVERTER CONFIG
# HOSTS_DIR holds kivet-session, kivet-extract and kivet-synth; CONVERTER is
# audio_convert (tests/examples/audio_convert.cpp); CONFIG the default
# extraction configuration.
set -euo pipefail
hosts=$1
convert=$2
config=$3
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

for rate in 44100 22050 11025 8000; do
  mkdir "$work/$rate"
  "$hosts/kivet-synth" -r "$rate" -d 3 "$work/$rate" >/dev/null
done
songs=()
for clip in tones chord minor-chord organ clicks drums mix; do songs+=("$work/44100/$clip.wav"); done
"$hosts/kivet-session" build "$work/s.ses" "${songs[@]}" >/dev/null || fail "build"

# expect_first AUDIO TITLE SCORE: the song most like AUDIO is TITLE, with
# SCORE (any score when empty), and the library has nothing to complain of.
expect_first() {
  local first
  first=$("$hosts/kivet-session" query "$work/s.ses" "$1" -n 1 2>"$work/said" | sed -n 2p)
  [ "$(cut -f 5 <<<"$first")" = "$2" ] && { [ -z "$3" ] || [ "$(cut -f 3 <<<"$first")" = "$3" ]; } ||
    fail "$1: first is '$first', not $2 $3"
  [ ! -s "$work/said" ] || fail "$1: the library said $(head -3 "$work/said")"
}

# The same audio in every sample format is the same song: float and double
# samples are at full scale, not near silence; Vorbis comes close.
for format in pcm24 float double; do
  "$convert" "$work/44100/clicks.wav" "$work/clicks-$format.wav" "$format"
  expect_first "$work/clicks-$format.wav" "Click track" 1.000
  "$convert" "$work/44100/organ.wav" "$work/organ-$format.wav" "$format"
  expect_first "$work/organ-$format.wav" "Held G major chord" 1.000
done
"$convert" "$work/44100/chord.wav" "$work/chord.ogg" vorbis
expect_first "$work/chord.ogg" "C major chord" ""

# Copies at other rates find their originals.
for rate in 22050 11025 8000; do
  expect_first "$work/$rate/tones.wav" "Rising tones" ""
  expect_first "$work/$rate/chord.wav" "C major chord" ""
  expect_first "$work/$rate/clicks.wav" "Click track" ""
done
# ... and a session built from them answers as the one built at 44.1 kHz.
"$hosts/kivet-session" build "$work/low.ses" "$work/22050/tones.wav" "$work/11025/chord.wav" "$work/8000/clicks.wav" \
  >/dev/null 2>"$work/said" || fail "build of other rates: $(cat "$work/said")"
[ "$("$hosts/kivet-session" query "$work/low.ses" "$work/44100/chord.wav" -n 1 2>"$work/said" | sed -n 2p | cut -f 5)" = \
  "C major chord" ] && [ ! -s "$work/said" ] || fail "query of a session of other rates: $(head -3 "$work/said")"
[ "$("$hosts/kivet-session" info "$work/low.ses" | sed -n 3p)" = "extracted at 44100 Hz" ] || fail "info's rate"

# A signature whose features have other sizes than the session's songs is
# refused: one made with a spectrum envelope up to 8 kHz, as a song at 16 kHz
# would have it.
sed -e 's/hiedge="16000"/hiedge="8000"/' "$config" >"$work/narrow.xml"
"$hosts/kivet-extract" -c "$work/narrow.xml" -o "$work/narrow" "$work/44100/chord.wav" >/dev/null
status=0
"$hosts/kivet-session" build "$work/s.ses" "$work/narrow/chord.sig" >/dev/null 2>"$work/said" || status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-session: $work/narrow/chord.sig: its ASE has 30 columns where\
 songs extracted at 44100 Hz with $config have 34: a signature made at another sampling rate or with another\
 configuration cannot be compared with the session's songs (extract the audio file again)" ] ||
  fail "narrow signature: $status $(cat "$work/said")"
finish
