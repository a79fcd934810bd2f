#!/usr/bin/env bash
# Golden cases for the Windows build, run under Wine against Wine's own
# registry instead of the native build's export on standard input.
#
#   wine-golden.sh start [EXE]            make the prefix once, start a wineserver
#   wine-golden.sh case EXE DIR/NAME OUTDIR
#   wine-golden.sh properties EXE DIR/NAME OUTDIR
#   wine-golden.sh locked EXE DIR/NAME OUTDIR
#   wine-golden.sh roundtrip EXE OUTDIR
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
# With COLLECT naming comserial-collect.exe and NATIVE the native build, the
# collector then writes the keys into one export file, and the native build
# run on it must print what the exe printed, byte for byte (CRLF aside), and
# exit as it did: the export a user collects says what the exe would say.
# With NODERUNNER naming the page's comserial.js, so must node running it.
#
# The other runs check the collector where `reg export` falls short, with
# REGSET naming tests/tools/regset.exe to store and lock keys: `properties`
# runs that check over a case with a Properties key that only SYSTEM may open
# under every instance key, `locked` makes a case's first instance key one
# that only SYSTEM may open, and `roundtrip` stores names and data an export
# must carry exactly, collects them, and has regedit import the file into a
# clean registry, where the exe must print what it printed before.
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
buskey='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
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
  # A collector run stopped between locking a key and opening it again
  # leaves a key that only SYSTEM may open, and regedit then cannot delete
  # the device tree around it: open the tree up again.
  if [ -n "${REGSET:-}" ]; then
    "$wine" "$REGSET" -everyone "$buskey" </dev/null >/dev/null 2>&1
  fi
  return 0
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

# Makes work (emptied) and its log for a run, and starts Wine.
newwork() {
  work=$1
  rm -rf "$work"
  mkdir -p "$work"
  log=$work/log
  : >"$log"
  if ! start >>"$log" 2>&1; then
    cat "$log"
    echo "cannot set up Wine in $WINEPREFIX" >&2
    return 1
  fi
}

# Makes the registry a clean one, the serial port map's values cleared and
# both FTDIBUS trees gone, and has regedit load the files given (Windows
# paths) into it, in the locale.
cleanload() {
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
  if ! "${locale[@]}" "$wine" regedit /s "$(winpath "$work/clean.reg")" "$@" </dev/null >>"$log" 2>&1; then
    cat "$log"
    echo "regedit could not load $*" >&2
    return 1
  fi
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

  local work=$outdir/$name.wine regs=() f
  newwork "$work" || return 1
  for f in $(splitparts "$case" "$work"); do
    regs+=("$(winpath "$f")")
  done
  cleanload "${regs[@]}" || return 1

  exportkeys "$work/before"
  local failed=0 mode args i
  runexe "$exe"
  for i in 0 1; do
    setmode $i
    perl -0777 -pe 's/\n/\r\n/g' "$case.$mode.out" >"$work/$mode.expected"
    same "$work/$mode.expected" "$work/$mode.actual" "output differs from $case.$mode.out (CRLF)" || failed=1
    if [ "${exestatus[i]}" != "${want[$i]}" ]; then
      echo "$mode: exit status ${exestatus[i]}, expected ${want[$i]}"
      failed=1
    fi
  done
  exportkeys "$work/after"
  if ! diff -r "$work/before" "$work/after" >/dev/null; then
    echo "the registry changed while the tool ran; see $work/before and $work/after"
    failed=1
  fi
  if [ -n "${COLLECT:-}" ] && ! collectcheck "$work"; then
    failed=1
  fi
  if [ $failed != 0 ]; then
    echo "--- Wine log"
    cat "$log"
  fi
  return $failed
}

# Runs the exe in both modes, in the locale, into work/MODE.actual, and its
# exit statuses into exestatus.
runexe() {
  local i mode args
  for i in 0 1; do
    setmode $i
    "${locale[@]}" "$wine" "$1" "${args[@]}" </dev/null >"$work/$mode.actual" 2>>"$log"
    exestatus[i]=$?
  done
}

# Runs comserial-collect (COLLECT) on the loaded registry and the native
# build on its file, against the exe's outputs and exit statuses (exestatus)
# in work, in the case's locale as the exe ran. The collector must say where
# the file is and exit 0: it read everything.
collectcheck() {
  local work=$1
  local file=$work/collected.reg msg failed=0 mode args got i
  : "${NATIVE:?NATIVE must name the native build}"
  msg=$("${locale[@]}" "$wine" "$COLLECT" "$(winpath "$file")" </dev/null 2>>"$log")
  got=$?
  printf '%s\n' "--- comserial-collect (status $got)" "$msg" >>"$log"
  if [ ! -s "$file" ]; then
    echo "comserial-collect wrote nothing to $file"
    return 1
  fi
  if [[ $msg != *"$(winpath "$file")"* ]]; then
    echo "comserial-collect did not say where the file is"
    failed=1
  fi
  if [ "$got" != 0 ]; then
    echo "comserial-collect exited $got, expected 0"
    failed=1
  fi
  # The native build, and the page's node runner where there is one.
  local r runners=(native)
  [ -n "${NODERUNNER:-}" ] && runners+=(node)
  for r in "${runners[@]}"; do
    for i in 0 1; do
      setmode $i
      replay $r "${args[@]}" <"$file" 2>>"$log" | perl -0777 -pe 's/\n/\r\n/g' >"$work/$mode.$r"
      got=${PIPESTATUS[0]}
      same "$work/$mode.actual" "$work/$mode.$r" "the $r run on the collected export printed otherwise than the exe" || failed=1
      if [ "$got" != "${exestatus[i]}" ]; then
        echo "$mode: the $r run on the collected export exited $got, the exe ${exestatus[i]}"
        failed=1
      fi
    done
  done
  return $failed
}

# Runs the native build (native) or the page's node runner (node) on
# standard input, with the arguments after the first.
replay() {
  local how=$1
  shift
  if [ "$how" = node ]; then
    node "$NODERUNNER" "$@"
  else
    "$NATIVE" "$@"
  fi
}

# Shows the log when the run failed; returns its status.
report() {
  if [ "$1" != 0 ]; then
    echo "--- Wine log"
    cat "$log"
  fi
  return "$1"
}

regset() {
  "$wine" "$REGSET" "$@" </dev/null >>"$log" 2>&1
}

# The instance keys comserial walks in the loaded registry (those of the
# device keys named with its prefixes), one full path a line.
instances() {
  local dev
  "$wine" reg query "$buskey" </dev/null 2>>"$log" | tr -d '\r' |
    grep -E '\\(VID_0403\+PID_6001\+|Vid_0403\+Pid_6001\+)[^\\]+$' | while read -r dev; do
    "$wine" reg query "$dev" </dev/null 2>>"$log" | tr -d '\r' | grep -F "$dev\\"
  done
}

# The collect check over a case's registry with, under every instance key, a
# Properties key that only SYSTEM may open, holding a subkey of its own, as
# Windows has them (and `reg export` then loses keys). comserial lists it by
# name; the collector must write it so that the native build lists it too.
properties() {
  local exe=$1 case=$2 outdir=$3
  local work locale=() keys=() k n failed=0
  newwork "$outdir/$(basename "$case").properties" || return 1
  cleanload "$(winpath "$case.reg")" || return 1
  mapfile -t keys < <(instances)
  if [ ${#keys[@]} = 0 ]; then
    echo "no instance keys in $case.reg"
    return 1
  fi
  for k in "${keys[@]}"; do
    regset "$k\\Properties\\{a45c254e-df1c-4efd-8020-67d146a850e0}\\0002" "" 4 01,00,00,00 &&
      regset -system "$k\\Properties" || failed=1
    if "$wine" reg query "$k\\Properties" </dev/null >>"$log" 2>&1; then
      echo "$k\\Properties opens for anyone: the lock did not take"
      failed=1
    fi
  done
  runexe "$exe"
  n=$(grep -c -x $'namebuf=(Properties) namesize=10 ret=0\r' "$work/debug.actual")
  if [ "$n" != ${#keys[@]} ]; then
    echo "the exe listed Properties $n times, expected ${#keys[@]}; see $work/debug.actual"
    failed=1
  fi
  collectcheck "$work" || failed=1
  for k in "${keys[@]}"; do
    regset -everyone "$k\\Properties" || failed=1
  done
  report $failed
}

# A case's registry with its first instance key open to SYSTEM alone: the
# exe stops there (regopenkeyexa 4, access denied), and the collector says
# which key it could not read and why, on the screen and in the file, goes
# on to the last key and exits 1.
locked() {
  local exe=$1 case=$2 outdir=$3
  local work locale=() k msg got text failed=0 file
  newwork "$outdir/$(basename "$case").locked" || return 1
  file=$work/collected.reg
  cleanload "$(winpath "$case.reg")" || return 1
  k=$(instances | head -n1)
  if [ -z "$k" ]; then
    echo "no instance keys in $case.reg"
    return 1
  fi
  regset -system "$k" || failed=1
  runexe "$exe"
  if [ "$(tail -n1 "$work/debug.actual")" != "regopenkeyexa 4 namebuf=(${k##*\\}) ret=5"$'\r' ] ||
    [ "${exestatus[0]}" != 1 ]; then
    echo "the exe did not stop at $k, access denied; see $work/debug.actual"
    failed=1
  fi
  msg=$("$wine" "$COLLECT" "$(winpath "$file")" </dev/null 2>>"$log")
  got=$?
  printf '%s\n' "--- comserial-collect (status $got)" "$msg" >>"$log"
  text=$(iconv -f UTF-16LE -t UTF-8 "$file" | tr -d '\r')
  if [ "$got" != 1 ]; then
    echo "comserial-collect exited $got, expected 1"
    failed=1
  fi
  if [[ $msg != *"cannot read $k: "?* ]]; then
    echo "comserial-collect did not say that it could not read $k, and why"
    failed=1
  fi
  if [[ $text != *$'\n'"; cannot read $k: "?* ]]; then
    echo "the collected file does not say that $k could not be read; see $file"
    failed=1
  fi
  if [[ $text != *'[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Nls\CodePage]'* ]]; then
    echo "comserial-collect did not go on to the code page key; see $file"
    failed=1
  fi
  regset -everyone "$k" || failed=1
  report $failed
}

# Text as UTF-16LE hex bytes for regset, printf's backslash escapes read.
utf16() {
  printf '%b' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',,' | sed 's/^,//;s/,$//'
}

# A registry of names and data that an export must carry exactly, stored
# byte for byte with regset: non-ASCII names (one 1252 cannot hold), quotes
# and backslashes in names and data, every value type, strings with a zero
# inside, with line breaks, of odd length and without a terminator, data
# over 8192 bytes (too much for comserial's buffer in UTF-16 and in 1252
# alike, or in UTF-16 only), device keys matched without case from the
# driver's list (one of them in no case comserial walks). Wine's regedit
# pads string data without its terminator, or of odd length, when it
# imports it; those values' names begin with NoImport.
oddregistry() {
  local map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' bus='HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS'
  local list='HKLM\SYSTEM\CurrentControlSet\Services\FTDIBUS\Enum' one
  one="$bus\\VID_0403+PID_6001+A600ARJHA\\0000"
  regset "$map" '\Device\VCP0' 1 "$(utf16 'COM7\0')" '\Device\VCP1' 1 "$(utf16 'COM8\0')" \
    'say "hi" \ there' 1 "$(utf16 'COM9\0')" &&
    regset "$one" FriendlyName 1 "$(utf16 'USB Serial Port (COM7)\0')" "" 1 "$(utf16 'default\0')" \
      'Ger%C3%A4t Gr%C3%B6%C3%9Fe' 1 "$(utf16 'Grüße\0')" '%D0%96 name' 1 "$(utf16 'Ж\0')" \
      'a"b\c' 1 "$(utf16 'x\\y"z"\0')" Multi 7 "$(utf16 'one\0two\0\0')" Expand 2 "$(utf16 '%SystemRoot%\0')" \
      Binary 3 00,01,fe,ff Dword 4 2a,00,00,00 'Dword of 3 bytes' 4 01,02,03 Qword 11 01,02,03,04,05,06,07,08 \
      'Empty string' 1 "" 'Zero inside' 1 "$(utf16 'A\0B\0')" 'Line breaks' 1 "$(utf16 'a\r\nb\0')" \
      None 0 "" 'Type 1234' 0x1234 01 'NoImport odd' 1 41,00,42 'NoImport unterminated' 1 "$(utf16 'AB')" \
      'NoImport multi' 7 "$(utf16 'A\0B')" &&
    regset "$one\\Ger%C3%A4t" && regset "$one\\name]with a bracket" && regset "$one\\Properties" &&
    regset "$bus\\VID_0403+PID_6001+GR%C3%9CN1A\\0000" FriendlyName 1 "$(utf16 'USB Serial Port (COM8)\0')" \
      'Zbig binary' 3 "$(perl -e 'print join ",", map { sprintf "%02x", $_ * 7 % 256 } 0 .. 8399')" &&
    regset "$bus\\VID_0403+PID_6001+GR%C3%9CN1A\\0000" 'Zbig text' 1 "$(utf16 "$(printf 'Ab%.0s' {1..2150})\\0")" &&
    regset "$bus\\vid_0403+pid_6001+lower1a\\0000" FriendlyName 1 "$(utf16 'USB Serial Port (COM9)\0')" &&
    regset "$list" 0 1 "$(utf16 'USB\\VID_0403&PID_6001\\A600ARJH\0')" 1 1 "$(utf16 'USB\\VID_0403&PID_6001\\grün1\0')" \
      2 1 "$(utf16 'USB\\Vid_0403&Pid_6001\\LOWER1\0')" Count 4 03,00,00,00
}

# What reg itself lists of the keys comserial reads, values and all.
query() {
  local key
  for key in "${readkeys[@]}"; do
    "${locale[@]}" "$wine" reg query "$key" /s </dev/null 2>&1
  done
}

# The collect check over oddregistry, in code page 1252; then regedit
# imports the collected file into a clean registry, and there the exe must
# print what it printed before, and reg list the same keys and values (the
# data over 8192 bytes among them). The values Wine's regedit changes on
# import are left out of those two comparisons.
roundtrip() {
  local exe=$1 outdir=$2
  local work locale=(env LC_ALL=en_US.UTF-8) failed=0 mode
  newwork "$outdir/roundtrip.wine" || return 1
  cleanload || return 1
  if ! oddregistry; then
    cat "$log"
    echo "regset could not store the registry"
    return 1
  fi
  runexe "$exe"
  if [ "$(tail -n3 "$work/quiet.actual")" != $'COM7=A600ARJH\r\nCOM8=gr\xfcn1\r\nCOM9=LOWER1\r' ]; then
    echo "the exe did not map the three adapters; see $work/quiet.actual"
    failed=1
  fi
  query >"$work/query.before"
  collectcheck "$work" || failed=1
  for mode in debug quiet; do
    mv "$work/$mode.actual" "$work/$mode.before"
  done
  cleanload "$(winpath "$work/collected.reg")" || return 1
  runexe "$exe"
  for mode in debug quiet; do
    mv "$work/$mode.actual" "$work/$mode.after"
  done
  query >"$work/query.after"
  for mode in debug quiet query; do
    grep -v NoImport "$work/$mode.before" >"$work/$mode.before.kept"
    grep -v NoImport "$work/$mode.after" >"$work/$mode.after.kept"
    same "$work/$mode.before.kept" "$work/$mode.after.kept" \
      "what regedit imported from the collected file reads otherwise" || failed=1
  done
  report $failed
}

case ${1:-} in
  start) start "${2:-}" ;;
  stop) stop ;;
  exec)
    shift
    exec "$@"
    ;;
  case | properties | locked)
    [ $# = 4 ] || {
      echo "usage: $0 $1 EXE DIR/NAME OUTDIR" >&2
      exit 2
    }
    if [ "$1" = case ]; then
      runcase "$2" "$3" "$4"
    else
      "$1" "$2" "$3" "$4"
    fi
    ;;
  roundtrip)
    [ $# = 3 ] || {
      echo "usage: $0 roundtrip EXE OUTDIR" >&2
      exit 2
    }
    roundtrip "$2" "$3"
    ;;
  *)
    echo "usage: $0 start [EXE] | stop | case|properties|locked EXE DIR/NAME OUTDIR | roundtrip EXE OUTDIR | exec COMMAND..." >&2
    exit 2
    ;;
esac
