#!/bin/sh
# Checks that the shared libraries export exactly the public API of vr.h:
#  - every dynamic symbol they define is a name declared with VR_API in the header;
#  - libvrtrack defines every VR_API name;
#  - libvrcore defines no tracker name.
# usage: check_exports.sh vr.h libvrcore.so libvrtrack.so
set -eu
header=$1 core=$2 track=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Names declared with VR_API: the identifier right before "(" or "[" or ";" on such lines.
grep 'VR_API' "$header" | grep -v '#define' |
  sed -E 's/\(.*//; s/\[.*//; s/;.*//' | awk '{print $NF}' | tr -d '*' | sort -u >"$tmp/api"

exported() { nm -D --defined-only "$1" | awk '{print $3}' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' | sort -u; }
exported "$core" >"$tmp/core"
exported "$track" >"$tmp/track"

status=0
for lib in core track; do
  extra=$(comm -23 "$tmp/$lib" "$tmp/api")
  if [ -n "$extra" ]; then
    echo "lib$lib exports names that are not public API:"; echo "$extra"; status=1
  fi
done
missing=$(comm -13 "$tmp/track" "$tmp/api")
if [ -n "$missing" ]; then
  echo "libvrtrack lacks public API names:"; echo "$missing"; status=1
fi
tracker=$(grep -E '^(vr_lt_|vr_ds_|vr_init_glasses|vr_re_init_glasses|vr_remove_glasses|comp_mouse|LT_|stats$|cur_stat$|unit_6d$)' "$tmp/core" || true)
if [ -n "$tracker" ]; then
  echo "libvrcore exports tracker names:"; echo "$tracker"; status=1
fi
[ $status -eq 0 ] && echo "exports match the public header ($(wc -l <"$tmp/api") names)"
exit $status
