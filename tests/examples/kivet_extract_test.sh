#!/usr/bin/env bash
# What kivet-extract answers to bad input, on generated audio, and its help:
#   kivet_extract_test.sh HOSTS_DIR CONFIG
# HOSTS_DIR holds kivet-extract, kivet-inspect and kivet-synth; CONFIG is the
# default configuration, whose modulation features group 128 frames of 10 ms.
set -euo pipefail
hosts=$1
config=$2
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

# expect_failure MESSAGE AUDIO [OPTION...]: kivet-extract exits with 1 and
# says exactly that.
expect_failure() {
  local status=0
  "$hosts/kivet-extract" -c "$config" "${@:3}" "$2" >/dev/null 2>"$work/said" || status=$?
  [ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: $2: $1" ] || fail "$2: $(cat "$work/said")"
}

mkdir "$work/short" "$work/long" "$work/low"
"$hosts/kivet-synth" -d 0.5 "$work/short" >/dev/null
"$hosts/kivet-synth" -d 6 "$work/long" >/dev/null
"$hosts/kivet-synth" -r 11025 -d 6 "$work/low" >/dev/null
# Mono, 16 bits, 44100 Hz, and an empty data chunk.
printf 'RIFF\044\0\0\0WAVEfmt \020\0\0\0\001\0\001\0\104\254\0\0\210\130\001\0\002\0\020\0data\0\0\0\0' >"$work/empty.wav"
printf '<featex><module name="x"></featex>\n' >"$work/bad.xml"

expect_failure "the file holds no audio (no samples)" "$work/empty.wav"
expect_failure "saving $work/short/tones.sig: Invalid signature (code 6): the song is too short for the configuration\
 (500 ms; it needs at least 1280 ms)" "$work/short/tones.wav"
# A configuration that cannot be read stops the program at once, with the
# reason, before it makes the output folder.
: >"$work/empty.xml"
mkdir "$work/folder.xml"
for bad in "bad.xml:mismatched tag at line 1, column 28" "empty.xml:no element found at line 1, column 1" \
  "missing.xml:no such file or directory" "folder.xml:is a directory"; do
  status=0
  "$hosts/kivet-extract" -c "$work/${bad%%:*}" -o "$work/none" "$work/long/tones.wav" "$work/long/mix.wav" \
    >/dev/null 2>"$work/said" || status=$?
  [ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: cannot read the configuration $work/${bad%%:*}:\
 ${bad#*:}" ] && [ ! -e "$work/none" ] || fail "${bad%%:*}: status $status, said $(cat "$work/said")"
done

# The missing folder is made with its parents; 6.000 s, mono or stereo, last 6000 ms.
"$hosts/kivet-extract" -c "$config" -o "$work/out/a" "$work/long/tones.wav" "$work/long/mix.wav" >/dev/null || fail "-o"
for song in tones mix; do
  length=$("$hosts/kivet-inspect" -n 0 "$work/out/a/$song.sig" | sed -n 's/^ *TLEN *"\(.*\)"$/\1/p')
  [ "$length" = 6000 ] || fail "$song.sig has TLEN '$length'"
done
# A file at another rate is extracted at 44.1 kHz: its features have the
# shapes of the 44.1 kHz file's.
for rate in long low; do
  "$hosts/kivet-extract" -c "$config" -o "$work/out/$rate" "$work/$rate/chord.wav" || fail "$rate chord.wav"
done >"$work/said"
sed -n 14p "$work/said" | grep -qF "low/chord.wav: 6.000 s, 11025 Hz resampled to 44100 Hz, mono ->" &&
  [ "$(sed -n 2,13p "$work/said")" = "$(sed -n 15,26p "$work/said")" ] || fail "11025 Hz: $(cat "$work/said")"

# An input whose signature file an earlier input of the run wrote (by its
# name, as song.wav beside song.flac, or through a link) is refused in one
# line naming both; the others are extracted, and the same input given
# twice writes its own again.
mkdir -p "$work/two/a" "$work/two/b" "$work/two/sigs"
cp "$work/long/tones.wav" "$work/two/a/song.wav"
cp "$work/long/mix.wav" "$work/two/b/song.wav"
cp "$work/long/chord.wav" "$work/two/a/song.flac"
cp "$work/long/organ.wav" "$work/two/b/linked.wav"
ln -s song.sig "$work/two/sigs/linked.sig"
status=0
(cd "$work/two" && "$hosts/kivet-extract" -c "$config" -o sigs a/song.wav b/song.wav ./a/song.wav b/linked.wav \
  >"$work/printed" 2>"$work/said") || status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: b/song.wav: its signature file sigs/song.sig is that of\
 a/song.wav, written in this run: not extracted
kivet-extract: b/linked.wav: its signature file sigs/linked.sig is that of ./a/song.wav, written in this run: not\
 extracted" ] && [ "$(grep -c ' -> ' "$work/printed")" -eq 2 ] || fail "two inputs of one name: $(cat "$work/said")"
status=0
(cd "$work/two" && "$hosts/kivet-extract" -c "$config" a/song.wav a/song.flac >/dev/null 2>"$work/said") || status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: a/song.flac: its signature file a/song.sig is that of\
 a/song.wav, written in this run: not extracted" ] || fail "song.wav beside song.flac: $(cat "$work/said")"

# A signature file that cannot be saved is named with the reason: a folder
# at its name, a full disk, a folder this user may not write (tried as
# another user where the tests run as root); an -o DIR that is a link
# leading nowhere is named so.
mkdir -p "$work/fail/organ.sig"
ln -s /dev/full "$work/fail/tones.sig"
while IFS='|' read -r song reason; do
  expect_failure "saving $work/fail/$song.sig: $reason (Failed to save file (code 3))" "$work/long/$song.wav" \
    -o "$work/fail"
done <<EOF
organ|the output is a folder
tones|no space left on device
EOF
if [ "$(id -u)" -eq 0 ] && runuser -u nobody -- true 2>/dev/null; then
  chmod 755 "$work"
  mkdir "$work/theirs"
  touch "$work/theirs/mix.sig"
  chown nobody "$work/theirs/mix.sig"
  status=0
  runuser -u nobody -- "$hosts/kivet-extract" -c "$config" -o "$work/theirs" "$work/long/mix.wav" >/dev/null \
    2>"$work/said" || status=$?
  [ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: $work/long/mix.wav: saving $work/theirs/mix.sig:\
 permission denied in the folder $work/theirs, where the new file is made (Failed to save file (code 3))" ] ||
    fail "a folder that may not be written: $(cat "$work/said")"
else
  echo "note: not run as root: a folder that another user may not write is not tried" >&2
fi
ln -s nowhere "$work/dangling"
status=0
"$hosts/kivet-extract" -c "$config" -o "$work/dangling" "$work/long/mix.wav" >/dev/null 2>"$work/said" || status=$?
[ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: cannot make the folder $work/dangling: it is a\
 symbolic link that leads nowhere" ] || fail "-o a link that leads nowhere: $(cat "$work/said")"
# A folder that cannot be made is named alike by both hosts that make one,
# with the system's reason in lower case as every other reason; in a folder
# this user may not enter too (tried as another user where the tests run as
# root) (FOLDER|REASON).
mkdir -m 700 "$work/shut"
as_other=()
if [ "$(id -u)" -eq 0 ] && runuser -u nobody -- true 2>/dev/null; then as_other=(runuser -u nobody --); fi
while IFS='|' read -r folder reason; do
  runner=()
  if [ "$reason" = "permission denied" ]; then
    [ ${#as_other[@]} -gt 0 ] || continue
    runner=("${as_other[@]}")
  fi
  for command in "kivet-extract -c $config -o $folder $work/long/mix.wav" "kivet-synth $folder"; do
    status=0
    # shellcheck disable=SC2086
    "${runner[@]}" "$hosts/"$command >/dev/null 2>"$work/said" || status=$?
    [ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "${command%% *}: cannot make the folder $folder: $reason" ] ||
      fail "$command: $status $(cat "$work/said")"
  done
done <<EOF
$work/long/mix.wav/x|not a directory
$work/dangling|it is a symbolic link that leads nowhere
$work/shut/x|permission denied
EOF

# An AUDIO - is the file of that name, never the standard input; without
# such a file it is missing.
cp "$work/long/tones.wav" "$work/long/-"
for dash in there gone; do
  status=0
  (cd "$work/long" && "$hosts/kivet-extract" -c "$config" -o "$work/dash" - <mix.wav >"$work/printed" 2>"$work/said") ||
    status=$?
  title=$([ "$status" -ne 0 ] || "$hosts/kivet-inspect" -n 0 "$work/dash/-.sig" | sed -n 's/^ *TIT2 *"\(.*\)"$/\1/p')
  case $dash in
    there) [ "$status" -eq 0 ] && grep -qF -- "-: 6.000 s, 44100 Hz, mono -> $work/dash/-.sig" "$work/printed" &&
      [ "$title" = "Rising tones" ] || fail "- read as $title: $(cat "$work/printed" "$work/said")" ;;
    gone) [ "$status" -eq 1 ] && [ "$(cat "$work/said")" = "kivet-extract: -: no such file or directory" ] ||
      fail "no file -: $status $(cat "$work/said")" ;;
  esac
  rm -rf "$work/long/-" "$work/dash"
done

# Help asked for goes to the standard output; a wrong invocation gets the
# usage on the standard error stream.
for help in --help -h; do
  status=0
  "$hosts/kivet-extract" "$help" >"$work/printed" 2>"$work/said" || status=$?
  [ "$status" -eq 0 ] && [ ! -s "$work/said" ] || fail "$help: status $status, said $(cat "$work/said")"
  for term in "usage: kivet-extract" "-c CONFIG" "-o DIR" "libsndfile" "44100 Hz" ".sig" "rows and columns" \
    "Exit status: 0 done, 1 a failure, 2 a wrong invocation"; do
    grep -qF -- "$term" "$work/printed" || fail "$help does not explain $term"
  done
done
for wrong in "" "-x $work/empty.wav" "-c"; do
  status=0
  # shellcheck disable=SC2086
  "$hosts/kivet-extract" $wrong >"$work/printed" 2>"$work/said" || status=$?
  [ "$status" -eq 2 ] && [ ! -s "$work/printed" ] && grep -q "^usage: kivet-extract" "$work/said" ||
    fail "'$wrong': status $status, said $(cat "$work/said")"
done
finish
