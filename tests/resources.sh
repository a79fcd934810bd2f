#!/bin/sh
# Checks that the exe carries its version information, with the project's
# version, and its manifest: run as the invoking user, the supported Windows
# versions listed, and no code page of its own (the registry's 8-bit text
# must come in the system's ANSI code page).
#
#   resources.sh EXE VERSION [DESCRIPTION]
#
# DESCRIPTION is how the exe's description starts (comserial's, "COM port",
# without it).
[ $# = 2 ] || [ $# = 3 ] || {
  echo "usage: $0 EXE VERSION [DESCRIPTION]" >&2
  exit 2
}
exe=$1 version=$2 description=${3:-COM port}
fail() {
  echo "$exe: $*" >&2
  exit 1
}

# The strings of the version resource are UTF-16; without the zero bytes
# each name runs straight into its value.
info=$(wrestool -x --raw -t16 "$exe" | tr -d '\000')
[ -n "$info" ] || fail "no version information"
for want in "ProductNamecomserial" "ProductVersion$version" "FileVersion$version" "FileDescription$description"; do
  case $info in
    *"$want"*) ;;
    *) fail "version information without $want" ;;
  esac
done

manifest=$(wrestool -x --raw -t24 -n1 "$exe")
[ -n "$manifest" ] || fail "no manifest"
for want in 'level="asInvoker"' '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>' \
  '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'; do
  case $manifest in
    *"$want"*) ;;
    *) fail "manifest without $want" ;;
  esac
done
case $manifest in
  *"activeCodePage>"*) fail "the manifest sets the process code page" ;;
esac
echo "version information and manifest in $exe"
