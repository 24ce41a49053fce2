#!/usr/bin/env bash
# kivet-session and kivet-extract as a user runs them again and again: a
# build adds no song twice and passes over the session's own files; a signal
# in an export or a signature save leaves nothing beside its output; slips
# get one line naming them.
#   kivet_session_again_test.sh HOSTS_DIR KILL_BEFORE_RENAME
# HOSTS_DIR holds kivet-session, kivet-extract and kivet-synth;
# KILL_BEFORE_RENAME is the library that ends or signals a host at a chosen
# rename or link.
set -euo pipefail
hosts=$1
kill_before_rename=$2
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

clips
m=$work/music
mkdir -p "$m/deep/folder/of/songs/that/goes/on/and/on"
cd "$m"
cp "$a"/*.wav "$m/"
# from FOLDER COMMAND...: expect, run from FOLDER.
from() { local folder=$1; shift; (cd "$folder" && expect "$@"); }

# 1. A build run again adds nothing, and leaves the session's files as they
# were; by any name of a file it holds: relative, with ./ or .., absolute,
# through a link, from another folder.
expect 0 "" build music.ses tones.wav chord.wav organ.wav
cp music.ses kept.ses
cp music.meta kept.meta
ln -s tones.wav link.wav
ln -s "$m" "$work/music-link"
while IFS='|' read -r folder session inputs; do
  # shellcheck disable=SC2086
  from "$folder" 0 "" build "$session" $inputs
  [ "$(cat "$work/out")" = "$session: 3 songs (0 added, 3 already there)" ] || fail "again from $folder: $(cat "$work/out")"
done <<EOF
$m|music.ses|tones.wav chord.wav organ.wav
$m|music.ses|./tones.wav deep/../chord.wav $m/organ.wav
$m|music.ses|link.wav $work/music-link/chord.wav $work/music-link/organ.wav
$m/deep|../music.ses|../tones.wav ../chord.wav $work/music-link/deep/../organ.wav
EOF
cmp -s music.ses kept.ses && cmp -s music.meta kept.meta || fail "a build that added nothing wrote the session"

# The session's own files among the inputs ("*" in its folder) are passed
# over in one line, a staged name of a save too (which stays, named as a
# leftover); a file copied in since is added, the others are there.
cp "$a/clicks.wav" new.wav
touch music.ses.99999.old
rm kept.ses kept.meta link.wav
(cd "$m" && expect 0 "$(noted music.ses music.ses.99999.old)
kivet-session: music.ses: passed over the session's own files among the inputs: music.meta, music.meta.lock,\
 music.ses, music.ses.99999.old, music.ses.lock" build music.ses tones.wav chord.wav organ.wav new.wav music.*)
[ "$(cat "$work/out")" = "music.ses: 4 songs (1 added, 3 already there)" ] || fail "build *: $(cat "$work/out")"
rm music.ses.99999.old

# A signature file is there when its song's file is: one of a song the
# session holds adds nothing, one of a new song adds it, and its audio file
# is then there.
"$hosts/kivet-extract" -o sigs organ.wav drums.wav >/dev/null
cp sigs/drums.sig "$work/drums.sig"
expect 0 "" build music.ses sigs/organ.sig "$work/drums.sig"
[ "$(cat "$work/out")" = "music.ses: 5 songs (1 added, 1 already there)" ] || fail "signatures: $(cat "$work/out")"
expect 0 "" build music.ses drums.wav
[ "$(cat "$work/out")" = "music.ses: 5 songs (0 added, 1 already there)" ] || fail "drums again: $(cat "$work/out")"

# A build killed between the two renames of its save, run again, completes
# the save and adds nothing more.
status=0
( (exec env LD_PRELOAD="$kill_before_rename" ASAN_OPTIONS=verify_asan_link_order=0 \
  KIVET_KILL_BEFORE_RENAME_TO=/music.ses "$hosts/kivet-session" build "$m/music.ses" glide.wav >/dev/null 2>&1) ||
  exit) 2>/dev/null || status=$?
[ "$status" -eq 137 ] || fail "the build killed between its renames: $status"
session build "$m/music.ses" glide.wav >"$work/out" || fail "after the kill: $(said)"
grep -q "completed the save that process" "$work/said" &&
  [ "$(cat "$work/out")" = "$m/music.ses: 6 songs (0 added, 1 already there)" ] ||
  fail "after the kill: $(cat "$work/out") $(said)"

# One song is one song.
expect 0 "" build one.ses tones.wav
[ "$(cat "$work/out")" = "one.ses: 1 song (1 added)" ] || fail "one song: $(cat "$work/out")"
[ "$(session info one.ses | sed -n 2p)" = "1 song" ] || fail "info of one song: $(session info one.ses)"

# Only the file counts: after its folder moved, a song is added again from
# the new place, and a line after the summary counts the stored songs whose
# files were moved or removed (CHANGE|INPUTS|SUMMARY|COUNTED).
while IFS='|' read -r change inputs summary counted; do
  eval "$change"
  # shellcheck disable=SC2086
  expect 0 "" build moved.ses $inputs
  wanted="moved.ses: $summary"
  [ -z "$counted" ] ||
    wanted+=$'\n'"moved.ses: the $counted moved or removed; a file moved since it was added is added again"
  [ "$(cat "$work/out")" = "$wanted" ] || fail "after $change: $(cat "$work/out")"
done <<'EOF'
mkdir Music && cp tones.wav chord.wav Music/|Music/tones.wav|1 song (1 added)|
mv Music Musik|Musik/tones.wav Musik/chord.wav|3 songs (2 added)|file of 1 stored song was
rm Musik/chord.wav|Musik/tones.wav|3 songs (0 added, 1 already there)|files of 2 stored songs were
EOF

# 2. SIGINT, SIGTERM or SIGHUP while an export or kivet-extract writes its
# output, just before the output is kept aside or renamed into place: the
# process ends with 128+N, the output is as it was, nothing stays beside it.
printf 'old\n' >old
mkdir out
for signal in 2 15 1; do
  for write in "kivet-session export music.ses --text out/o:/o" "kivet-session export music.ses --riff out/o:/o" \
    "kivet-extract -o out tones.wav:/tones.sig"; do
    command=${write%:*}
    output=out/${write##*/}
    for moment in KIVET_KILL_BEFORE_LINK_TO=.old "KIVET_KILL_BEFORE_RENAME_TO=${write##*:}"; do
      cp old "$output"
      status=0
      # shellcheck disable=SC2086
      ( (exec env LD_PRELOAD="$kill_before_rename" ASAN_OPTIONS=verify_asan_link_order=0 "$moment" \
        KIVET_RENAME_SIGNAL=$signal "$hosts/"$command >/dev/null 2>&1) || exit) 2>/dev/null || status=$?
      [ "$status" -eq $((128 + signal)) ] && cmp -s old "$output" && [ "$(ls out)" = "${output#out/}" ] ||
        fail "signal $signal at $moment in $command: $status $(ls out)"
      rm out/*
    done
  done
done
# At random moments (SIGTERM: a job the shell starts in the background
# ignores SIGINT): the output is as it was, or whole.
session export music.ses --riff whole.riff -n 250 >/dev/null || fail "export: $(said)"
"$hosts/kivet-extract" -o whole tones.wav >/dev/null
for write in "kivet-session export music.ses --riff out/o -n 250:out/o:whole.riff" \
  "kivet-extract -o out tones.wav:out/tones.sig:whole/tones.sig"; do
  IFS=: read -r command output whole <<<"$write"
  for _ in $(seq 20); do
    cp old "$output"
    # shellcheck disable=SC2086
    "$hosts/"$command >/dev/null 2>&1 &
    sleep "$(printf '0.%03d' $((RANDOM % 80)))"
    kill -TERM $! 2>/dev/null || true
    status=0
    wait $! || status=$?
    { [ "$status" -eq 143 ] || [ "$status" -eq 0 ]; } && { cmp -s old "$output" || cmp -s "$whole" "$output"; } &&
      [ "$(ls out)" = "${output#out/}" ] || fail "SIGTERM at a random moment of $command: $status $(ls out)"
  done
  rm out/*
done

# kivet-synth writes each clip aside and renames it into place: a signal
# just before the rename leaves the clip as it was and nothing beside it.
mkdir synth
cp old synth/tones.wav
status=0
( (exec env LD_PRELOAD="$kill_before_rename" ASAN_OPTIONS=verify_asan_link_order=0 KIVET_RENAME_SIGNAL=15 \
  KIVET_KILL_BEFORE_RENAME_TO=/tones.wav "$hosts/kivet-synth" -d 1 synth >/dev/null 2>&1) || exit) 2>/dev/null ||
  status=$?
[ "$status" -eq 143 ] && cmp -s old synth/tones.wav && [ "$(ls -A synth)" = tones.wav ] ||
  fail "kivet-synth signalled before a rename: $status $(ls -A synth)"
# kivet-synth makes and writes each clip a block at a time: clips of a
# quarter of an hour (at 1 kHz) take no more memory than clips of a second.
if [ -x /usr/bin/time ]; then
  for seconds in 1 900; do
    /usr/bin/time -f %M -o "$work/peak-$seconds" "$hosts/kivet-synth" -r 1000 -d "$seconds" "long-$seconds" >/dev/null ||
      fail "kivet-synth -d $seconds"
  done
  short=$(tail -1 "$work/peak-1")
  long=$(tail -1 "$work/peak-900")
  [ "$((long - short))" -lt 20000 ] || fail "kivet-synth's memory grows with the length: $short KB, then $long KB"
  rm -r long-1 long-900
else
  echo "note: no /usr/bin/time: the memory kivet-synth takes is not measured" >&2
fi

# 3. Slips: each gets one line naming it, then the usage (status 2), or the
# line of a failure (status 1).
while IFS='|' read -r host line arguments; do
  status=0
  # shellcheck disable=SC2086
  "$hosts/$host" $arguments >/dev/null 2>"$work/said" || status=$?
  [ "$status" -eq 2 ] && [ "$(head -1 "$work/said")" = "$host: $line" ] &&
    sed -n 2p "$work/said" | grep -q "^usage: $host" || fail "$host $arguments: $status $(said)"
done <<'EOF'
kivet-session|unknown command biuld|biuld music.ses tones.wav
kivet-session|export writes one output: --text FILE or --riff FILE, not both|export music.ses --text a --riff b
kivet-session|export needs --text FILE or --riff FILE|export music.ses
kivet-session|build needs at least one INPUT after SESSION|build music.ses
kivet-session|build needs SESSION|build
kivet-session|query needs an INPUT or --id ID|query music.ses
kivet-session|query takes one INPUT or --id ID, not chord.wav|query music.ses tones.wav chord.wav
kivet-session|query takes one INPUT or --id ID, not both|query music.ses tones.wav --id 1
kivet-session|info takes SESSION alone, not tones.wav|info music.ses tones.wav
kivet-session|build takes no option --id|build --id 3 music.ses tones.wav
kivet-session|--mask goes with --text, not --riff|export music.ses --riff r --mask 3
kivet-session|unknown option -x.wav|build music.ses -x.wav
kivet-session|option --text needs a value|export music.ses --text
kivet-session|option --text given twice|export music.ses --text a.txt --text b.txt
kivet-session|option --riff given twice|export music.ses --riff a --riff b
kivet-session|option --id given twice|query music.ses --id 1 --id 2
kivet-session|option -n given twice|query music.ses --id 1 -n 1 -n 2
kivet-session|option -c given twice|build -c a.xml -c b.xml music.ses tones.wav
kivet-session|option -s given twice|info -s a.xml -s b.xml music.ses
kivet-session|option --mask given twice|export music.ses --text a.txt --mask 1 --mask 2
kivet-session|option --without-lost-texts given twice|info --without-lost-texts --without-lost-texts music.ses
kivet-session|--mask needs a whole number from 0 to 127, not "128"|export music.ses --text a.txt --mask 128
kivet-session|--mask needs a whole number from 0 to 127, not "999999"|export music.ses --text a.txt --mask 999999
kivet-session|-n needs a whole number from 0 to 4294967295, not "4294967296"|query music.ses --id 1 -n 4294967296
kivet-session|-n needs a whole number from 0 to 4294967295, not "99999999999999999999"|query music.ses tones.wav -n 99999999999999999999
kivet-session|--id needs a whole number from 0 to 4294967295, not "-1"|query music.ses --id -1
kivet-session|no command given|
kivet-extract|unknown option -x.wav|-o sigs -x.wav
kivet-extract|AUDIO is missing|
kivet-extract|AUDIO is missing|-o sigs
kivet-extract|option -o given twice|-o a -o b tones.wav
kivet-synth|-r needs a whole rate from 1000 to 384000 Hz, not abc|-r abc synth
kivet-synth|-r needs a whole rate from 1000 to 384000 Hz, not 44100.5|-r 44100.5 synth
kivet-synth|-d needs seconds above 0 and at most 3600, not 0|-d 0 synth
kivet-synth|-n needs a level from 0 to 1, not 2|-n 2 synth
kivet-synth|option -d needs a value|synth -d
kivet-synth|unknown option -x|-x synth
kivet-synth|one DIR, not synth and other|synth other
kivet-synth|DIR is missing|-d 1
kivet-synth|DIR is missing|
kivet-synth|option -r given twice|-r 8000 -r 9000 synth
kivet-synth|-d 1e-9 is too short for a sample at 44100 Hz (one lasts 1/44100 s)|-d 1e-9 synth
kivet-synth|-d 0.0009 is too short for a sample at 1000 Hz (one lasts 1/1000 s)|-r 1000 -d 0.0009 synth
EOF
[ -z "$(ls -d a.txt b.txt a b 2>/dev/null)" ] && [ "$(ls synth)" = tones.wav ] || fail "a slip wrote: $(ls . synth)"
"$hosts/kivet-synth" --help | grep -q '^usage: kivet-synth' || fail "kivet-synth --help"
# -- ends the options.
cp tones.wav ./-dash.wav
expect 0 "" build dash.ses -- -dash.wav
[ "$(cat "$work/out")" = "dash.ses: 1 song (1 added)" ] || fail "--: $(cat "$work/out")"
# An INPUT - is the file of that name, never the standard input; without
# such a file it is missing.
cp tones.wav ./-
expect 0 "" build stdin.ses - <chord.wav
[ "$(session info stdin.ses | sed -n 5p | cut -f 4)" = "Rising tones" ] || fail "build -: $(session info stdin.ses)"
expect 0 "" query stdin.ses - -n 1 <chord.wav
[ "$(sed -n 2p "$work/out" | cut -f 3,5)" = "$(printf '1.000\tRising tones')" ] || fail "query -: $(cat "$work/out")"
rm ./-
expect 1 "kivet-session: -: no such file or directory" query stdin.ses - <chord.wav
expect 1 "kivet-session: deep: is a folder, not an audio file" build music.ses deep
expect 1 "kivet-session: deep: is a folder, not an audio file" query music.ses deep
expect 1 "kivet-session: gone.wav: no such file or directory" build music.ses gone.wav
expect 1 "kivet-session: nodir/new.ses: its folder nodir does not exist; no session made" build nodir/new.ses tones.wav
expect 1 "kivet-session: tones.wav/new.ses: tones.wav is not a folder; no session made" build tones.wav/new.ses tones.wav
[ ! -e nodir ] || fail "a build made nodir"
status=0
"$hosts/kivet-extract" -o sigs deep >/dev/null 2>"$work/said" || status=$?
[ "$status" -eq 1 ] && [ "$(said)" = "kivet-extract: deep: is a folder, not an audio file" ] || fail "extract deep: $(said)"
# The progress bar on a terminal shows the end of each path, the file's name.
deep=deep/folder/of/songs/that/goes/on/and/on
cp chord.wav "$deep/a song with a name longer than forty characters.wav"
script -qec "'$hosts/kivet-session' build deep.ses $deep/*.wav" /dev/null >"$work/tty" || fail "build on a terminal"
grep -q "] 0/1 \.\.\.name longer than forty characters.wav" "$work/tty" || fail "progress: $(cat -A "$work/tty")"
finish
