#!/usr/bin/env bash
# What kivet-session tells its user: failures they can act on, a standard
# output that holds the results alone, names for untagged songs, and its
# help.
#   kivet_session_messages_test.sh HOSTS_DIR SIMCONFIG CONVERTER EMPTY_SESSION
# HOSTS_DIR holds kivet-session, kivet-extract, kivet-inspect and
# kivet-synth; SIMCONFIG is the sample similarity configuration; CONVERTER
# and EMPTY_SESSION are audio_convert and empty_session (tests/examples/).
set -euo pipefail
hosts=$1
similarity=$2
convert=$3
empty_session=$4
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

# kivet-synth makes the folder it is given.
"$hosts/kivet-synth" -d 2 "$work/audio/new" >/dev/null || fail "kivet-synth into a new folder"
a=$work/audio/new
[ "$(ls "$a" | wc -l)" -eq 12 ] || fail "kivet-synth wrote $(ls "$a")"
"$hosts/kivet-extract" -o "$work/sig" "$a/clicks.wav" >/dev/null

# Inputs that cannot be added, each with its reason; the others are added.
# Mono, 16 bits, 1 Hz, two samples.
printf 'RIFF\050\0\0\0WAVEfmt \020\0\0\0\001\0\001\0\001\0\0\0\002\0\0\0\002\0\020\0data\004\0\0\0\0\0\0\0' \
  >"$work/slow.wav"
: >"$work/empty.sig"
printf 'not a signature at all' >"$work/garbage.sig"
head -c 300 "$work/sig/clicks.sig" >"$work/cut.sig"
expect 1 "kivet-session: $a/./tones.wav: the same file as $a/tones.wav, added once
kivet-session: $work/slow.wav: sample rate 1 Hz is not supported (8000–384000 Hz)
kivet-session: $work/empty.sig: not a signature file
kivet-session: $work/garbage.sig: not a signature file
kivet-session: $work/cut.sig: the signature file is truncated or damaged (readMetaStream: corrupted stream)" \
  build "$work/s.ses" "$a/tones.wav" "$work/slow.wav" "$work/empty.sig" "$work/garbage.sig" "$work/cut.sig" \
  "$work/sig/clicks.sig" "$a/./tones.wav"
[ "$(cat "$work/out")" = "$work/s.ses: 2 songs (2 added)" ] || fail "build: $(cat "$work/out")"
# A RIFF table needs 5 songs at least: a smaller session is refused, with
# its count, and nothing is written.
expect 1 "kivet-session: $work/r.riff: the RIFF table needs a session of at least 5 songs; $work/s.ses holds 2 songs\
 (Session too small (code 27))" export "$work/s.ses" --riff "$work/r.riff"
[ ! -e "$work/r.riff" ] || fail "a RIFF table of 2 songs was written"

# A SESSION that is a file of another kind (the session forgotten: build
# song.ogg ...) is named with what it looks like, whatever the command; the
# file stays as it was, and nothing is made beside it (FILE|WHAT IT IS).
mkdir "$work/other"
cp "$a/tones.wav" "$work/other/song.wav"
cp "$a/noise.flac" "$work/other/song.flac"
cp "$work/sig/clicks.sig" "$work/other/song.sig"
printf 'notes\n' >"$work/other/notes.txt"
: >"$work/other/empty.ses"
(cd "$work/other" && cksum ./*) >"$work/other.sums"
while IFS='|' read -r -u 3 file what; do
  while IFS='|' read -r command operands; do
    # shellcheck disable=SC2086
    expect 1 "kivet-session: $work/other/$file: not a session file$what; SESSION comes first (kivet-session\
 ${command%% *} $operands)" ${command/SESSION/$work/other/$file}
  done <<EOF
build SESSION $a/chord.wav|SESSION INPUT...
query SESSION --id 1|SESSION (INPUT | --id ID)
info SESSION|SESSION
export SESSION --text $work/other/t.txt|SESSION (--text FILE | --riff FILE)
EOF
done 3<<'EOF'
song.wav| but an audio file
song.flac| but an audio file
song.sig| but a signature file
notes.txt|, nor an audio or a signature file
empty.ses|, nor an audio or a signature file
EOF
[ "$(cd "$work/other" && cksum ./*)" = "$(cat "$work/other.sums")" ] || fail "other files: $(ls "$work/other")"

# A configuration that cannot be read, and an export that cannot be written
# (with the system's reason where there is one), are named as such; no
# session is touched.
expect 1 "kivet-session: cannot read the configuration $work/none.xml: no such file or directory" \
  build -c "$work/none.xml" "$work/none.ses" "$a/chord.wav"
expect 1 "kivet-session: cannot read the similarity configuration $work/none.xml: no such file or directory" \
  build -s "$work/none.xml" "$work/none.ses" "$a/chord.wav"
expect 1 "kivet-session: cannot read the configuration $work/audio: is a directory" query -c "$work/audio" \
  "$work/s.ses" "$a/chord.wav"
session build "$work/s.ses" "$a/glide.wav" "$a/organ.wav" "$a/drums.wav" >/dev/null || fail "build s: $(said)"
mkdir "$work/folder"
while IFS='|' read -r output reason; do
  for export in --text --riff; do
    expect 1 "kivet-session: $output: $reason (Failed to save file (code 3))" export "$work/s.ses" $export "$output"
  done
done <<EOF
$work/no/s.txt|no such file or directory
$work/folder/|the output is a folder
.|the output is a folder
EOF
# A file this user may write in a folder it may not write is refused for
# that folder, where the new file is made (tried as another user where the
# tests run as root).
if [ "$(id -u)" -eq 0 ] && runuser -u nobody -- true 2>/dev/null; then
  chmod 755 "$work"
  touch "$work/folder/s.txt"
  chown nobody "$work/folder/s.txt"
  status=0
  runuser -u nobody -- "$hosts/kivet-session" export "$work/s.ses" --text "$work/folder/s.txt" >/dev/null \
    2>"$work/said" || status=$?
  [ "$status" -eq 1 ] && [ "$(said)" = "kivet-session: $work/folder/s.txt: permission denied in the folder\
 $work/folder, where the new file is made (Failed to save file (code 3))" ] || fail "export as another user: $(said)"
  # A session in a folder this user may not enter: the system's reason, as
  # every other.
  mkdir -m 700 "$work/shut"
  status=0
  runuser -u nobody -- "$hosts/kivet-session" info "$work/shut/s.ses" >/dev/null 2>"$work/said" || status=$?
  [ "$status" -eq 1 ] && [ "$(said)" = "kivet-session: $work/shut/s.ses: permission denied" ] ||
    fail "a session in a folder shut to this user: $(said)"
else
  echo "note: not run as root: a folder that another user may not write is not tried" >&2
fi
# A RIFF table of more nearest songs than it stores says so, and stores as
# many as it can.
expect 0 "kivet-session: -n 300: the RIFF table stores 250 nearest songs at most; storing 250" \
  export "$work/s.ses" --riff "$work/300.riff" -n 300
expect 0 "" export "$work/s.ses" --riff "$work/250.riff" -n 250
cmp -s "$work/300.riff" "$work/250.riff" || fail "export --riff -n 300 differs from -n 250"
# A file that is no similarity configuration (an extraction configuration),
# and one of broken XML, are refused in one line before anything is written:
# no session is made, and an existing one stays as it was.
printf '<similarity>\n  <semanticlayer>\n</similarity>\n' >"$work/broken.xml"
extraction=$(dirname "$similarity")/default.xml
cp "$work/s.ses" "$work/kept.ses"
cp "$work/s.meta" "$work/kept.meta"
for refused in "$extraction:$extraction is no similarity configuration: it names no similarity method (no \
\"similaritymethod\" element of module \"overallsimilarity\" or \"aspectsimilarity\")" \
  "$work/broken.xml:cannot read the similarity configuration $work/broken.xml: expected end of tag 'semanticlayer' \
at line 3, column 3"; do
  for target in new s; do
    expect 1 "kivet-session: ${refused#*:}" build -s "${refused%%:*}" "$work/$target.ses" "$a/chord.wav"
  done
  [ -z "$(ls "$work"/new.* 2>/dev/null)" ] && cmp -s "$work/s.ses" "$work/kept.ses" &&
    cmp -s "$work/s.meta" "$work/kept.meta" || fail "-s ${refused%%:*} wrote: $(ls "$work")"
done

# A build of which nothing could be added writes no session.
expect 1 "kivet-session: $work/garbage.sig: not a signature file
kivet-session: $work/none.ses: no song could be added; no session written" build "$work/none.ses" "$work/garbage.sig"
[ -z "$(ls -d "$work"/none.* 2>/dev/null)" ] || fail "a session of nothing was written: $(ls "$work")"

# A session without songs says so.
"$empty_session" "$similarity" "$work/empty.ses"
expect 1 "kivet-session: $work/empty.ses: the session holds no songs" query "$work/empty.ses" --id 1
expect 1 "kivet-session: $work/empty.ses: the session holds no songs" query "$work/empty.ses" "$a/chord.wav"
# A command on a session that is not there makes no lock file for it.
for command in "info" "query --id 1" "export --riff $work/r.riff"; do
  # shellcheck disable=SC2086
  expect 1 "kivet-session: $work/absent.ses: no such session (build makes one)" $command "$work/absent.ses"
done
[ -z "$(ls -d "$work"/absent* "$work/r.riff" 2>/dev/null)" ] || fail "absent: $(ls "$work")"

# The standard output holds the table alone, though the library talks: a
# configuration without its semantic layer makes it say so on every load.
sed -e '/<semanticlayer>/,/<\/semanticlayer>/d' "$similarity" >"$work/plain.xml"
"$convert" "$a/organ.wav" "$work/untitled organ.wav" pcm16 --no-tags
session build -s "$work/plain.xml" "$work/p.ses" "$a/tones.wav" "$a/clicks.wav" "$work/untitled organ.wav" \
  "$a/drums.wav" >"$work/out" || fail "build with plain.xml: $(said)"
grep -q "no semantic layer given" "$work/said" || fail "the library kept quiet: $(said)"
[ "$(cat "$work/out")" = "$work/p.ses: 4 songs (4 added)" ] || fail "build output: $(cat "$work/out")"
for query in "--id 3" "$a/drums.wav"; do
  # shellcheck disable=SC2086
  session query "$work/p.ses" $query -n 3 >"$work/out" || fail "query $query: $(said)"
  awk -F '\t' 'NR == 1 { ok = $0 == "rank\tid\tscore\tartist\ttitle"; next }
    { ok = ok && NF == 5 && $1 == NR - 1 && $2 ~ /^[0-9]+$/ && $3 ~ /^[01]\.[0-9][0-9][0-9]$/ && $5 != "" }
    END { exit !(ok && NR == 4) }' "$work/out" || fail "query $query printed: $(cat "$work/out")"
done
# An untagged song is shown by its file name.
[ "$(session query "$work/p.ses" --id 3 -n 1 | sed -n 2p | cut -f 4,5)" = "$(printf '\tuntitled organ.wav')" ] ||
  fail "untagged in query: $(session query "$work/p.ses" --id 3 -n 1)"
[ "$(session info "$work/p.ses" | sed -n 7p | cut -f 1,3,4)" = "$(printf '3\t\tuntitled organ.wav')" ] ||
  fail "untagged in info: $(session info "$work/p.ses")"
# Tabs and line breaks in texts are spaces in the tables, which keep their
# columns.
sed -i -e 's#<TIT2>Rising tones<#<TIT2>Rising\ttones\r\v<#' -e 's#<TPE1>tones<#<TPE1>to\tnes\f<#' "$work/p.meta"
for table in "query $work/p.ses --id 1 -n 1:2:4-" "info $work/p.ses:5:3-"; do
  IFS=: read -r command line cells <<<"$table"
  # shellcheck disable=SC2086
  [ "$(session $command | sed -n "${line}p" | cut -f "$cells")" = "$(printf 'to nes \tRising tones  ')" ] ||
    fail "texts with tabs in $command: $(session $command | cat -A)"
done
# So are the other control characters of a song's tags, which the session
# keeps: no escape sequence reaches the terminal. And so are the C1 control
# characters, in UTF-8 (C2 80 to C2 9F) or as the Latin-1 bytes a text may
# hold beside UTF-8 (0x9B after an "é"), one space each; every other
# character stays (a no-break space is C2 A0). Each case: name, title,
# artist, and the artist and title cells shown.
while IFS='|' read -r -u 3 name title artist shown; do
  "$convert" "$a/organ.wav" "$work/$name.wav" pcm16 --tags "$(printf "$title")" "$(printf "$artist")"
  session build "$work/$name.ses" "$work/$name.wav" >/dev/null || fail "build with $name: $(said)"
  for table in "query $work/$name.ses --id 1 -n 1:2:4-" "info $work/$name.ses:5:3-"; do
    IFS=: read -r command line cells <<<"$table"
    # shellcheck disable=SC2086
    expect 0 "" $command
    [ "$(sed -n "${line}p" "$work/out" | cut -f "$cells")" = "$(printf "$shown")" ] ||
      fail "$name in $command: $(cat -A "$work/out")"
  done
done 3<<'CASES'
controls|Ti\vtle\177|AC\fDC\033[1m|AC DC [1m\tTi tle 
c1|Ti\302\233tle\302\200\302\237\302\240|Caf\303\251\233[1m|Caf\303\251 [1m\tTi tle  \302\240
CASES

# The hosts find the library relative to their own folder, as installed: no
# RUNPATH entry names the build tree, or is empty, which the loader takes for
# the working folder.
relative='^\$ORIGIN[^:]*(:\$ORIGIN[^:]*)*$'
for host in kivet-session kivet-extract kivet-inspect; do
  runpath=$(readelf -d "$hosts/$host" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
  [[ $runpath =~ $relative ]] || fail "$host searches '$runpath' for libraries"
done

# Results that cannot be written fail the command, with one line saying so
# after what it said before (COMMAND|SAID BEFORE).
if [ -w /dev/full ]; then
  while IFS='|' read -r command before; do
    status=0
    # shellcheck disable=SC2086
    "$hosts"/$command >/dev/full 2>"$work/said" </dev/null || status=$?
    [ "$status" -eq 1 ] &&
      [ "$(said)" = "${before:+$before$'\n'}${command%% *}: cannot write the results: no space left on device" ] ||
      fail "$command >/dev/full: status $status, said $(said)"
  done <<EOF
kivet-session info $work/s.ses
kivet-session query $work/s.ses --id 1
kivet-session --help
kivet-extract --help
kivet-inspect $work/sig/clicks.sig
kivet-inspect $work/sig/clicks.sig $work/none.sig|kivet-inspect: $work/none.sig: no such file or directory
kivet-synth $work/full
EOF
fi

# Help asked for is given on the standard output; a wrong invocation gets
# the usage on the standard error stream.
for help in --help -h; do
  session "$help" >"$work/out" || fail "$help exits with $?"
  for term in "build" "query" "info" "export" "-n N" "--mask M" "1 artist, 2 title, 4 length in whole seconds, 8 file" \
    "16 extra text, 32 extra number, 64 second extra number" "number of nearest songs stored for each song" \
    "--without-lost-texts" "44100 Hz" "SESSION.lock" "- is a file named -"; do
    grep -qF -- "$term" "$work/out" || fail "$help does not explain $term"
  done
  [ ! -s "$work/said" ] || fail "$help said $(said)"
done
for wrong in "" "info" "query $work/s.ses" "frobnicate $work/s.ses" "info -x $work/s.ses" "export $work/s.ses --mask x"; do
  status=0
  # shellcheck disable=SC2086
  session $wrong >"$work/out" || status=$?
  [ "$status" -eq 2 ] && [ ! -s "$work/out" ] && grep -q "^usage: kivet-session build" "$work/said" ||
    fail "'$wrong': status $status, $(said)"
done
finish
