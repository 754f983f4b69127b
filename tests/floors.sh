#!/usr/bin/env bash
# Fails when a file includes a header from a floor above its own, or from a sibling on its
# floor: core < source, settings < migration, verification < app.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
declare -A floor=([core]=0 [source]=1 [settings]=1 [migration]=2 [verification]=2 [app]=3)
bad=0
for dir in "${!floor[@]}"; do
  while IFS= read -r hit; do
    file=${hit%%:*}
    header=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$hit")
    target=${header%%/*}
    [ -n "${floor[$target]+x}" ] || continue
    if [ "$target" != "$dir" ] && [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
      echo "$file includes $header: $target is not below $dir"
      bad=1
    fi
  done < <(grep -H -E '^\s*#\s*include\s+"' "$root/$dir"/*.h "$root/$dir"/*.cpp 2>/dev/null)
done
[ $bad = 0 ] && echo "floors: every include points downward"
exit $bad
