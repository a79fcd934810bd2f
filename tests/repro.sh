#!/usr/bin/env bash
# The release is the same bit for bit wherever and whenever it is built.
# Clones this checkout's last commit twice, into folders of different
# names and depths, and runs scripts/release in each, one after the other,
# the second with another umask and time zone, and with nothing else set
# (SOURCE_DATE_EPOCH unset). Both exes, the zip, the .deb and SHA256SUMS
# must come out the same, and the 32-bit exe in the zip must be the
# windows32 preset's. The tests are left out of these builds
# (-DCOMSERIAL_TESTS=OFF): they change nothing in what is shipped, and
# scripts/test has run them already.
#
#   tests/repro.sh [WORKDIR]      (build/repro by default; emptied first)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
work=${1:-build/repro}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
unset SOURCE_DATE_EPOCH
commit=$(git rev-parse HEAD)
git diff --quiet HEAD || echo "note: uncommitted changes are not part of this check; it builds $commit"

clones=("$work/a" "$work/second/clone-b")
umasks=(022 002)
zones=(UTC America/New_York)
for i in 0 1; do
  d=${clones[$i]}
  git clone -q --no-checkout "$src" "$d"
  git -C "$d" checkout -q --detach "$commit"
  echo "building the release in $d (umask ${umasks[$i]}, TZ=${zones[$i]})"
  start=$SECONDS
  if ! (cd "$d" && umask "${umasks[$i]}" && TZ=${zones[$i]} scripts/release -DCOMSERIAL_TESTS=OFF) >"$d.log" 2>&1; then
    tail -40 "$d.log"
    echo "scripts/release failed in $d; see $d.log" >&2
    exit 1
  fi
  echo "  $((SECONDS - start)) s"
done

a=${clones[0]} b=${clones[1]}
files=(build/windows/comserial.exe build/windows32/comserial.exe)
for f in "$a"/build/release/*; do
  files+=("build/release/${f##*/}")
done
failed=0
for f in "${files[@]}"; do
  if [ ! -f "$b/$f" ]; then
    echo "only in $a: $f"
    failed=1
  elif cmp -s "$a/$f" "$b/$f"; then
    echo "same: $(cd "$a" && sha256sum "$f")"
  else
    echo "DIFFERENT: $f"
    sha256sum "$a/$f" "$b/$f"
    failed=1
  fi
done
if ! (cd "$a/build/release" && sha256sum --quiet -c SHA256SUMS); then
  echo "SHA256SUMS does not match the files beside it"
  failed=1
fi

# The zip's 32-bit exe, built inside the windows preset's tree, is the one
# the windows32 preset builds.
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$a"/build/release/*.zip)
if ! cmp -s "$work"/zip/*/comserial32.exe "$a/build/windows32/comserial.exe"; then
  echo "the zip's comserial32.exe is not build/windows32/comserial.exe"
  failed=1
fi
if ! cmp -s "$work"/zip/*/comserial.exe "$a/build/windows/comserial.exe"; then
  echo "the zip's comserial.exe is not build/windows/comserial.exe"
  failed=1
fi
exit $failed
