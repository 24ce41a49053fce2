#!/usr/bin/env bash
# What kivet-session refuses to do to a session's files: an export never
# writes over the session file, its metadata file or its lock file; a new
# session never takes another session's metadata file.
#   kivet_session_guards_test.sh HOSTS_DIR SIMCONFIG EMPTY_SESSION
# HOSTS_DIR holds kivet-session and kivet-synth; SIMCONFIG is the sample
# similarity configuration; EMPTY_SESSION is empty_session
# (tests/examples/).
set -euo pipefail
hosts=$1
similarity=$2
empty_session=$3
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

"$hosts/kivet-synth" -d 2 "$work/audio" >/dev/null
a=$work/audio
# What a folder holds: each entry's name, kind, inode, links, size, time,
# link target and content.
state() {
  find "$1" -mindepth 1 -maxdepth 1 -printf '%f %y %i %n %s %T@ %l\n' | LC_ALL=C sort
  find "$1" -mindepth 1 -maxdepth 1 -type f -exec cksum {} + | LC_ALL=C sort
}

# 1. An export onto the session's own files, by their names, a hard link or
# a symbolic link, also one that leads to a name not made yet, is refused in
# one line, and nothing is written.
x=$work/x
mkdir "$x"
session build "$x/s.ses" "$a/tones.wav" "$a/chord.wav" "$a/organ.wav" "$a/drums.wav" "$a/glide.wav" >/dev/null ||
  fail "build s: $(said)"
# A session without songs needs no metadata file: e.meta is not there.
"$empty_session" "$similarity" "$x/e.ses"
session info "$x/e.ses" >/dev/null || fail "info e: $(said)"
ln "$x/s.ses" "$x/hard.ses"
for file in s.ses s.meta s.ses.lock e.meta; do ln -s "$file" "$x/to-$file"; done
before=$(state "$x")
while IFS='|' read -r name output what; do
  for export in --text --riff; do
    expect 1 "kivet-session: $x/$name: the output $x/$output is $what; nothing written" \
      export "$x/$name" "$export" "$x/$output"
  done
done <<EOF
s.ses|s.ses|the session file itself
s.ses|hard.ses|the session file itself
s.ses|to-s.ses|the session file itself
s.ses|s.meta|the session's metadata file $x/s.meta
s.ses|to-s.meta|the session's metadata file $x/s.meta
s.ses|s.ses.lock|the session's lock file $x/s.ses.lock
s.ses|to-s.ses.lock|the session's lock file $x/s.ses.lock
e.ses|to-e.meta|the session's metadata file $x/e.meta
EOF
[ "$(state "$x")" = "$before" ] || fail "refused exports wrote: $(ls -l "$x")"
# A pipe is none of them: the listing reaches it through /dev/stdout. (Tried
# first through a link of the test's own: a library that replaced a link at
# its output with a file would replace that one, not /dev/stdout.)
session export "$x/s.ses" --text "$x/list.txt" >/dev/null || fail "export: $(said)"
ln -s /dev/stdout "$x/stdout"
for output in "$x/stdout" /dev/stdout; do
  [ -L "$x/stdout" ] || { fail "an export replaced the link $x/stdout with a file"; break; }
  session export "$x/s.ses" --text "$output" | cat >"$work/piped" || fail "export --text $output: $(said)"
  [ "$(cat "$work/piped")" = "$(cat "$x/list.txt")"$'\n'"$output: 5 songs" ] ||
    fail "export --text $output piped: $(cat "$work/piped")"
done

# 2. A new session whose metadata file's name is taken (by another session's
# metadata file, a link to nothing, a folder) is refused: nothing is written,
# and no lock file is left.
n=$work/n
mkdir "$n"
session build "$n/s.db" "$a/tones.wav" >/dev/null || fail "build s.db: $(said)"
ln -s nowhere "$n/l.meta"
mkdir "$n/d.meta"
before=$(state "$n")
for name in s l d; do
  expect 1 "kivet-session: $n/$name.ses: $n/$name.meta is already there (another session's metadata file?); no\
 session made" build "$n/$name.ses" "$a/organ.wav"
done
[ "$(state "$n")" = "$before" ] || fail "refused new sessions wrote: $(ls -l "$n")"
expect 0 "" info "$n/s.db"

finish
