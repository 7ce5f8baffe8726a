#!/bin/sh
# The public header may grow but never change: every declaration, enumerator and macro that
# <vrlib/vr.h> gave applications when the interface was fixed must still come out of the
# preprocessor token for token, in C99 and in C++20. New declarations, new enumerators in an
# existing enumeration and new macros are allowed; a changed or missing one fails.
#
# The header is preprocessed (-E -P: no line markers) and cut into its top-level declarations by
# decl.awk (which explains how enumerations are compared); the macros come from -dM, less the
# compiler's own. Each reference line (tests/interface/vr_h.<language>.txt, made from the header
# as it was fixed) must appear verbatim among the lines of today's header.
#
# usage: check_header.sh check|write C-COMPILER C++-COMPILER INCLUDE-ROOT REFERENCE-DIR
# (INCLUDE-ROOT holds vrlib/vr.h)
#   check  compares today's header with the references (what the test suite runs);
#   write  writes the references from today's header (done once, when the interface was fixed).
set -eu
mode=$1 cc=$2 cxx=$3 src=$4 refs=$5
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

printf '#include <vrlib/vr.h>\n' >"$tmp/use.c"
cp "$tmp/use.c" "$tmp/use.cpp"
: >"$tmp/empty.c"
cp "$tmp/empty.c" "$tmp/empty.cpp"

# Declarations and macros of the header in one language: compiler, language option, suffix.
lines() {
  "$1" -E -P "$2" -I "$src" "$tmp/use.$3" >"$tmp/pp.$3"
  awk -f "$here/decl.awk" "$tmp/pp.$3" >"$tmp/decl.$3"
  "$1" -E -dM "$2" -I "$src" "$tmp/use.$3" | sort >"$tmp/macros.$3"
  "$1" -E -dM "$2" "$tmp/empty.$3" | sort >"$tmp/builtin.$3"
  comm -23 "$tmp/macros.$3" "$tmp/builtin.$3" | sed 's/^/M /' >>"$tmp/decl.$3"
  LC_ALL=C sort -u "$tmp/decl.$3"
}

status=0
for lang in c99 cxx20; do
  case $lang in
    c99) lines "$cc" -std=c99 c >"$tmp/now.$lang" ;;
    cxx20) lines "$cxx" -std=c++20 cpp >"$tmp/now.$lang" ;;
  esac
  ref="$refs/vr_h.$lang.txt"
  if [ "$mode" = write ]; then
    cp "$tmp/now.$lang" "$ref"
    echo "wrote $ref ($(wc -l <"$ref") lines)"
    continue
  fi
  missing=$(LC_ALL=C comm -23 "$ref" "$tmp/now.$lang")
  if [ -n "$missing" ]; then
    echo "vr.h ($lang): declarations, enumerators or macros of the fixed interface changed or gone:"
    echo "$missing"
    status=1
  else
    echo "vr.h ($lang): all $(wc -l <"$ref") fixed declarations, enumerators and macros unchanged" \
      "($(($(wc -l <"$tmp/now.$lang") - $(wc -l <"$ref"))) added)"
  fi
done
exit $status
