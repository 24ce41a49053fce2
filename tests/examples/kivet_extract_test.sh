#!/usr/bin/env bash
# What kivet-extract answers to bad input, run on generated audio:
#
#   kivet_extract_test.sh HOSTS_DIR CONFIG
#
# HOSTS_DIR holds kivet-extract, kivet-inspect and kivet-synth; CONFIG is the
# default configuration (its modulation features group 128 frames of 10 ms).
set -euo pipefail

hosts=$1
config=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# expect_failure EXPECTED_STDERR ARGS...: kivet-extract exits with 1 and says
# exactly that.
expect_failure() {
  local expected=$1 status=0
  shift
  "$hosts/kivet-extract" -c "$config" "$@" >/dev/null 2>"$work/stderr" || status=$?
  [ "$status" -eq 1 ] || fail "kivet-extract $* exited with $status"
  [ "$(cat "$work/stderr")" = "$expected" ] || fail "kivet-extract $* said: $(cat "$work/stderr")"
}

mkdir "$work/short" "$work/long"
"$hosts/kivet-synth" -d 0.5 "$work/short" >/dev/null
"$hosts/kivet-synth" -d 6 "$work/long" >/dev/null
# A mono 16-bit WAV file at 44100 Hz whose data chunk is empty.
printf 'RIFF\044\0\0\0WAVEfmt \020\0\0\0\001\0\001\0\104\254\0\0\210\130\001\0\002\0\020\0data\0\0\0\0' \
  >"$work/empty.wav"
printf '<featex><module name="x"></featex>\n' >"$work/bad.xml"

expect_failure "kivet-extract: $work/empty.wav: the file holds no audio (no samples)" "$work/empty.wav"
expect_failure "kivet-extract: $work/short/tones.wav: saving $work/short/tones.sig: Unknown Error (code 1): the song\
 is too short for the configuration (500 ms; it needs at least 1280 ms)" "$work/short/tones.wav"
config=$work/bad.xml expect_failure "kivet-extract: $work/long/tones.wav: configuration $work/bad.xml: Loading shared\
 library failed (code 12): mismatched tag at (line, col) = (0, 26)." "$work/long/tones.wav"

# A missing output folder is made with its parents; a 6.000 s song, mono or
# stereo, lasts 6000 ms.
"$hosts/kivet-extract" -c "$config" -o "$work/out/a/b" "$work/long/tones.wav" "$work/long/mix.wav" >/dev/null \
  || fail "extracting into a missing folder"
for song in tones mix; do
  length=$("$hosts/kivet-inspect" -n 0 "$work/out/a/b/$song.sig" | sed -n 's/^ *TLEN *"\(.*\)"$/\1/p')
  [ "$length" = 6000 ] || fail "$song.sig has TLEN '$length'"
done

[ "$failures" -eq 0 ]
