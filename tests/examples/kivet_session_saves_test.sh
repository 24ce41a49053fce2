#!/usr/bin/env bash
# kivet-session's saves and its lock: signals during a save, what the next
# build does with the record of a save or load that did not finish, who
# removes the lock, what is refused at its name, and what never lands in it.
#   kivet_session_saves_test.sh HOSTS_DIR KILL_BEFORE_RENAME
# HOSTS_DIR holds kivet-session and kivet-synth; KILL_BEFORE_RENAME is the
# library that ends a host at a chosen rename or link.
set -euo pipefail
hosts=$1
kill_before_rename=$2
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

clips
# preloaded [VARIABLE=VALUE...] COMMAND...: COMMAND, preloaded with the
# library that ends it where the variables say; what it says is kept for
# said. (The shell's report of the signal goes where the outer subshell's
# errors go.)
preloaded() {
  ( (exec env LD_PRELOAD="$kill_before_rename" ASAN_OPTIONS=verify_asan_link_order=0 "$@" >/dev/null \
    2>"$work/said") || exit) 2>/dev/null
}
# songs SESSION: its number of songs and of titled songs.
songs() { session info "$1" | tail -n +5 | cut -f 4 | awk 'NF { t++ } END { print NR, t + 0 }'; }
# left NAME: what beside the session NAME.ses has a name of a save's.
left() { (cd "$work" && ls -d "$1".*.[0-9]* 2>/dev/null || true); }
# killed NAME SONG: the build adding SONG to NAME.ses is killed just before
# it renames its session file; the process id of its names follows.
killed() {
  local status=0
  preloaded KIVET_KILL_BEFORE_RENAME_TO="/$1.ses" "$hosts/kivet-session" build "$work/$1.ses" "$a/$2.wav" || status=$?
  [ "$status" -eq 137 ] || fail "the build killed between its renames: $status"
  ls "$work/$1".ses.*.tmp | sed 's/^.*\.ses\.\([0-9]*\)\.tmp$/\1/'
}

# 1. SIGINT (before the first rename) or SIGTERM (before the second) during a
# save ends the build once the save has finished and its record is cleared,
# saying so: the song is in, no name of the save is left.
for signal in 2:INT:i:meta 15:TERM:t:ses; do
  IFS=: read -r number signame name file <<<"$signal"
  session build "$work/$name.ses" "$a/tones.wav" "$a/chord.wav" >/dev/null || fail "build $name: $(said)"
  status=0
  preloaded KIVET_KILL_BEFORE_RENAME_TO="/$name.$file" KIVET_RENAME_SIGNAL="$number" "$hosts/kivet-session" build \
    "$work/$name.ses" "$a/organ.wav" || status=$?
  [ "$status" -eq $((128 + number)) ] &&
    [ "$(said)" = "kivet-session: $work/$name.ses: saved with 3 songs (1 added) before SIG$signame ended the build" ] &&
    [ "$(songs "$work/$name.ses")" = "3 3" ] && [ -z "$(left "$name")" ] && [ ! -s "$work/$name.ses.lock" ] ||
    fail "signal $number during a save: $status $(said) $(left "$name")"
done

# 2. A build that loads the session through a folder of its own (its
# metadata file missing) names it in its record before it makes it: killed
# before the record is written, just after the folder is made, or while it
# fills it, it leaves no folder that the next build does not remove.
missing="kivet-session: $work/l.meta is missing: 1 of 1 songs have no metadata; going on without their texts"
for kill in KIVET_KILL_BEFORE_WRITE_OF=load KIVET_KILL_AFTER_MKDIR_OF=.load- KIVET_KILL_BEFORE_LINK_TO=/l.ses; do
  session build "$work/l.ses" "$a/tones.wav" >/dev/null || fail "build l: $(said)"
  rm "$work/l.meta"
  preloaded "$kill" "$hosts/kivet-session" build --without-lost-texts "$work/l.ses" "$a/organ.wav" &&
    fail "the build killed while loading ($kill) went on"
  folder=$(cd "$work" && ls -d l.ses.*.load-* 2>/dev/null || true)
  removed=${folder:+kivet-session: removed $work/$folder, left by a run (process $(echo "$folder" | cut -d . -f 3))\
 that did not finish$'\n'}
  expect 0 "$removed$missing" build --without-lost-texts "$work/l.ses" "$a/organ.wav"
  [ -z "$(left l)" ] || fail "the load folder stayed ($kill): $(left l)"
  rm -r "$work"/l.*
done

# 3. A record cut short (no record) is acted on in no way: the save's files
# stay and one line names them, and the build stops, as the metadata file
# holds texts of songs the session file lacks. Nor are they touched by the
# record of a process that still runs, whose names are others: that record,
# found under the lock, is of a run that no longer saves, and goes. The
# record as the killed build wrote it completes the save. A bad input keeps
# these builds from adding to the unfinished save.
session build "$work/r.ses" "$a/tones.wav" "$a/chord.wav" >/dev/null || fail "build r: $(said)"
process=$(killed r organ)
expect 0 "kivet-session: $work/r.ses: a save of the session (process $process) was cut between its renames, and waits\
 for the next build to complete it; shown as before it" info "$work/r.ses"
cp "$work/r.ses.lock" "$work/record"
read -r stat </proc/$$/stat
read -ra fields <<<"${stat##*) }"
running="process $$ ${fields[19]} $(cat /proc/sys/kernel/random/boot_id)"
printf 'not a signature' >"$work/garbage.sig"
garbage="kivet-session: $work/garbage.sig: not a signature file"
for record in cut running whole; do
  case $record in
    cut) head -c -4 "$work/record" >"$work/r.ses.lock" ;;
    running) sed "2s/.*/$running/" "$work/record" >"$work/r.ses.lock" ;;
    whole) cp "$work/record" "$work/r.ses.lock" ;;
  esac
  said=$(noted "$work/r.ses" "r.meta.$process.old" "r.ses.$process.old" "r.ses.$process.tmp")
  [ "$record" = cut ] && said="kivet-session: $work/r.ses.lock holds no save record that this program reads; nothing\
 beside the session is completed or removed
$said"
  said="$said
kivet-session: $work/r.ses: the metadata file $work/r.meta holds texts of songs that are not this session's (3),\
 written there by another session that shares it (a copy, or the session it was copied from) or by a save of this\
 one cut between its renames; nothing written (a copy of a session takes its metadata file along, under its new name)"
  [ "$record" = whole ] && said="$(completed "$work/r.ses" "$process")
$garbage"
  expect 1 "$said" build "$work/r.ses" "$work/garbage.sig"
  [ "$record" = cut ] || [ ! -s "$work/r.ses.lock" ] || fail "the record ($record) stayed: $(cat "$work/r.ses.lock")"
done
[ "$(songs "$work/r.ses")" = "3 3" ] && [ -z "$(left r)" ] || fail "the recorded save: $(songs "$work/r.ses") $(left r)"
# So is the record of a killed build whose parent has not heard of its end
# yet (what is left of it, a zombie, keeps its pid and start time).
session build "$work/z.ses" "$a/tones.wav" >/dev/null || fail "build z: $(said)"
sh -c '"$@" >/dev/null 2>&1 & exec sleep 10' sh env LD_PRELOAD="$kill_before_rename" \
  ASAN_OPTIONS=verify_asan_link_order=0 KIVET_KILL_BEFORE_RENAME_TO=/z.ses "$hosts/kivet-session" build \
  "$work/z.ses" "$a/organ.wav" &
parent=$!
for _ in $(seq 100); do
  process=$(cd "$work" && ls z.ses.*.tmp 2>/dev/null | cut -d . -f 3 || true)
  [ -n "$process" ] && [ "$(cut -d ' ' -f 3 "/proc/$process/stat" 2>/dev/null)" = Z ] && break
  sleep 0.05
done
expect 0 "$(completed "$work/z.ses" "$process")" build "$work/z.ses" "$a/drums.wav"
kill "$parent"
wait "$parent" 2>/dev/null || true

# So is the record of a build that let its lock go while /proc still lists
# its process (as one killed does for a moment).
session build "$work/v.ses" "$a/tones.wav" >/dev/null || fail "build v: $(said)"
env LD_PRELOAD="$kill_before_rename" ASAN_OPTIONS=verify_asan_link_order=0 KIVET_KILL_BEFORE_RENAME_TO=/v.ses \
  KIVET_STALL_SECONDS=60 "$hosts/kivet-session" build "$work/v.ses" "$a/organ.wav" >/dev/null 2>&1 &
stalled=$!
for _ in $(seq 200); do
  [ -n "$(cd "$work" && ls v.ses.*.tmp 2>/dev/null)" ] && flock -n -s "$work/v.ses.lock" true && break
  sleep 0.05
done
expect 0 "$(completed "$work/v.ses" "$stalled")" build "$work/v.ses" "$a/drums.wav"
kill -0 "$stalled" && [ "$(songs "$work/v.ses")" = "3 3" ] || fail "the stalled build: $(songs "$work/v.ses")"
kill -KILL "$stalled"
wait "$stalled" 2>/dev/null || true

# Where the file system has no hard links, the kept session file is a copy,
# which proves the pair by its bytes.
session build "$work/k.ses" "$a/tones.wav" >/dev/null || fail "build k: $(said)"
status=0
preloaded KIVET_LINKS_FAIL=1 KIVET_KILL_BEFORE_RENAME_TO=/k.ses "$hosts/kivet-session" build "$work/k.ses" \
  "$a/organ.wav" || status=$?
process=$(cd "$work" && ls k.ses.*.tmp | cut -d . -f 3)
[ "$status" -eq 137 ] && [ "$(stat -c %h "$work/k.ses")" = 1 ] || fail "a save without links killed: $status"
expect 0 "$(completed "$work/k.ses" "$process")" build "$work/k.ses" "$a/drums.wav"
[ "$(songs "$work/k.ses")" = "3 3" ] && [ -z "$(left k)" ] || fail "without links: $(songs "$work/k.ses") $(left k)"

# A reader that finds no session file where the first save of a session was
# cut between its renames says that the next build completes it, which it
# does.
process=$(killed f organ)
expect 1 "kivet-session: $work/f.ses: no session file yet: its first save (process $process) was cut before the\
 session file went in, and waits for the next build to complete it" info "$work/f.ses"
expect 0 "$(completed "$work/f.ses" "$process" | head -n 1)" build "$work/f.ses" "$a/drums.wav"
[ "$(songs "$work/f.ses")" = "2 2" ] && [ -z "$(left f)" ] || fail "the cut first save: $(songs "$work/f.ses") $(left f)"

# 4. Files that do not prove the pair (another file put at the session's
# name after the kill) stop the build, and nothing is touched; the pair put
# back by hand as the line says, the next build goes on.
session build "$work/q.ses" "$a/drums.wav" >/dev/null || fail "build q: $(said)"
session build "$work/p.ses" "$a/tones.wav" "$a/chord.wav" >/dev/null || fail "build p: $(said)"
process=$(killed p organ)
cp "$work/q.ses" "$work/restored"
mv "$work/restored" "$work/p.ses"
listing() { (cd "$work" && cksum p.*); }
listing >"$work/before"
p=$work/p.ses
m=$work/p.meta
expect 1 "kivet-session: $p: a save (process $process) stopped between its two renames, and $p.$process.tmp,\
 $m.$process.old, $p.$process.old do not prove the pair it saved: nothing touched, and nothing added, as adding now\
 would lose texts (a pair is put back by hand by renaming $p.$process.tmp over $p, or $m.$process.old over $m, then\
 removing the other names of $process)" build "$p" "$a/mix.wav"
[ "$(listing)" = "$(cat "$work/before")" ] || fail "a save without proof was touched: $(listing)"
mv "$p.$process.tmp" "$p"
rm "$p.$process.old" "$m.$process.old"
expect 0 "" build "$p" "$a/mix.wav"
[ "$(songs "$p")" = "4 4" ] || fail "the pair put back by hand: $(songs "$p")"

# 5. Only the holder removes the lock: SIGTERM ends a build waiting for it
# (also as the first process of a pid namespace, a container's entry point)
# with the status 143, the lock file stays, and the next build waits too.
exec 8>"$work/w.ses.lock"
flock 8
ways=(here)
if [ "${#new_pid_namespace[@]}" -gt 0 ]; then
  ways+=(first)
else
  echo "note: this machine allows no pid namespace: a build as its first process is not tried" >&2
fi
waiting="kivet-session: $work/w.ses is in use by another kivet-session; waiting for it to finish"
for way in "${ways[@]}"; do
  run=()
  [ "$way" = here ] || run=("${new_pid_namespace[@]}")
  "${run[@]}" "$hosts/kivet-session" build "$work/w.ses" "$a/tones.wav" >/dev/null 2>"$work/said" 8>&- &
  waiter=$!
  for _ in $(seq 100); do [ "$(said)" = "$waiting" ] && break; sleep 0.1; done
  build=$waiter
  [ "$way" = here ] || build=$(cat "/proc/$waiter/task/$waiter/children" 2>/dev/null || echo "$waiter")
  build=${build%% *}
  kill -TERM "$build"
  for _ in $(seq 50); do kill -0 "$waiter" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$build" 2>/dev/null && fail "SIGTERM left the waiting build ($way) running"
  status=0
  wait "$waiter" 2>/dev/null || status=$?
  [ "$status" -eq 143 ] && [ "$(stat -c %i "$work/w.ses.lock" 2>&1)" = "$(stat -L -c %i "/proc/$$/fd/8")" ] ||
    fail "SIGTERM to the waiting build ($way): $status $(ls "$work")"
  status=0
  timeout 1 "$hosts/kivet-session" build "$work/w.ses" "$a/tones.wav" >/dev/null 2>"$work/said" 8>&- || status=$?
  [ "$status" -eq 124 ] && [ "$(said)" = "$waiting" ] || fail "the build after ($way): $status $(said)"
done
exec 8>&-

# 6. A lock file with a second hard link, or a socket at its name, is
# refused with one line, by readers and writers.
session build "$work/e.ses" "$a/tones.wav" >/dev/null || fail "build e: $(said)"
for kind in link socket; do
  if [ "$kind" = link ]; then
    ln "$work/e.ses.lock" "$work/e.second"
    refused="$work/e.ses.lock has a second hard link; a lock file never has one, as it may be someone's file"
  else
    rm "$work/e.ses.lock"
    perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Type => SOCK_STREAM(), Local => $ARGV[0]) or die "$!\n"' \
      "$work/e.ses.lock"
    refused="$work/e.ses.lock is not a file; the session's lock file goes there"
  fi
  for command in "info $work/e.ses" "build $work/e.ses $a/chord.wav"; do
    # shellcheck disable=SC2086
    expect 1 "kivet-session: $refused (remove it)" $command
  done
done
rm "$work/e.ses.lock" "$work/e.second"
[ "$(songs "$work/e.ses")" = "1 1" ] || fail "e.ses after the refused lock files: $(songs "$work/e.ses")"

# 7. No command makes a lock file for a file that is not a session.
echo notes >"$work/notes.txt"
for command in "info $work/notes.txt" "build $work/notes.txt $a/tones.wav"; do
  # shellcheck disable=SC2086
  session $command >/dev/null && fail "$command took notes for a session"
  [ ! -e "$work/notes.txt.lock" ] && [ "$(cat "$work/notes.txt")" = notes ] || fail "$command: $(ls "$work")"
done

# 8. With the standard output closed, no listing lands in the lock file
# (one long enough to be written while the lock is open).
mkdir "$work/many"
for i in $(seq 200); do ln "$a/tones.wav" "$work/many/$i.wav"; done
session build "$work/many.ses" "$work"/many/*.wav >/dev/null || fail "build many: $(said)"
status=0
"$hosts/kivet-session" info "$work/many.ses" >&- 2>"$work/said" || status=$?
[ "$status" -eq 0 ] && [ -z "$(said)" ] && [ ! -s "$work/many.ses.lock" ] ||
  fail "info without a standard output: $status $(said) $(head -c 100 "$work/many.ses.lock")"
finish
