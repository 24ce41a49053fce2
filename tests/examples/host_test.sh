# What the example hosts' test scripts share; sourced with the folder of the
# hosts as $hosts. A scratch folder $work, removed on exit; fail records a
# failure and the script ends with `finish`, whose status says whether any
# check failed.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
finish() { [ "$failures" -eq 0 ]; }
# kivet-session with what it says on the standard error stream kept for said.
session() { "$hosts/kivet-session" "$@" 2>"$work/said"; }
said() { cat "$work/said"; }
# expect STATUS MESSAGE COMMAND...: kivet-session exits with STATUS and says
# MESSAGE (nothing when empty) on the standard error stream; its standard
# output is kept in $work/out.
expect() {
  local status=0 wanted=$1 message=$2
  shift 2
  session "$@" >"$work/out" || status=$?
  [ "$status" -eq "$wanted" ] && [ "$(said)" = "$message" ] || fail "$*: status $status, said '$(said)'"
}
# "${new_pid_namespace[@]}" COMMAND... runs COMMAND as the first process of a
# new pid namespace with a /proc of its own, as a container's entry point
# runs; empty where the machine allows no pid namespace.
new_pid_namespace=()
for way in "unshare -pf --mount-proc" "unshare -rpf --mount-proc"; do
  # shellcheck disable=SC2086
  if $way true 2>/dev/null; then read -ra new_pid_namespace <<<"$way" && break; fi
done
# noted SESSION NAME...: the lines a build says of the names beside SESSION
# (a path NAME.EXT) that look left over from a save (or, NAME.EXT.*.load-*,
# a load) but stay.
noted() {
  local session=$1 name=${1##*/} files=() folders=() left
  shift
  local meta=${name%.*}.meta
  for left in "$@"; do [[ $left == "$name".*.load-* ]] && folders+=("$left") || files+=("$left"); done
  listed() { printf '%s\n' "$@" | LC_ALL=C sort | paste -sd , | sed 's/,/, /g'; }
  [ "${#files[@]}" -eq 0 ] || echo "kivet-session: $session: left as they are, as no record shows them made by a save\
 that did not finish: $(listed "${files[@]}") (a pair is put back by hand by renaming $name.P.tmp over $name, or\
 $meta.P.old over $meta, then removing the other names of P)"
  [ "${#folders[@]}" -eq 0 ] || echo "kivet-session: $session: left as they are, as no record shows them made by a\
 build that did not finish: $(listed "${folders[@]}") (a folder a build loads the session through holds nothing but\
 copies of its files: it can be removed)"
}
# completed SESSION PROCESS: the lines a build says when it completes the save
# of PROCESS that was cut between its renames, SESSION a path NAME.EXT.
completed() {
  local meta=${1%.*}.meta
  echo "kivet-session: $1: completed the save that process $2 did not finish: its session file joins the metadata\
 file it had put in place
kivet-session: removed $1.$2.old, $meta.$2.old, left by a run (process $2) that did not finish"
}
# clips: the demo's clips, 2 s each, in $work/audio, which $a names.
clips() {
  mkdir "$work/audio"
  "$hosts/kivet-synth" -d 2 "$work/audio" >/dev/null
  a=$work/audio
}
