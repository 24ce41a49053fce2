#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine; CTest calls it as the
# emulator set by toolchain-mingw-i686.cmake.
#
#   wine-run.sh DLL_DIRS PREFIX PROGRAM [ARGS...]
#
# DLL_DIRS: colon-separated Unix folders searched for DLLs. PREFIX: the Wine
# prefix (a 32-bit one); "-" means $WINEPREFIX or Wine's default.

dll_dirs=$1
prefix=$2
shift 2

winepath=
IFS=: read -r -a dirs <<<"$dll_dirs"
for dir in "${dirs[@]}"; do
  [ -n "$dir" ] && winepath+="Z:${dir//\//\\};"
done
export WINEPATH="$winepath${WINEPATH:-}"
[ "$prefix" != - ] && export WINEPREFIX="$prefix"
export WINEDEBUG=${WINEDEBUG:--all}
# Neither the .NET nor the HTML engine is needed; without this, a new prefix
# asks to install them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# The program's output goes through files, not straight to the caller: Wine's
# own helper processes, started by the first program of a session, inherit the
# program's output handles and would hold a caller's pipe open until the Wine
# server ends. The C runtime writes text-mode line ends; readers of the output
# (GoogleTest's test discovery among them) expect plain newlines.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
wine "$@" </dev/null >"$out" 2>"$err"
status=$?
# Wine's loader now and then dies by a signal while a process ends under a
# heavily loaded machine, after the program itself has finished (seen once in
# some thousand programs, always at exit). Such a program is run once more:
# a crash of the program's own making happens again and still fails.
if [ "$status" -gt 128 ]; then
  echo "wine-run.sh: $1 ended by signal $((status - 128)); running it once more" >&2
  wine "$@" </dev/null >"$out" 2>"$err"
  status=$?
fi
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
exit $status
