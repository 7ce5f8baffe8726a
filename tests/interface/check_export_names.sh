#!/bin/sh
# Applications linked against the shared libraries when the interface was fixed must still find
# every name they may have bound to: each name that libvrcore, libvrtrack and libvrsim exported
# then (tests/interface/lib<name>.exports, from nm -D --defined-only) must still be exported.
# New names are allowed; check_exports.sh sees to it that no name leaves the libraries that vr.h
# does not declare.
#
# usage: check_export_names.sh check|write REFERENCE-DIR LIBRARY...
#   check  compares the libraries' exports with the references (what the test suite runs);
#   write  writes the references from the libraries (done once, when the interface was fixed).
set -eu
mode=$1 refs=$2
shift 2

status=0
for lib in "$@"; do
  name=$(basename "$lib")
  name=${name%%.so*}
  ref="$refs/$name.exports"
  now=$(nm -D --defined-only "$lib" | awk '{print $NF}' |
    grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' | LC_ALL=C sort -u)
  if [ "$mode" = write ]; then
    printf '%s\n' "$now" >"$ref"
    echo "wrote $ref ($(wc -l <"$ref") names)"
    continue
  fi
  missing=$(printf '%s\n' "$now" | LC_ALL=C comm -13 - "$ref")
  if [ -n "$missing" ]; then
    echo "$name no longer exports:"
    echo "$missing"
    status=1
  else
    echo "$name: all $(wc -l <"$ref") fixed names exported" \
      "($(($(printf '%s\n' "$now" | wc -l) - $(wc -l <"$ref"))) added)"
  fi
done
exit $status
