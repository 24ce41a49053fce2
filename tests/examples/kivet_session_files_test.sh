#!/usr/bin/env bash
# kivet-session's files: the similarity configuration a session keeps, a
# session reached through a symbolic link, temporary files, its metadata
# file cut short or missing, two writers at once, lock files, the files a
# killed writer left, and a full disk.
#   kivet_session_files_test.sh HOSTS_DIR SIMCONFIG
# HOSTS_DIR holds kivet-session, kivet-extract and kivet-synth; SIMCONFIG is
# the sample similarity configuration, with the sample default.xml beside it.
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
expect 1 "kivet-session: $work/c.ses: the classifiers of $similarity cannot compare its songs, which the similarity\
 configuration stored in it adapted (Corrupted Session (code 29))" info -s "$similarity" "$work/c.ses"

# A session reached through a symbolic link is the file it leads to, also
# through a link to a link or to a session not made yet: a build adds to
# that file, or makes it, and leaves the links links; its lock is the one
# beside that file, which a build through a link waits for.
real=$(cd "$work" && pwd -P)
mkdir "$work/real"
ln -s c.ses "$work/l.ses"
ln -s "$work/l.ses" "$work/ll.ses"
ln -s real/new.ses "$work/n.ses"
status=0
(flock 9 && timeout 1 "$hosts/kivet-session" build "$work/ll.ses" "$a/glide.wav" 2>"$work/said" 9>&-) \
  9>"$work/c.ses.lock" || status=$?
[ "$status" -eq 124 ] && [ "$(said)" = "kivet-session: $real/c.ses is in use by another kivet-session; waiting for it\
 to finish" ] || fail "a build through a link did not wait: $status $(said)"
expect 0 "" build "$work/ll.ses" "$a/glide.wav"
expect 0 "" build "$work/n.ses" "$a/glide.wav"
[ -L "$work/l.ses" ] && [ -L "$work/ll.ses" ] && [ -L "$work/n.ses" ] &&
  [ "$(cd "$work" && ls -d ./*.* real/*)" = "$(printf '%s\n' ./c.meta ./c.ses ./c.ses.lock ./l.ses ./ll.ses ./n.ses \
  ./two.xml real/new.meta real/new.ses real/new.ses.lock)" ] || fail "builds through links: $(ls -lR "$work")"
[ "$(session info "$work/l.ses" | sed -n 2p)" = "8 songs" ] || fail "through a link: $(session info "$work/l.ses")"

# No temporary file stands where another user could have linked a file of
# theirs beforehand: info reads the session id from the session file, and the
# song a signature input is checked against goes to a folder of the
# program's own under $TMPDIR, gone afterwards, also when the program is
# ended while it is there. Without a temporary folder, that input is refused.
mkdir "$work/tmp"
echo theirs >"$work/theirs"
"$hosts/kivet-extract" -o "$work/sig" "$a/clicks.wav" >/dev/null
for run in "info $work/c.ses" "build $work/c.ses $work/sig/clicks.sig"; do
  (
    ln -s "$work/theirs" "$work/tmp/kivet-session-$BASHPID.txt"
    ln -s "$work/theirs" "$work/tmp/kivet-session-$BASHPID-reference.sig"
    # shellcheck disable=SC2086
    TMPDIR=$work/tmp exec "$hosts/kivet-session" $run >/dev/null 2>"$work/said"
  ) || fail "$run beside planted links: $(said)"
  rm "$work"/tmp/kivet-session-*
  [ "$(cat "$work/theirs")" = theirs ] && [ -z "$(ls -A "$work/tmp")" ] || fail "$run wrote $(ls -A "$work/tmp")"
done
TMPDIR=$work/none expect 0 "" info "$work/c.ses"
TMPDIR=$work/none expect 1 "kivet-session: $work/sig/clicks.sig: cannot make a temporary folder in $work/none: no such\
 file or directory" build "$work/c.ses" "$work/sig/clicks.sig"
# Modulation features of 3000 s make that song long enough to end the
# program while it is made.
sed -e 's/groupFrames="128"/groupFrames="300000"/' "$(dirname "$similarity")/default.xml" >"$work/long.xml"
TMPDIR=$work/tmp "$hosts/kivet-session" build -c "$work/long.xml" "$work/k.ses" "$work/sig/clicks.sig" &>/dev/null &
for _ in $(seq 100); do [ -z "$(ls -A "$work/tmp")" ] || break; sleep 0.05; done
kill -TERM $!
status=0
wait $! || status=$?
[ "$status" -eq 143 ] && [ -z "$(ls -A "$work/tmp")" ] ||
  fail "ended while checking a signature: $status $(ls "$work/tmp")"

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
# The user goes on: the songs keep what texts are left; a build saves the
# session whole, with empty texts for the songs that lost theirs, and later
# commands take it as it is.
expect 0 "kivet-session: $damage; going on without their texts" info --without-lost-texts "$work/m.ses"
head -c $((third + 10)) "$work/whole.meta" >"$work/m.meta"
expect 0 "kivet-session: $work/m.meta is damaged: 2 of 4 songs have no metadata; going on without their texts" \
  build --without-lost-texts "$work/m.ses" "$a/organ.wav"
expect 0 "" info "$work/m.ses"
[ "$(tail -n +5 "$work/out" | cut -f 1,2,4)" = "$(printf '%s\t%s\t%s\n' 1 0:02.000 'Rising tones' 2 0:02.000 \
  'C major chord' 3 0:00.000 '' 4 0:00.000 '' 5 0:02.000 'Held G major chord')" ] ||
  fail "info of the songs left: $(cat "$work/out")"
rm "$work/m.meta"
expect 1 "kivet-session: $work/m.meta is missing: 5 of 5 songs have no metadata (--without-lost-texts goes on\
 without them; a build then loses them for good)" query "$work/m.ses" "$a/clicks.wav"
[ ! -e "$work/m.meta" ] || fail "a query made $work/m.meta"
expect 0 "kivet-session: $work/m.meta is missing: 5 of 5 songs have no metadata; going on without their texts" \
  build --without-lost-texts "$work/m.ses" "$a/mix.wav"
expect 0 "" query "$work/m.ses" --id 6 -n 6
[ "$(cut -f 2,5 "$work/out" | LC_ALL=C sort)" = \
  "$(printf '%s\t%s\n' 1 '' 2 '' 3 '' 4 '' 5 '' 6 'Chord and clicks' id title)" ] ||
  fail "query of a session missing texts: $(cat "$work/out")"

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

# A build that waits on a lock file that a build which made no session
# removes waits again for a command that holds the new lock file.
exec 8>"$work/w.ses.lock"
flock 8
"$hosts/kivet-session" build "$work/w.ses" "$a/tones.wav" >/dev/null 2>"$work/said" 8>&- &
for _ in $(seq 100); do grep -q "waiting" "$work/said" && break; sleep 0.1; done
rm "$work/w.ses.lock"
exec 9>"$work/w.ses.lock"
flock 9
exec 8>&-
sleep 1
[ ! -e "$work/w.ses" ] || fail "a build went on beside the holder of the new lock file"
exec 9>&-
wait $! || fail "build after the lock file was made again: $(said)"

# 4. What a killed writer left beside the session goes with the next build,
# under its lock: the files of a build killed while it saved (a file size
# limit ends it), and every kind of file a writer of another process can
# leave. Files of the build's own process id stay, and so do those of other
# shapes or sessions.
status=0
# (The shell's report of the signal goes where the outer subshell's errors go.)
( (ulimit -c 0 -f 8 && exec "$hosts/kivet-session" build "$work/two.ses" "$a/glide.wav" >/dev/null) || exit ) \
  2>/dev/null || status=$?
mapfile -t killed < <(cd "$work" && ls -d two.*.[0-9]*.tmp two-partial-* 2>/dev/null)
[ "$status" -gt 128 ] && [ "${#killed[@]}" -gt 0 ] || fail "killed save: status $status, left ${killed[*]}"
gone=(two.ses.4242.tmp two.meta.4242.tmp two.ses.4242.old two.meta.4242.old two-partial-4242.ses two-partial-4242.meta
  two-partial-4242.ses.17.tmp two-partial-4242.meta.17.tmp "${killed[@]}")
kept=(two-partial-x.ses other-partial-1.ses two.ses.tmp two.ses.42a.tmp two.ses.4242.tmp.x two.sesx.4242.tmp
  two-partial-4242.ses.tmp other.ses.4242.tmp two.ses.4242.old~ two-partial-.meta)
(
  own=("two-partial-$BASHPID.ses" "two-partial-$BASHPID.meta.4242.tmp" "two-partial-4242.ses.$BASHPID.tmp")
  (cd "$work" && touch "${gone[@]}" "${kept[@]}" "${own[@]}" && printf '%s\n' "${kept[@]}" "${own[@]}" >kept)
  exec "$hosts/kivet-session" build "$work/two.ses" "$a/tones.wav" >/dev/null 2>"$work/said"
) || fail "build after a killed run: $(said)"
[ "$(said | LC_ALL=C sort)" = "$(printf "kivet-session: removed $work/%s, left by a run that did not finish\n" \
  "${gone[@]}" | LC_ALL=C sort)" ] || fail "leftovers: $(said)"
mapfile -t stay <"$work/kept"
[ "$(cd "$work" && ls -d two?* other* | LC_ALL=C sort)" = "$(printf '%s\n' two.meta two.ses two.ses.lock two.xml \
  "${stay[@]}" | LC_ALL=C sort)" ] || fail "files beside the session: $(ls "$work")"
(cd "$work" && rm "${stay[@]}" kept)
[ "$(session info "$work/two.ses" | sed -n 2p)" = "13 songs" ] ||
  fail "after a killed run: $(session info "$work/two.ses")"

# A full disk is named as such, and the old files stay as they were: the
# file the library writes the session or its metadata file to before it
# puts it in place (NAME.EXT.PID.tmp, with the program's process id) stands
# on /dev/full.
cp "$work/two.ses" "$work/before.ses"
cp "$work/two.meta" "$work/before.meta"
for full in ses meta; do
  status=0
  (
    ln -s /dev/full "$work/two.$full.$BASHPID.tmp"
    exec "$hosts/kivet-session" build "$work/two.ses" "$a/glide.wav" >/dev/null 2>"$work/said"
  ) || status=$?
  rm -f "$work"/two.*.tmp
  [ "$status" -eq 1 ] && grep -q "^kivet-session: saving $work/two.ses: no space left on device (" "$work/said" ||
    fail "full disk ($full): $status $(said)"
  cmp -s "$work/two.ses" "$work/before.ses" && cmp -s "$work/two.meta" "$work/before.meta" ||
    fail "full disk ($full) changed the session"
  [ "$(cd "$work" && ls -d two?*)" = "$(printf 'two.meta\ntwo.ses\ntwo.ses.lock\ntwo.xml')" ] ||
    fail "full disk ($full) left $(ls "$work")"
done
finish
