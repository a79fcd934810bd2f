#!/bin/sh
# Makes the .deb with cpack in a scratch folder, unpacks it as dpkg -i would
# and runs the comserial inside on an export given on standard input: what
# the package installs must work on its own, with its man page beside it.
#
#   deb.sh CPACKCONFIG OUTDIR ARG... <export.reg
[ $# -ge 2 ] || {
  echo "usage: $0 CPACKCONFIG OUTDIR ARG... <export.reg" >&2
  exit 2
}
config=$1 out=$2
shift 2
rm -rf "$out"
mkdir -p "$out"
if ! cpack --config "$config" -G DEB -B "$out" >"$out/log" 2>&1; then
  cat "$out/log"
  exit 1
fi
set -- "$out"/*.deb "$@"
deb=$1
shift
dpkg-deb -x "$deb" "$out/root" || exit 1
if [ ! -f "$out/root/usr/share/man/man1/comserial.1" ]; then
  echo "$deb has no usr/share/man/man1/comserial.1" >&2
  exit 1
fi
case $(dpkg-deb -f "$deb" Depends) in
  *libc6*) ;;
  *)
    echo "$deb does not depend on libc6" >&2
    exit 1
    ;;
esac
exec "$out/root/usr/bin/comserial" "$@"
