#!/usr/bin/env bash
# What kivet-inspect answers to wrong invocations and to files it cannot
# read, the rows -n shows, and a standard output that holds the listing alone.
#   kivet_inspect_test.sh HOSTS_DIR
# HOSTS_DIR holds kivet-inspect, kivet-extract and kivet-synth.
set -euo pipefail
hosts=$1
source "$(dirname "${BASH_SOURCE[0]}")/host_test.sh"

# inspect STATUS MESSAGE ARG...: kivet-inspect exits with STATUS and says
# exactly MESSAGE on the standard error stream; its standard output is kept
# in $work/out.
inspect() {
  local status=0 wanted=$1 message=$2
  shift 2
  "$hosts/kivet-inspect" "$@" >"$work/out" 2>"$work/said" || status=$?
  [ "$status" -eq "$wanted" ] && [ "$(said)" = "$message" ] || fail "$*: status $status, said '$(said)'"
}

"$hosts/kivet-synth" -d 2 "$work/audio" >/dev/null
"$hosts/kivet-extract" -o "$work/sig" "$work/audio/tones.wav" >/dev/null
good=$work/sig/tones.sig
usage="usage: kivet-inspect [-n ROWS] [--] SIGNATURE...
       kivet-inspect --help"

# A wrong invocation: one line saying what is wrong, then the usage; nothing
# is listed.
words=()
while IFS='|' read -r args line; do
  eval "words=($args)"
  inspect 2 "kivet-inspect: $line
$usage" "${words[@]}"
  [ ! -s "$work/out" ] || fail "$args listed $(cat "$work/out")"
done <<'EOF'
-n x "$good"|-n needs a whole number from 0 to 4294967295, not "x"
-n -1 "$good"|-n needs a whole number from 0 to 4294967295, not "-1"
-n 1.5 "$good"|-n needs a whole number from 0 to 4294967295, not "1.5"
-n '' "$good"|-n needs a whole number from 0 to 4294967295, not ""
-n 4294967296 "$good"|-n needs a whole number from 0 to 4294967295, not "4294967296"
-n 99999999999999999999 "$good"|-n needs a whole number from 0 to 4294967295, not "99999999999999999999"
-n 1 "$good" -n 2|option -n given twice
"$good" -n|option -n needs a value
--bogus "$good"|unknown option --bogus
|SIGNATURE is missing
-n 2|SIGNATURE is missing
EOF
for help in --help -h; do
  inspect 0 "" "$help"
  [ "$(head -2 "$work/out")" = "$usage" ] && grep -qF "Exit status: 0 done, 1 a failure" "$work/out" ||
    fail "$help printed $(cat "$work/out")"
done

# Per feature, the first ROWS rows (default 3), each of its first 10
# columns and a count of the others.
for rows in 0 2 ""; do
  inspect 0 "" ${rows:+-n "$rows"} "$good"
  wrong=$(awk -v n="${rows:-3}" '
    function done() { if (name != "" && shown != (rows < n ? rows : n)) wrong = wrong " " name " " shown }
    $1 == "features:" { declared = $2 }
    $2 == "type" && $7 == "rows" { done(); name = $1; rows = $6; cols = $9; shown = 0; features++ }
    $1 == "row" { shown++; if (NF - 2 - (cols > 10 ? 3 : 0) != (cols < 10 ? cols : 10) ||
                              (cols > 10 && $(NF - 1) != "(" cols - 10)) wrong = wrong " " name " row" }
    END { done(); if (features == 0 || features != declared) wrong = wrong " features " features; print wrong }
  ' "$work/out")
  [ -z "$wrong" ] || fail "-n '$rows':$wrong"
done
cp "$work/out" "$work/listing"

# A file that cannot be read is named with the reason, and nothing of it
# reaches the standard output, not even what the library says as it reads.
mkdir "$work/folder.sig"
printf 'not a signature at all\n' >"$work/text.sig"
: >"$work/empty.sig"
head -c 300 "$good" >"$work/cut.sig"
while IFS='|' read -r file reason; do
  inspect 1 "kivet-inspect: $work/$file: $reason" "$work/$file"
  [ ! -s "$work/out" ] || fail "$file listed $(cat "$work/out")"
done <<EOF
missing.sig|no such file or directory
folder.sig|is a folder, not a signature file
text.sig|not a signature file
empty.sig|not a signature file
cut.sig|the signature file is truncated or damaged (readMetaStream: corrupted stream)
EOF
# The files around one that fails are listed all the same.
inspect 1 "kivet-inspect: $work/missing.sig: no such file or directory" "$good" "$work/missing.sig" "$good"
[ "$(cat "$work/out")" = "$(cat "$work/listing" "$work/listing")" ] || fail "good beside missing: $(cat "$work/out")"

# After --, a name that begins with - is a file.
cp "$good" "$work/-x.sig"
(cd "$work" && inspect 0 "" -- -x.sig)
[ "$(head -1 "$work/out")" = -x.sig ] && [ "$(tail -n +2 "$work/out")" = "$(tail -n +2 "$work/listing")" ] ||
  fail "-- -x.sig: $(head -3 "$work/out")"
finish
