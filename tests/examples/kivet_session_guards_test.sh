#!/usr/bin/env bash
# What kivet-session refuses to do to a session's files: an export never
# writes over the session file, its metadata file or its lock file; a new
# session never takes another session's metadata file; a similarity
# configuration that cannot serve is refused before the session is locked,
# swept or loaded.
#   kivet_session_guards_test.sh HOSTS_DIR SIMCONFIG EMPTY_SESSION KILL_BEFORE_RENAME CONFIG_DIR LIB_DIR
# HOSTS_DIR holds kivet-session and kivet-synth; SIMCONFIG is the sample
# similarity configuration; EMPTY_SESSION and KILL_BEFORE_RENAME are
# empty_session and the library that ends a host at a chosen rename
# (tests/examples/); CONFIG_DIR and LIB_DIR are where an installed
# kivet-session finds its sample configurations and its library, relative to
# its own folder.
set -euo pipefail
hosts=$1
similarity=$2
empty_session=$3
kill_before_rename=$4
config_dir=$5
lib_dir=$6
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

clips
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
s.ses|s.meta.lock|the lock file of the session's metadata file $x/s.meta.lock
e.ses|to-e.meta|the session's metadata file $x/e.meta
EOF
[ "$(state "$x")" = "$before" ] || fail "refused exports wrote: $(ls -l "$x")"
# The standard output is none of them either. An export to it (/dev/stdout,
# /dev/fd/1, or a link to /proc/self/fd/1 of the test's own: a library that
# replaced a link at its output with a file would replace that one) is the
# export to a named file byte for byte, whatever the standard output is: a
# new file, a file appended to (after what it held), a pipe or a socket; the
# line that counts the songs stays off it.
session export "$x/s.ses" --text "$x/list.text" >/dev/null || fail "export --text: $(said)"
session export "$x/s.ses" --riff "$x/list.riff" >/dev/null || fail "export --riff: $(said)"
ln -s /proc/self/fd/1 "$x/stdout"
# through_socket COMMAND...: runs COMMAND with a socket as its standard
# output and passes on what it sends.
through_socket() {
  perl -MSocket -e 'socketpair(my $r, my $w, AF_UNIX, SOCK_STREAM, PF_UNSPEC) or die "socketpair: $!";
    my $pid = fork() // die "fork: $!";
    if ($pid == 0) { close $r; open(STDOUT, ">&", $w) or die; exec @ARGV or die "exec: $!" }
    close $w; binmode $r; binmode STDOUT; local $/; print scalar <$r> // ""; waitpid $pid, 0; exit($? >> 8)' -- "$@"
}
for export in text riff; do
  for output in /dev/stdout /dev/fd/1 "$x/stdout"; do
    what="export --$export $output"
    session export "$x/s.ses" --$export "$output" >"$work/new" || fail "$what >: $(said)"
    echo earlier >"$work/appended"
    session export "$x/s.ses" --$export "$output" >>"$work/appended" || fail "$what >>: $(said)"
    session export "$x/s.ses" --$export "$output" | cat >"$work/piped" || fail "$what | cat: $(said)"
    through_socket "$hosts/kivet-session" export "$x/s.ses" --$export "$output" >"$work/socket" 2>"$work/said" ||
      fail "$what into a socket: $(said)"
    cmp -s "$work/new" "$x/list.$export" || fail "$what >: not the export"
    cmp -s "$work/appended" <(echo earlier && cat "$x/list.$export") || fail "$what >>: not the export after the file"
    cmp -s "$work/piped" "$x/list.$export" || fail "$what | cat: not the export"
    cmp -s "$work/socket" "$x/list.$export" || fail "$what into a socket: not the export"
  done
done
[ -L "$x/stdout" ] || fail "an export replaced the link $x/stdout with a file"

# 2. A new session whose metadata file's name is taken (by another session's
# metadata file, a link to nothing, a folder) is refused in one line, even
# beside a backup of that metadata file: nothing is written, and no lock file
# is left.
n=$work/n
mkdir "$n"
session build "$n/s.db" "$a/tones.wav" >/dev/null || fail "build s.db: $(said)"
cp "$n/s.meta" "$n/s.meta.1700000000.old"
ln -s nowhere "$n/l.meta"
mkdir "$n/d.meta"
before=$(state "$n")
for name in s l d; do
  expect 1 "kivet-session: $n/$name.ses: $n/$name.meta is already there (another session's metadata file?); no\
 session made" build "$n/$name.ses" "$a/organ.wav"
done
[ "$(state "$n")" = "$before" ] || fail "refused new sessions wrote: $(ls -l "$n")"
expect 0 "" info "$n/s.db"

# A copy of a session (cp music.ses music.bak) shares its metadata file.
# Builds under the two names keep apart as builds of one name do, and the
# first to add songs gives them ids both may hand out: the other then finds
# texts of songs it does not hold there, and a build of it refuses in one
# line, writing nothing, while its readers go on with a note.
c=$work/c
others="the metadata file $c/music.meta holds texts of songs that are not this session's (IDS), written there by\
 another session that shares it (a copy, or the session it was copied from) or by a save of this one cut between its\
 renames"
refused="; nothing written (a copy of a session takes its metadata file along, under its new name)"
mkdir "$c"
session build "$c/music.ses" "$a/organ.wav" "$a/drums.wav" >/dev/null || fail "build music.ses: $(said)"
cp "$c/music.ses" "$c/music.bak"
status=0
(flock 9 && timeout 1 "$hosts/kivet-session" build "$c/music.bak" "$a/mix.wav" 2>"$work/said" 9>&-) \
  9>"$c/music.meta.lock" || status=$?
[ "$status" -eq 124 ] && [ "$(said)" = "kivet-session: $c/music.meta is in use by a build of another session that\
 shares it; waiting for it to finish" ] || fail "a build of a copy did not wait: $status $(said)"
expect 0 "" info "$c/music.ses"
cp "$work/out" "$work/shown"
expect 0 "" build "$c/music.bak" "$a/mix.wav"
expect 0 "kivet-session: $c/music.ses: ${others/IDS/3} (a build of this session refuses it)" info "$c/music.ses"
cmp -s "$work/out" "$work/shown" || fail "music.ses after its copy's build: $(cat "$work/out")"
before=$(state "$c")
expect 1 "kivet-session: $c/music.ses: ${others/IDS/3}$refused" build "$c/music.ses" "$a/tones.wav"
[ "$(state "$c")" = "$before" ] || fail "the refused build of music.ses wrote: $(ls -l "$c")"
# Copied before the original grew, the copy is refused.
rm -r "${c:?}"/*
session build "$c/music.ses" "$a/tones.wav" "$a/chord.wav" >/dev/null && cp "$c/music.ses" "$c/music.bak" &&
  session build "$c/music.ses" "$a/organ.wav" "$a/drums.wav" >/dev/null || fail "build music.ses: $(said)"
expect 0 "kivet-session: $c/music.bak: ${others/IDS/3, 4} (a build of this session refuses it)" info "$c/music.bak"
before=$(state "$c")
expect 1 "kivet-session: $c/music.bak: ${others/IDS/3, 4}$refused" build "$c/music.bak" "$a/mix.wav"
[ "$(state "$c")" = "$before" ] || fail "the refused build of music.bak wrote: $(ls -l "$c")"
expect 0 "" info "$c/music.ses"
[ "$(tail -n +5 "$work/out" | cut -f 1,4)" = "$(printf '%s\t%s\n' 1 'Rising tones' 2 'C major chord' 3 \
  'Held G major chord' 4 'Kick and hi-hat')" ] || fail "music.ses after a refused build of its copy: $(cat "$work/out")"

# 3. A similarity configuration that cannot be read, or whose XML breaks, is
# refused before anything else happens: a build over a session whose last
# save was cut between its renames, builds of new sessions beside the files
# of a build of each that was killed, and readers of a session without a
# lock file touch nothing. So is the installed similarity.xml, for a new
# session.
k=$work/k
mkdir "$k"
session build "$k/k.ses" "$a/tones.wav" "$a/chord.wav" >/dev/null && session build "$k/r.ses" "$a/tones.wav" \
  >/dev/null || fail "build k, r: $(said)"
rm "$k/r.ses.lock"
# (The shell's report of the kill goes where the outer subshell's errors go.)
for cut in k.ses n.meta m.meta; do
  ( (KIVET_KILL_BEFORE_RENAME_TO=/$cut LD_PRELOAD=$kill_before_rename ASAN_OPTIONS=verify_asan_link_order=0 \
    exec "$hosts/kivet-session" build "$k/${cut%.*}.ses" "$a/organ.wav" >/dev/null 2>&1) || exit) 2>/dev/null &&
    fail "a build went on past its rename to $cut"
done
printf '<similarity>\n  <semanticlayer>\n</similarity>\n' >"$work/broken.xml"
mkdir -p "$work/tree/bin/$config_dir"
cp "$hosts/kivet-session" "$work/tree/bin"
ln -s "$(cd "$hosts/$lib_dir" && pwd)" "$work/tree/bin/$lib_dir"
cp "$work/broken.xml" "$work/tree/bin/$config_dir/similarity.xml"
installed=$(cd "$work/tree/bin/$config_dir" && pwd)/similarity.xml
while IFS='|' read -r program arguments reason; do
  # A reader that went on would make the lock file.
  rm -f "$k/r.ses.lock"
  before=$(state "$k")
  status=0
  # shellcheck disable=SC2086
  "$program/kivet-session" $arguments >/dev/null 2>"$work/said" || status=$?
  [ "$status" -eq 1 ] && [ "$(said)" = "kivet-session: cannot read the similarity configuration $reason" ] ||
    fail "$arguments: status $status, said $(said)"
  [ "$(state "$k")" = "$before" ] || fail "$arguments touched the session: $(ls -l "$k")"
done <<EOF
$hosts|build -s $work/broken.xml $k/k.ses $a/drums.wav|$work/broken.xml: expected end of tag 'semanticlayer' at line 3, column 3
$hosts|build -s $work/none.xml $k/n.ses $a/drums.wav|$work/none.xml: no such file or directory
$work/tree/bin|build $k/m.ses $a/drums.wav|$installed: expected end of tag 'semanticlayer' at line 3, column 3
$hosts|info -s $work/broken.xml $k/r.ses|$work/broken.xml: expected end of tag 'semanticlayer' at line 3, column 3
$hosts|query -s $work/none.xml $k/r.ses --id 1|$work/none.xml: no such file or directory
$hosts|export -s $work/audio $k/r.ses --text $k/r.txt|$work/audio: is a directory
EOF
finish
