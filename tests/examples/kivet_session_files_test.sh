#!/usr/bin/env bash
# kivet-session's files: the similarity configuration a session keeps, a
# session reached through a symbolic link, temporary files, its metadata
# file cut short or missing, two writers at once, lock files, the files a
# killed writer left, and a full disk.
#   kivet_session_files_test.sh HOSTS_DIR SIMCONFIG KILL_BEFORE_RENAME
# HOSTS_DIR holds kivet-session, kivet-extract and kivet-synth; SIMCONFIG is
# the sample similarity configuration, with the sample default.xml beside it;
# KILL_BEFORE_RENAME is the library that ends a host at a chosen rename.
set -euo pipefail
hosts=$1
similarity=$2
kill_before_rename=$3
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

clips

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
  [ "$(cd "$work" && ls -d ./*.* real/*)" = "$(printf '%s\n' ./c.meta ./c.meta.lock ./c.ses ./c.ses.lock ./l.ses \
  ./ll.ses ./n.ses ./two.xml real/new.meta real/new.meta.lock real/new.ses real/new.ses.lock)" ] ||
  fail "builds through links: $(ls -lR "$work")"
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
# The library's own staged files are made new, never through whatever
# stands at their names: links planted at the names of the writer's process
# id lead to a file that stays as it was, and the writes succeed.
mkdir "$work/p"
for run in "kivet-session build $work/p.ses $a/tones.wav" "kivet-extract -o $work/p $a/tones.wav" \
  "kivet-session export $work/p.ses --text $work/p.txt"; do
  (
    for name in p.ses p.meta p/tones.sig p.txt; do ln -s "$work/theirs" "$work/$name.$BASHPID.tmp"; done
    # shellcheck disable=SC2086
    exec "$hosts"/$run >/dev/null 2>"$work/said"
  ) || fail "$run beside planted links: $(said)"
  [ "$(cat "$work/theirs")" = theirs ] || fail "$run wrote through a planted link"
  rm "$work"/p.*.tmp "$work"/p/*.tmp
done
for file in p.ses p.meta p/tones.sig p.txt; do
  [ -f "$work/$file" ] && [ ! -L "$work/$file" ] && [ -s "$work/$file" ] || fail "$file: $(ls -l "$work/$file")"
done
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
# Cut in the middle (inside the third of four records: two lost, and the
# library finds no record of them), inside the last record (the library
# takes what is left of it), and before the closing line (every record kept).
for cut in $((third + 10)):2:2 $((size - 40)):1:0 $((size - 5)):0:0; do
  IFS=: read -r bytes lost lacking <<<"$cut"
  head -c "$bytes" "$work/whole.meta" >"$work/m.meta"
  cp "$work/m.meta" "$work/cut.meta"
  if [ "$lost" -eq 0 ]; then
    damage="$work/m.meta is damaged: cut short, though every song kept its texts"
  else
    damage="$work/m.meta is damaged: $lost of 4 songs have no metadata"
  fi
  refused="kivet-session: $damage (--without-lost-texts goes on without them; a build then loses them for good)"
  expect 1 "$refused" info "$work/m.ses"
  expect 1 "$refused" query "$work/m.ses" --id 1
  expect 1 "$refused" export "$work/m.ses" --text "$work/m.txt"
  # A build loads the songs with their texts: the library says first what it
  # found lacking.
  library=""
  [ "$lacking" -eq 0 ] ||
    library="Session::load() the metadata file $work/m.meta lacks the records of $lacking of 4 songs"$'\n'
  expect 1 "$library$refused" build "$work/m.ses" "$a/organ.wav"
  cmp -s "$work/m.meta" "$work/cut.meta" && cmp -s "$work/m.ses" "$work/whole.ses" || fail "a build wrote over $cut"
done
# The user goes on: the songs keep what texts are left; a build saves the
# session whole, with empty texts for the songs that lost theirs, and later
# commands take it as it is.
expect 0 "kivet-session: $damage; going on without their texts" info --without-lost-texts "$work/m.ses"
head -c $((third + 10)) "$work/whole.meta" >"$work/m.meta"
expect 0 "Session::load() the metadata file $work/m.meta lacks the records of 2 of 4 songs
kivet-session: $work/m.meta is damaged: 2 of 4 songs have no metadata; going on without their texts" \
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
# Such a build saves the mended session even when it adds no song. It loads
# the session with other texts through a folder of its own beside it: links
# planted at names it once used lead to a file that stays as it was.
rm "$work/m.meta"
printf 'not a signature' >"$work/garbage.sig"
(
  for name in m-partial-$BASHPID.ses m-partial-$BASHPID.meta; do ln -s "$work/theirs" "$work/$name"; done
  exec "$hosts/kivet-session" build --without-lost-texts "$work/m.ses" "$work/garbage.sig" >/dev/null 2>"$work/said"
) && fail "a build of nothing but a bad input succeeded"
[ "$(said)" = "kivet-session: $work/m.meta is missing: 6 of 6 songs have no metadata; going on without their texts
kivet-session: $work/garbage.sig: not a signature file" ] || fail "build of nothing to mend: $(said)"
[ "$(cat "$work/theirs")" = theirs ] || fail "a build wrote through a planted link"
rm "$work"/m-partial-*
[ "$(cd "$work" && ls -d m.*)" = "$(printf 'm.meta\nm.meta.lock\nm.ses\nm.ses.lock')" ] ||
  fail "left beside m: $(ls "$work")"
expect 0 "" info "$work/m.ses"

# A build on a session that this user may not write (its folder, the
# session file, its metadata file or its lock file) fails before it
# extracts anything, with one line naming what it may not write. Tried as
# another user where the tests run as root, whom no permission stops.
if [ "$(id -u)" -eq 0 ] && runuser -u nobody -- true 2>/dev/null; then
  chmod 755 "$work"
  ro=$work/ro
  while IFS='|' read -r owned what; do
    mkdir "$ro"
    session build "$ro/s.ses" "$a/tones.wav" >/dev/null || fail "build ro: $(said)"
    # shellcheck disable=SC2086
    (cd "$ro" && chown nobody $owned)
    status=0
    runuser -u nobody -- "$hosts/kivet-session" build "$ro/s.ses" "$work/garbage.sig" "$a/chord.wav" >/dev/null \
      2>"$work/said" || status=$?
    [ "$status" -eq 1 ] && [ "$(said)" = "kivet-session: $ro/s.ses: cannot write $what: permission denied; nothing\
 added" ] || fail "a build as another user ($what): status $status, said $(said)"
    rm -r "$ro"
  done <<EOF
s.ses s.meta s.ses.lock|in its folder $ro
. s.meta s.ses.lock|the session file
. s.ses s.ses.lock|its metadata file $ro/s.meta
. s.ses s.meta|its lock file $ro/s.ses.lock
EOF
else
  echo "note: not run as root: a build as another user is not tried" >&2
fi

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

# A lock file (the session's, or the metadata file's, which only builds
# take) is never opened through a link: a link at its name is refused, and
# what it leads to is not made. No lock file is left for a session that is
# not there: for a folder, or by a build of a new session that SIGTERM ends.
for lock in "two.ses.lock:info $work/two.ses" "two.ses.lock:build $work/two.ses $a/tones.wav" \
  "two.meta.lock:build $work/two.ses $a/tones.wav"; do
  mv "$work/${lock%%:*}" "$work/lock.kept"
  ln -s "$work/elsewhere" "$work/${lock%%:*}"
  # shellcheck disable=SC2086
  expect 1 "kivet-session: $work/${lock%%:*} is a symbolic link; a lock file is never opened through one (remove\
 it)" ${lock#*:}
  [ ! -e "$work/elsewhere" ] || fail "a lock was made through a link: ${lock%%:*}"
  rm "$work/${lock%%:*}"
  mv "$work/lock.kept" "$work/${lock%%:*}"
done
mkdir "$work/dir.ses"
expect 1 "kivet-session: $work/dir.ses: not a session file" info "$work/dir.ses"
expect 1 "kivet-session: $work/dir.ses: not a session file" build "$work/dir.ses" "$a/tones.wav"
[ ! -e "$work/dir.ses.lock" ] || fail "a lock file was left for a folder"
TMPDIR=$work/tmp "$hosts/kivet-session" build -c "$work/long.xml" "$work/t.ses" "$work/sig/clicks.sig" &>/dev/null &
for _ in $(seq 100); do [ -z "$(ls -A "$work/tmp")" ] || break; sleep 0.05; done
kill -TERM $!
status=0
wait $! || status=$?
[ "$status" -eq 143 ] && [ -z "$(cd "$work" && ls -d t.* 2>/dev/null)" ] && [ -z "$(ls -A "$work/tmp")" ] ||
  fail "a new session's build ended by a signal: $status $(ls "$work" "$work/tmp")"

# 4. A build that did not finish is finished by the next one, under the
# lock, from the record the lock file keeps of its save: the staged files of
# a build killed while it saved (a file size limit ends it) go. Names of the
# same shapes that no record names stay, whoever made them, and one line
# names them: a user's backups, a name the library never writes (a leading
# zero), copies of another session at an ended process's names, a user's
# folder at a load folder's name, and a link there beside a metadata file of
# its process.
# Copies of two songs, which the session does not hold yet.
mkdir "$work/again"
cp "$a/glide.wav" "$a/tones.wav" "$work/again"
status=0
# (The shell's report of the signal goes where the outer subshell's errors go.)
( (ulimit -c 0 -f 8 && exec "$hosts/kivet-session" build "$work/two.ses" "$work/again/glide.wav" >/dev/null) || exit ) \
  2>/dev/null || status=$?
mapfile -t killed < <(cd "$work" && ls -d two.*.[0-9]*.tmp 2>/dev/null)
[ "$status" -gt 128 ] && [ "${#killed[@]}" -gt 0 ] || fail "killed save: status $status, left ${killed[*]}"
process=${killed[0]#two.*.}
ended=()
for _ in 1 2; do
  sh -c 'exit 0' &
  ended+=($!)
  wait $!
done
stamp=$(date +%s)
planted=(two.ses.$stamp.old two.meta.$stamp.old two.ses.0${ended[0]}.tmp two.ses.${ended[0]}.tmp
  two.meta.${ended[0]}.old two.ses.${ended[0]}.load-backup two.ses.${ended[1]}.load-x12345 two.meta.${ended[1]}.old)
listing() { (cd "$work" && find "${planted[@]}" | LC_ALL=C sort && find "${planted[@]}" -type f -exec cksum {} +); }
(cd "$work" && cp two.ses "${planted[0]}" && cp two.meta "${planted[1]}" && touch "${planted[2]}" &&
  cp c.ses "${planted[3]}" && cp c.meta "${planted[4]}" && mkdir "${planted[5]}" && cp two.ses two.meta "${planted[5]}" &&
  ln -s real "${planted[6]}" && cp two.meta "${planted[7]}")
listing >"$work/planted"
expect 0 "kivet-session: removed $(printf "$work/%s, " "${killed[@]}" | sed 's/, $//'), left by a run (process\
 ${process%%.*}) that did not finish
$(noted "$work/two.ses" "${planted[@]}")" build "$work/two.ses" "$work/again/tones.wav"
[ "$(listing)" = "$(cat "$work/planted")" ] || fail "names no record names: $(listing)"
[ -z "$(cd "$work" && ls -d "${killed[@]}" 2>/dev/null)" ] || fail "the killed save's files stayed: $(ls "$work")"
(cd "$work" && rm -rf "${planted[@]}" planted)
[ "$(session info "$work/two.ses" | sed -n 2p)" = "13 songs" ] ||
  fail "after a killed run: $(session info "$work/two.ses")"

# A save cut between its two renames (the new metadata file in place, the
# old one kept aside, the new session file staged beside the old one) is
# completed by the next build, which then adds to the whole new session, as
# the builds after it do: also where every build is the second process of a
# new pid namespace (a container's), all of one pid, which none takes for
# its own.
cuts=(kill)
if [ "${#new_pid_namespace[@]}" -gt 0 ]; then
  cuts+=(container)
else
  echo "note: this machine allows no pid namespace: the builds of one pid are not tried" >&2
fi
for cut in "${cuts[@]}"; do
  run=()
  [ "$cut" = kill ] || run=("${new_pid_namespace[@]}" sh -c '"$@" & wait $!' sh)
  session build "$work/$cut.ses" "$a/tones.wav" "$a/chord.wav" >/dev/null || fail "build $cut: $(said)"
  status=0
  (exec "${run[@]}" env KIVET_KILL_BEFORE_RENAME_TO="/$cut.ses" LD_PRELOAD="$kill_before_rename" \
    ASAN_OPTIONS=verify_asan_link_order=0 "$hosts/kivet-session" build "$work/$cut.ses" "$a/organ.wav" >/dev/null \
    2>&1) 2>/dev/null || status=$?
  process=$(cd "$work" && ls "$cut".ses.*.tmp 2>/dev/null | sed 's/^[a-z]*\.ses\.\([0-9]*\)\.tmp$/\1/')
  [ "$status" -eq 137 ] && [ -n "$process" ] && [ -e "$work/$cut.meta.$process.old" ] ||
    fail "a build killed between its renames: $status $(ls "$work")"
  for song in drums mix; do
    status=0
    "${run[@]}" "$hosts/kivet-session" build "$work/$cut.ses" "$a/$song.wav" >/dev/null 2>"$work/said" || status=$?
    wanted=$([ "$song" = mix ] || completed "$work/$cut.ses" "$process")
    [ "$status" -eq 0 ] && [ "$(said)" = "$wanted" ] || fail "build $cut $song: $status $(said)"
  done
  expect 0 "" info "$work/$cut.ses"
  [ "$(sed -n 2p "$work/out")" = "5 songs" ] && [ "$(tail -n +5 "$work/out" | cut -f 4 | grep -c .)" -eq 5 ] ||
    fail "the session of an unfinished save ($cut): $(cat "$work/out")"
  [ -z "$(cd "$work" && ls -d "$cut".*.[0-9]* 2>/dev/null)" ] || fail "left beside $cut: $(ls "$work")"
done

# A full disk is named by the system's reason, and the old files stay as
# they were with nothing beside them: a file size limit, its signal ignored,
# stands in for it, failing the save's writes as a full disk would.
cp "$work/two.ses" "$work/before.ses"
cp "$work/two.meta" "$work/before.meta"
status=0
(
  trap '' XFSZ
  ulimit -f 1
  exec "$hosts/kivet-session" build "$work/two.ses" "$work/again/glide.wav" >/dev/null 2>"$work/said"
) || status=$?
[ "$status" -eq 1 ] && grep -q "^kivet-session: saving $work/two.ses: file too large (" "$work/said" ||
  fail "full disk: $status $(said)"
cmp -s "$work/two.ses" "$work/before.ses" && cmp -s "$work/two.meta" "$work/before.meta" ||
  fail "full disk changed the session"
[ "$(cd "$work" && ls -d two?*)" = "$(printf 'two.meta\ntwo.meta.lock\ntwo.ses\ntwo.ses.lock\ntwo.xml')" ] ||
  fail "full disk left $(ls "$work")"
finish
