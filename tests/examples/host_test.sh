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
