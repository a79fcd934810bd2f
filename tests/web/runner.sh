#!/usr/bin/env bash
# The node runner against the native build where the golden cases do not
# reach: standard input closed, a terminal, not seekable (a pipe), and an
# output of many blocks. Standard output, standard error and the exit status
# must be the same.
#
#   runner.sh <node> <comserial.js> <native comserial>
set -uo pipefail
node=$1 runner=$2 native=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
gen=$(dirname "$native")/bench/comserial_genexport
"$gen" 300 > "$dir/big.reg" || exit 1
failed=0

# name, what must be the same, then a shell line that runs "$tool" ($tool is
# set to each build). Node opens /dev/null on a standard input it finds
# closed, so there the runner reads an empty input: the same exit status and
# nothing printed, but standard error says the input is empty.
cases=(
  'stdin-closed|out status|"$tool" <&-'
  'stdin-terminal|out err status|script -qec "\"$tool\"" /dev/null < /dev/null'
  'stdin-empty-file|out err status|"$tool" < /dev/null'
  'stdin-pipe|out err status|cat "$dir/big.reg" | "$tool" -q'
  'output-of-many-blocks|out err status|"$tool" < "$dir/big.reg"'
)
for entry in "${cases[@]}"; do
  name=${entry%%|*} rest=${entry#*|}
  parts=${rest%%|*} line=${rest#*|}
  for build in native web; do
    if [ $build = native ]; then tool=$native; else tool="$dir/node-runner"; fi
    printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$node" "$runner" > "$dir/node-runner"
    chmod +x "$dir/node-runner"
    (eval "$line") > "$dir/$build.out" 2> "$dir/$build.err"
    echo $? > "$dir/$build.status"
  done
  bad=0
  for part in $parts; do
    if ! cmp -s "$dir/native.$part" "$dir/web.$part"; then
      echo "FAIL $name: standard ${part/status/exit status} differs from the native build's"
      diff <(head -c 2000 "$dir/native.$part") <(head -c 2000 "$dir/web.$part") | head -20
      bad=1 failed=1
    fi
  done
  [ $bad = 0 ] && echo "ok   $name (exit $(cat "$dir/web.status"), $(wc -c < "$dir/web.out") bytes out)"
done
exit $failed
