#!/usr/bin/env bash
# Fails when a file includes a header from a floor above its own, or from a sibling on its
# floor (core < source, settings < form < migration, verification < app), or declares ahead a
# namespace-level class defined there; when a test or benchmark folder reaches above the floor
# it tests (it may include its own floor and below, and tests/support); or when a floor's
# CMakeLists.txt links upward or sideways, or leaves out a floor its files include.
set -u
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
declare -A floor=([core]=0 [source]=1 [settings]=1 [form]=2 [migration]=3 [verification]=3 [app]=4)
# Each test and benchmark folder, by the floor whose code it exercises; tests/support serves
# every test, so it may use anything below the window.
declare -A tests=([tests/core]=core [tests/source]=source [tests/fixtures]=source
  [tests/settings]=settings [tests/form]=form [tests/migration]=migration
  [tests/verification]=verification [tests/support]=migration [tests/app]=app [tests/cli]=app
  [tests/fuzz]=app [tests/e2e]=app [bench]=app)
bad=0

# includes DIR: "file header" for every quoted include of the folder's sources.
includes() {
  grep -H -E '^\s*#\s*include\s+"' "$root/$1"/*.h "$root/$1"/*.cpp 2>/dev/null |
    sed -E 's/^([^:]*):.*#\s*include\s+"([^"]+)".*/\1 \2/'
}

for dir in "${!floor[@]}"; do
  while read -r file header; do
    target=${header%%/*}
    [ -n "${floor[$target]+x}" ] || continue
    if [ "$target" != "$dir" ] && [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
      echo "$file includes $header: $target is not below $dir"
      bad=1
    fi
  done < <(includes "$dir")
done

# A forward declaration names a floor too: a namespace-level class declared ahead and defined
# above or beside.
declare -A defined
for dir in "${!floor[@]}"; do
  for name in $(grep -hoE '^(class|struct) [A-Za-z_]+( final)? *[:{]' "$root/$dir"/*.h 2>/dev/null |
    awk '{print $2}'); do
    defined[$name]=$dir
  done
done
for dir in "${!floor[@]}"; do
  while IFS=: read -r file name; do
    target=${defined[$name]:-}
    [ -n "$target" ] && [ "$target" != "$dir" ] || continue
    if [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
      echo "$file declares $name ahead: $target is not below $dir"
      bad=1
    fi
  done < <(grep -HoE '^(class|struct) [A-Za-z_]+;' "$root/$dir"/*.h "$root/$dir"/*.cpp 2>/dev/null |
    sed -E 's/^([^:]*):(class|struct) ([A-Za-z_]+);/\1:\3/')
done

for dir in "${!tests[@]}"; do
  own=${tests[$dir]}
  while read -r file header; do
    target=${header%%/*}
    case $header in
      tests/support/* | "$dir"/*) continue ;;
      tests/* | bench/*)
        echo "$file includes $header: another test folder's file"
        bad=1
        continue
        ;;
    esac
    [ -n "${floor[$target]+x}" ] || continue
    if [ "$target" != "$own" ] && [ "${floor[$target]}" -ge "${floor[$own]}" ]; then
      echo "$file includes $header: $target is not below $own, the floor $dir tests"
      bad=1
    fi
  done < <(includes "$dir")
done

# The link graph: each floor's libraries, the floors it links to, and all floors below them.
declare -A lib links
for dir in "${!floor[@]}"; do
  for name in $(grep -oE 'add_library\(kordb_[a-z_]+' "$root/$dir/CMakeLists.txt" | cut -d'(' -f2); do
    lib[$name]=$dir
  done
done
for dir in "${!floor[@]}"; do
  linked=$(tr '\n' ' ' <"$root/$dir/CMakeLists.txt" | grep -oE 'target_link_libraries\([^)]*\)' |
    grep -oE 'kordb_[a-z_]+' | sort -u)
  for name in $linked; do
    target=${lib[$name]:-}
    [ -n "$target" ] || continue
    [ "$target" = "$dir" ] && continue
    if [ "${floor[$target]}" -ge "${floor[$dir]}" ]; then
      echo "$dir/CMakeLists.txt links $name: $target is not below $dir"
      bad=1
    fi
    links[$dir]="${links[$dir]:-} $target"
  done
done
# reaches DIR TARGET: whether DIR's libraries reach TARGET's through the link graph.
reaches() {
  local next
  for next in ${links[$1]:-}; do
    [ "$next" = "$2" ] && return 0
    reaches "$next" "$2" && return 0
  done
  return 1
}
for dir in "${!floor[@]}"; do
  while read -r target; do
    [ -n "${floor[$target]+x}" ] && [ "$target" != "$dir" ] || continue
    if ! reaches "$dir" "$target"; then
      echo "$dir includes $target headers, but $dir/CMakeLists.txt does not link to $target"
      bad=1
    fi
  done < <(includes "$dir" | sed -E 's/^[^ ]* ([^/]*)\/.*/\1/' | sort -u)
done

[ $bad = 0 ] && echo "floors: every include and every link points downward"
exit $bad
