#!/bin/sh
# Runs the tool, in both modes, with standard output where nothing can be
# written: on /dev/full ("full") or closed ("closed"). Each run must end with
# status 3 and one line on standard error saying why, whatever it printed
# before; output that is lost is no success.
#
#   writefail.sh full|closed EXPORT TOOL [ARG...]
#
# TOOL ARG... is the command (for the exe: wine comserial.exe); EXPORT goes
# on its standard input.
[ $# -ge 3 ] || {
  echo "usage: $0 full|closed EXPORT TOOL [ARG...]" >&2
  exit 2
}
how=$1 export=$2
shift 2
case $how in
  full) reason="No space left on device" ;;
  closed) reason="Bad file descriptor" ;;
  *)
    echo "$0: full or closed, not $how" >&2
    exit 2
    ;;
esac
want="comserial: cannot write standard output: $reason"
failed=0
for mode in debug quiet; do
  q=
  [ $mode = quiet ] && q=-q
  if [ "$how" = full ]; then
    err=$("$@" $q <"$export" 2>&1 >/dev/full)
  else
    err=$("$@" $q <"$export" 2>&1 >&-)
  fi
  status=$?
  # The exe writes standard error as text, with CRLF.
  err=$(printf '%s' "$err" | tr -d '\r')
  if [ $status != 3 ]; then
    echo "$mode: exit status $status, expected 3"
    failed=1
  fi
  if [ "$err" != "$want" ]; then
    printf '%s: standard error was:\n%s\nexpected:\n%s\n' $mode "$err" "$want"
    failed=1
  fi
done
[ $failed = 0 ] && echo "stdout $how: exit status 3 and \"$want\", in both modes"
exit $failed
