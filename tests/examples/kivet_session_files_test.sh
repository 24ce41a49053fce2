#!/usr/bin/env bash
# kivet-session's files: the similarity configuration a session keeps, its
# metadata file cut short or missing, two writers at once, temporary files a
# killed run left, and a full disk.
#   kivet_session_files_test.sh HOSTS_DIR SIMCONFIG
# HOSTS_DIR holds kivet-session and kivet-synth; SIMCONFIG is the sample
# similarity configuration.
set -euo pipefail
hosts=$1
similarity=$2
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

mkdir "$work/audio"
"$hosts/kivet-synth" -d 2 "$work/audio" >/dev/null
a=$work/audio

# 1. A session keeps the similarity configuration it was made with: one of
# two classifiers (loudness and rhythm), which ranks otherwise than the
# sample one, without the parameterisation, and with a semantic layer of
# those two.
sed -e '/<classifier name="\(timbre\|spectrum\|texture\|brightness\|attacks\)"/,/<\/classifier>/d' \
  -e '/<parameterization/,/<\/parameterization>/d' -e '/<class id="sound">/,/<\/class>/d' \
  -e '/<cfy id="attacks"\/>/d' "$similarity" >"$work/two.xml"
session build -s "$work/two.xml" "$work/c.ses" "$a/tones.wav" "$a/chord.wav" "$a/clicks.wav" "$a/drums.wav" \
  "$a/organ.wav" "$a/noise.flac" >/dev/null || fail "build with two.xml: $(said)"
expect 0 "" query -s "$work/two.xml" "$work/c.ses" --id 2
stored=$(cat "$work/out")
expect 0 "" query "$work/c.ses" --id 2
[ "$(cat "$work/out")" = "$stored" ] || fail "query without -s: $(cat "$work/out") instead of $stored"
# Songs added later are adapted by the stored configuration too.
expect 0 "" build "$work/c.ses" "$a/shaker.wav"
expect 0 "" query "$work/c.ses" --id 7
# Another configuration named on purpose is used, with a warning (below);
# one whose classifiers the stored songs lack cannot compare them.
expect 1 "kivet-session: $work/c.ses: Corrupted Session (code 29)" info -s "$similarity" "$work/c.ses"

# 2. A metadata file cut short or missing is reported, and nothing is
# written over it unless the user goes on without the lost texts.
session build "$work/m.ses" "$a/tones.wav" "$a/chord.wav" "$a/clicks.wav" "$a/drums.wav" >/dev/null || fail "build m"
cp "$work/m.meta" "$work/whole.meta"
cp "$work/m.ses" "$work/whole.ses"
size=$(stat -c %s "$work/m.meta")
third=$(grep -b '^<ITEM>' "$work/m.meta" | sed -n '3s/:.*//p')
# Cut in the middle (inside the third of four records: two lost), inside the
# last record, and before the closing line (every record kept).
for cut in $((third + 10)):2 $((size - 40)):1 $((size - 5)):0; do
  head -c "${cut%:*}" "$work/whole.meta" >"$work/m.meta"
  cp "$work/m.meta" "$work/cut.meta"
  lost=${cut#*:}
  if [ "$lost" -eq 0 ]; then
    damage="$work/m.meta is damaged: cut short, though every song kept its texts"
  else
    damage="$work/m.meta is damaged: $lost of 4 songs have no metadata"
  fi
  refused="kivet-session: $damage (--without-lost-texts goes on without them; a build then loses them for good)"
  expect 1 "$refused" info "$work/m.ses"
  expect 1 "$refused" query "$work/m.ses" --id 1
  expect 1 "$refused" export "$work/m.ses" --text "$work/m.txt"
  expect 1 "$refused" build "$work/m.ses" "$a/organ.wav"
  cmp -s "$work/m.meta" "$work/cut.meta" && cmp -s "$work/m.ses" "$work/whole.ses" || fail "a build wrote over $cut"
done
# The user goes on: the songs keep what texts are left, and the loss stays
# known.
expect 0 "kivet-session: $damage; going on without their texts" info --without-lost-texts "$work/m.ses"
head -c $((third + 10)) "$work/whole.meta" >"$work/m.meta"
expect 0 "kivet-session: $work/m.meta is damaged: 2 of 4 songs have no metadata; going on without their texts" \
  build --without-lost-texts "$work/m.ses" "$a/organ.wav"
expect 1 "kivet-session: $work/m.meta is damaged: 2 of 5 songs have no metadata (--without-lost-texts goes on\
 without them; a build then loses them for good)" info "$work/m.ses"
session info --without-lost-texts "$work/m.ses" >"$work/out" || fail "info --without-lost-texts: $(said)"
[ "$(tail -n +5 "$work/out" | cut -f 1,4)" = "$(printf '1\tRising tones\n2\tC major chord\n3\t\n4\t\n5\tHeld G major chord')" ] ||
  fail "info of the songs left: $(cat "$work/out")"
rm "$work/m.meta"
expect 1 "kivet-session: $work/m.meta is missing: 5 of 5 songs have no metadata (--without-lost-texts goes on\
 without them; a build then loses them for good)" query "$work/m.ses" "$a/clicks.wav"
[ ! -e "$work/m.meta" ] || fail "a query made $work/m.meta"
expect 0 "kivet-session: $work/m.meta is missing: 5 of 5 songs have no metadata; going on without their texts" \
  build --without-lost-texts "$work/m.ses" "$a/mix.wav"
expect 1 "kivet-session: $work/m.meta is damaged: 5 of 6 songs have no metadata (--without-lost-texts goes on\
 without them; a build then loses them for good)" info "$work/m.ses"

# 3. Two builds at once: the second waits for the first, and neither loses
# the other's songs.
first=("$a/tones.wav" "$a/glide.wav" "$a/chord.wav" "$a/minor-chord.wav" "$a/organ.wav" "$a/noise.flac")
second=("$a/rumble.wav" "$a/clicks.wav" "$a/drums.wav" "$a/shaker.wav" "$a/mix.wav" "$a/band.wav")
"$hosts/kivet-session" build "$work/two.ses" "${first[@]}" >/dev/null 2>"$work/said1" &
"$hosts/kivet-session" build "$work/two.ses" "${second[@]}" >/dev/null 2>"$work/said2" &
wait %1 && wait %2 || fail "two builds: $(cat "$work/said1" "$work/said2")"
[ "$(session info "$work/two.ses" | sed -n 2p)" = "12 songs" ] || fail "two builds: $(session info "$work/two.ses")"
expect 0 "kivet-session: warning: $work/two.xml differs from the similarity configuration stored in $work/two.ses;\
 its methods compare the songs of this command, though the stored songs were adapted by the stored one" \
  info -s "$work/two.xml" "$work/two.ses"

# 4. Temporary files of a killed run go with the next build; others stay.
touch "$work/two-partial-4242.ses" "$work/two-partial-4242.meta" "$work/two-partial-x.ses" "$work/other-partial-1.ses"
session build "$work/two.ses" "$a/tones.wav" >/dev/null || fail "build after a killed run: $(said)"
[ "$(said | sort)" = "$(printf 'kivet-session: removed %s, left by a run that did not finish\n' \
  "$work/two-partial-4242.meta" "$work/two-partial-4242.ses")" ] || fail "leftovers: $(said)"
[ "$(cd "$work" && ls -d ./*-partial-*)" = "$(printf './other-partial-1.ses\n./two-partial-x.ses')" ] ||
  fail "partial files: $(cd "$work" && ls -d ./*-partial-*)"

# A full disk is named as such, and the old files stay as they were: the
# session's temporary file (its name carries the program's process id) or
# its metadata file's stands on /dev/full, and so does the file a library
# writes before it renames it into that place (NAME.PID.tmp).
cp "$work/two.ses" "$work/before.ses"
cp "$work/two.meta" "$work/before.meta"
for full in ses meta; do
  status=0
  (
    ln -s /dev/full "$work/two-partial-$BASHPID.$full"
    ln -s /dev/full "$work/two-partial-$BASHPID.$full.$BASHPID.tmp"
    exec "$hosts/kivet-session" build "$work/two.ses" "$a/glide.wav" >/dev/null 2>"$work/said"
  ) || status=$?
  rm -f "$work"/two-partial-*.tmp
  [ "$status" -eq 1 ] && grep -q "^kivet-session: saving $work/two.ses: no space left on device (" "$work/said" ||
    fail "full disk ($full): $status $(said)"
  cmp -s "$work/two.ses" "$work/before.ses" && cmp -s "$work/two.meta" "$work/before.meta" ||
    fail "full disk ($full) changed the session"
  [ -z "$(cd "$work" && ls -d ./two-partial-[0-9]* 2>/dev/null)" ] || fail "full disk ($full) left $(ls "$work")"
done
finish
