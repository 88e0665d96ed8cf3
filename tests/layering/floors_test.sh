#!/usr/bin/env bash
# The core is built in floors: a folder includes only from its own floor's folder or from floors below
# it, never from above (and never from the windows or the command line). A line that breaks this fails
# the test with the file and the include.
#   0 base   1 platform   2 settings, remote   3 inventory   4 checksum, planning   5 execution
#   6 app    7 jobs
set -euo pipefail
src="${1:?usage: floors_test.sh SOURCE_DIR}/src/core"
declare -A floor=([base]=0 [platform]=1 [settings]=2 [remote]=2 [inventory]=3 [checksum]=4 [planning]=4
                  [execution]=5 [app]=6 [jobs]=7)
broken=0
for dir in "$src"/*/; do
  name=$(basename "$dir")
  if [ -z "${floor[$name]+set}" ]; then
    echo "core/$name has no floor: give it one in $0"
    broken=1
    continue
  fi
  while IFS=: read -r file line text; do
    included=$(sed -E 's/.*#include "([a-z_]+)\/([a-z_]+)\/.*/\1 \2/' <<<"$text")
    read -r top sub <<<"$included"
    if [ "$top" != core ]; then
      echo "${file#"$src"/}:$line: the core includes $top: $text"
      broken=1
    elif [ "$sub" != "$name" ] && { [ -z "${floor[$sub]+set}" ] || [ "${floor[$sub]}" -ge "${floor[$name]}" ]; }; then
      echo "${file#"$src"/}:$line: $name (floor ${floor[$name]}) includes $sub (floor ${floor[$sub]:-?}): $text"
      broken=1
    fi
  done < <(grep -rnE '#include "[a-z_]+/[a-z_]+/' "$dir" || true)
done
[ "$broken" -eq 0 ] && echo "every include of the core runs down a floor"
exit "$broken"
