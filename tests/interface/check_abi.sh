#!/bin/sh
# The shared libraries keep the binary interface they had when it was fixed: abidiff compares
# each library's exported functions and variables, with every type they reach, against the
# dump made then (tests/interface/lib<name>.abi, from abidw). What may change is only what
# cannot break a program built against the old libraries: new functions and variables, and new
# enumerators (which abidiff counts as harmless). Anything else it reports - a removed name, a
# changed signature, a field added to or moved in a public struct - fails. The library's type
# information comes from its debug information, which the build adds when this check is on.
#
# usage: check_abi.sh check|write REFERENCE-DIR SUPPRESSIONS LIBRARY...
#   check  compares the libraries with the dumps (what the test suite runs);
#   write  writes the dumps from the libraries (done once, when the interface was fixed).
# Exits 77 (the test counts as skipped) when abigail-tools is not installed.
set -eu
mode=$1 refs=$2 suppr=$3
shift 3
if ! command -v abidiff >/dev/null 2>&1 || ! command -v abidw >/dev/null 2>&1; then
  echo "abidiff/abidw not found (Debian package abigail-tools): binary interface not checked"
  exit 77
fi

status=0
for lib in "$@"; do
  name=$(basename "$lib")
  name=${name%%.so*}
  ref="$refs/$name.abi"
  # Without debug information abidiff would compare the names only, and always agree.
  if ! readelf -S "$lib" | grep -q '\.debug_info'; then
    echo "$name: no debug information in $lib, so its types cannot be compared (VR_CHECK_ABI)"
    status=1
    continue
  fi
  if [ "$mode" = write ]; then
    abidw --exported-interfaces-only --suppressions "$suppr" --no-corpus-path --no-comp-dir-path \
      --no-show-locs --no-elf-needed --type-id-style hash "$lib" --out-file "$ref"
    echo "wrote $ref"
    continue
  fi
  # Exit status bits: 4 a change, 8 an incompatible one; additions are left out of both by
  # --no-added-syms, and harmless changes are filtered by default.
  if abidiff --exported-interfaces-only --suppressions "$suppr" --no-added-syms --no-show-locs \
    "$ref" "$lib"; then
    echo "$name: binary interface unchanged"
  else
    echo "$name: the binary interface changed (abidiff exit status $?, above)"
    status=1
  fi
done
exit $status
