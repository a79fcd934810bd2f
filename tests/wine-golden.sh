#!/usr/bin/env bash
# Golden cases for the Windows build, run under Wine against Wine's own
# registry instead of the native build's export on standard input.
#
#   wine-golden.sh start [EXE]            make the prefix once, start a wineserver
#   wine-golden.sh case EXE DIR/NAME OUTDIR
#   wine-golden.sh stop                   end the wineserver
#   wine-golden.sh exec COMMAND...        run COMMAND, which runs the exe
#
# WINEPREFIX names the prefix; WINE and WINESERVER may name the programs,
# and WINEBITS=32 says that the exe is a 32-bit one. Each of them first asks
# whether Wine can run the exe here at all: not without Wine, and a 32-bit
# exe not without a 32-bit loader (wine32) nor on a kernel that runs no
# 32-bit programs (scripts/can-run-i386). Where it cannot, it says why
# ("skipped: ...") and exits 77, which CTest reports as a skip.
#
# Each case starts from a clean registry: the serial port map's values are
# deleted (its key lives in the volatile HARDWARE tree, under a volatile
# parent, so regedit could not create it again) and so are both FTDIBUS
# trees. Then regedit loads NAME.reg, the tool runs with no argument (debug)
# and with -q (quiet), and its standard output must equal NAME.debug.out and
# NAME.quiet.out with LF turned into CRLF, as the C runtime writes text, and
# its exit statuses those in NAME.exit. The keys the tool reads are exported
# before and after both runs and must not have changed.
#
# With COLLECT naming collect.cmd and NATIVE the native build, collect.cmd
# then writes the keys into one export file, and the native build run on it
# must print what the exe printed, byte for byte (CRLF aside), and exit as
# it did: the export a user collects says what the exe would say. A case
# whose values Wine's `reg export` cannot write back as they are stored has
# a NAME.nocollect file saying which; it skips that check.
#
# A case may have NAME.locale, one line naming the locale (LC_ALL) regedit
# and the tool run in; Wine takes its ANSI code page from it (en_US.UTF-8
# gives 1252, ru_RU.UTF-8 1251, ja_JP.UTF-8 932). Without it they run in the
# environment's own.
#
# A case whose export is several concatenated (NAME.parts) has regedit load
# each of them from a file of its own, as the tool's user would import them.
#
# HARDWARE is rebuilt each time a wineserver starts and lost when it ends, so
# every step runs in one persistent wineserver. A case that Wine cannot
# express has a NAME.nativeonly file saying why; it is skipped (status 77).
set -uo pipefail

wine=${WINE:-wine}
wineserver=${WINESERVER:-wineserver}
: "${WINEPREFIX:?WINEPREFIX must name the prefix for the tests}"
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: the tool needs neither, and without a display their
# install prompts would only slow wineboot down.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

skip=77
here=$(dirname "$0")
mapkey='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
readkeys=('HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
  'HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
  'HKLM\SYSTEM\CurrentControlSet\Services\FTDIBUS')

# A Unix path as Wine's Z: drive sees it; Wine's regedit and reg take a
# leading / for a switch.
winpath() {
  local p
  p=$(realpath -m -- "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# Starts the wineserver unless one is running. It outlives its last client
# by two minutes, so an interrupted run does not leave it behind for good.
# The first Wine program starts Wine's services, which must not inherit a
# pipe that CTest waits on.
#
# A new server's services add the machine's own serial ports to the map a
# moment after they start; a case that cleared the map before that would
# find a port it did not load. So a new server on a machine with serial
# ports is given up to five seconds for them to show.
server() {
  local fresh=0 i
  "$wineserver" -p120 </dev/null >/dev/null 2>&1 && fresh=1
  "$wine" reg query "$mapkey" </dev/null >/dev/null 2>&1
  if [ $fresh = 1 ] && compgen -G '/dev/tty[SU]*' >/dev/null; then
    for i in $(seq 20); do
      "$wine" reg query "$mapkey" </dev/null 2>/dev/null | grep -q 'REG_' && break
      sleep 0.25
    done
  fi
  return 0
}

makeprefix() {
  echo "making the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  # Wait for the server to write the registry out, so that a prefix with
  # a system.reg is a finished one.
  "$wineserver" -w
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wineboot made no registry in $WINEPREFIX" >&2
    return 1
  fi
}

# With EXE, runs it once: a prefix made before 32-bit Wine was installed has
# no 32-bit system DLLs, and every 32-bit exe fails to start in it. Such a
# prefix is made anew.
start() {
  local exe=${1:-}
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    makeprefix || return 1
  fi
  server
  [ -n "$exe" ] || return 0
  local err
  err=$("$wine" "$exe" -q </dev/null 2>&1 >/dev/null)
  if [[ $err == *"could not load kernel32.dll"* ]]; then
    echo "$WINEPREFIX cannot run $exe (made before 32-bit Wine was installed?)"
    stop
    makeprefix || return 1
    server
  fi
}

stop() {
  "$wineserver" -k 2>/dev/null
  return 0
}

# Whether Wine can run the exe here; if not, says why.
usable() {
  local loader why
  if [ "${WINEBITS:-64}" = 32 ]; then
    why=$("$here/../scripts/can-run-i386") || {
      echo "$why"
      return 1
    }
  fi
  loader=$(command -v "$wine") || {
    echo "Wine is not installed ($wine)"
    return 1
  }
  # An ELF file's fifth byte is its class: 1 for 32-bit programs.
  if [ "${WINEBITS:-64}" = 32 ] && [ "$(head -c5 "$(readlink -f "$loader")" | tail -c1 | od -An -tu1 | tr -d ' ')" != 1 ]; then
    echo "no 32-bit Wine loader: $loader is none (wine32 is not installed)"
    return 1
  fi
}

if [ "${1:-}" != "" ] && ! why=$(usable); then
  echo "skipped: $why"
  exit $skip
fi

# Sets mode and args for run i of a case: 0 is debug (no argument), 1 quiet.
setmode() {
  if [ "$1" = 0 ]; then
    mode=debug
    args=()
  else
    mode=quiet
    args=(-q)
  fi
}

# Whether two outputs are the same byte for byte; if not, says what (for
# mode) and shows how they differ, line ends aside.
same() {
  cmp -s "$1" "$2" && return 0
  echo "$mode: $3; see $2"
  diff <(tr -d '\r' <"$1") <(tr -d '\r' <"$2") | head -40
  return 1
}

# Exports the keys the tool reads into dir/N.reg; a key that is not there
# leaves dir/N.absent instead.
exportkeys() {
  local dir=$1 i=0 key
  rm -rf "$dir"
  mkdir -p "$dir"
  for key in "${readkeys[@]}"; do
    if ! "$wine" reg export "$key" "$(winpath "$dir/$i.reg")" /y </dev/null >>"$log" 2>&1; then
      rm -f "$dir/$i.reg"
      : >"$dir/$i.absent"
    fi
    i=$((i + 1))
  done
}

# Names the files regedit loads for a case: NAME.reg, or with NAME.parts (the
# byte offsets where its later exports start) the exports it concatenates,
# each cut out into its own file in dir, as regedit reads one per file.
splitparts() {
  local case=$1 dir=$2 from=0 i=1 at
  if [ ! -f "$case.parts" ]; then
    echo "$case.reg"
    return
  fi
  for at in $(cat "$case.parts") $(stat -c %s "$case.reg"); do
    tail -c +$((from + 1)) "$case.reg" | head -c $((at - from)) >"$dir/part$i.reg"
    echo "$dir/part$i.reg"
    from=$at
    i=$((i + 1))
  done
}

runcase() {
  local exe=$1 case=$2 outdir=$3
  local name
  name=$(basename "$case")
  if [ -f "$case.nativeonly" ]; then
    echo "skipped: $(cat "$case.nativeonly")"
    return $skip
  fi
  local f
  for f in "$case.reg" "$case.debug.out" "$case.quiet.out" "$case.exit"; do
    if [ ! -f "$f" ]; then
      echo "case file missing: $f" >&2
      return 1
    fi
  done
  local want
  read -r -a want <"$case.exit"
  if [ ${#want[@]} -ne 2 ]; then
    echo "$case.exit must hold two exit statuses, debug first" >&2
    return 1
  fi

  local locale=()
  if [ -f "$case.locale" ]; then
    locale=(env "LC_ALL=$(head -n1 "$case.locale")")
  fi

  local work=$outdir/$name.wine
  rm -rf "$work"
  mkdir -p "$work"
  log=$work/log
  : >"$log"
  if ! start >>"$log" 2>&1; then
    cat "$log"
    echo "cannot set up Wine in $WINEPREFIX" >&2
    return 1
  fi

  # A case that deleted the map key leaves a registry that cannot get it
  # back; a new wineserver rebuilds HARDWARE.
  if ! "$wine" reg delete "$mapkey" /va /f </dev/null >>"$log" 2>&1; then
    echo "the serial port map was gone; restarting the wineserver" >>"$log"
    stop
    server
    if ! "$wine" reg delete "$mapkey" /va /f </dev/null >>"$log" 2>&1; then
      cat "$log"
      echo "cannot clear $mapkey" >&2
      return 1
    fi
  fi
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS]\r\n\r\n[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\FTDIBUS]\r\n' >"$work/clean.reg"
  local regs=() f
  for f in $(splitparts "$case" "$work"); do
    regs+=("$(winpath "$f")")
  done
  if ! "${locale[@]}" "$wine" regedit /s "$(winpath "$work/clean.reg")" "${regs[@]}" </dev/null >>"$log" 2>&1; then
    cat "$log"
    echo "regedit could not load $case.reg" >&2
    return 1
  fi

  exportkeys "$work/before"
  local failed=0 mode args got i
  for i in 0 1; do
    setmode $i
    "${locale[@]}" "$wine" "$exe" "${args[@]}" </dev/null >"$work/$mode.actual" 2>>"$log"
    got=$?
    exestatus[i]=$got
    perl -0777 -pe 's/\n/\r\n/g' "$case.$mode.out" >"$work/$mode.expected"
    same "$work/$mode.expected" "$work/$mode.actual" "output differs from $case.$mode.out (CRLF)" || failed=1
    if [ "$got" != "${want[$i]}" ]; then
      echo "$mode: exit status $got, expected ${want[$i]}"
      failed=1
    fi
  done
  exportkeys "$work/after"
  if ! diff -r "$work/before" "$work/after" >/dev/null; then
    echo "the registry changed while the tool ran; see $work/before and $work/after"
    failed=1
  fi
  if [ -n "${COLLECT:-}" ] && [ ! -f "$case.nocollect" ] && ! collectcheck "$work"; then
    failed=1
  fi
  if [ $failed != 0 ]; then
    echo "--- Wine log"
    cat "$log"
  fi
  return $failed
}

# Runs collect.cmd on the loaded registry and the native build on its file,
# against the exe's outputs and exit statuses (exestatus) in work, in the
# case's locale as the exe ran.
collectcheck() {
  local work=$1
  local file=$work/collected.reg msg failed=0 mode args got i
  : "${NATIVE:?NATIVE must name the native build}"
  msg=$("${locale[@]}" "$wine" cmd /c "$(winpath "$COLLECT")" "$(winpath "$file")" </dev/null 2>>"$log")
  printf '%s\n' "--- collect.cmd" "$msg" >>"$log"
  if [ ! -s "$file" ]; then
    echo "collect.cmd wrote nothing to $file"
    return 1
  fi
  if [[ $msg != *"$(winpath "$file")"* ]]; then
    echo "collect.cmd did not say where the file is"
    failed=1
  fi
  for i in 0 1; do
    setmode $i
    "$NATIVE" "${args[@]}" <"$file" 2>>"$log" | perl -0777 -pe 's/\n/\r\n/g' >"$work/$mode.native"
    got=${PIPESTATUS[0]}
    same "$work/$mode.actual" "$work/$mode.native" "the native build on collect.cmd's export printed otherwise than the exe" || failed=1
    if [ "$got" != "${exestatus[i]}" ]; then
      echo "$mode: the native build on collect.cmd's export exited $got, the exe ${exestatus[i]}"
      failed=1
    fi
  done
  return $failed
}

case ${1:-} in
  start) start "${2:-}" ;;
  stop) stop ;;
  exec)
    shift
    exec "$@"
    ;;
  case)
    [ $# = 4 ] || {
      echo "usage: $0 case EXE DIR/NAME OUTDIR" >&2
      exit 2
    }
    runcase "$2" "$3" "$4"
    ;;
  *)
    echo "usage: $0 start [EXE] | stop | case EXE DIR/NAME OUTDIR | exec COMMAND..." >&2
    exit 2
    ;;
esac
