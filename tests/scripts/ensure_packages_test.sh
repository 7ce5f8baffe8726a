#!/bin/sh
# scripts/lib/ensure-packages against stand-ins for dpkg-query, apt-get, id and sudo: it installs
# exactly the missing packages and says which, reads the package lists only when an install
# fails, installs nothing when told not to or when all is there, and fails clearly when it has no
# way to become root.
set -u
helper=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/ensure-packages.XXXXXX")
# KEEP=1 keeps the scratch folder for a look after a failure.
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
bin=$work/bin
mkdir "$bin"
for tool in sh grep env cat rm; do ln -s "$(command -v "$tool")" "$bin/$tool"; done

# dpkg-query: installed are the packages named in $work/installed.
cat >"$bin/dpkg-query" <<'EOS'
#!/bin/sh
for last; do :; done
if grep -qx "$last" "$WORK/installed"; then printf 'ii '; else printf 'un '; fi
EOS
# apt-get: logs its arguments; "install" fails until "update" has run when $work/stale exists.
cat >"$bin/apt-get" <<'EOS'
#!/bin/sh
echo "$*" >>"$WORK/apt.log"
if [ "$1" = update ]; then rm -f "$WORK/stale"; exit 0; fi
[ ! -f "$WORK/stale" ]
EOS
cat >"$bin/id" <<'EOS'
#!/bin/sh
echo "$FAKE_UID"
EOS
chmod +x "$bin/dpkg-query" "$bin/apt-get" "$bin/id"

failures=0
no_install=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run UID SUDO(yes/no) ARGS...: runs the helper; output in $work/out, apt-get calls in apt.log.
run() {
  uid=$1 with_sudo=$2
  shift 2
  rm -f "$work/apt.log" "$bin/sudo"
  : >"$work/apt.log"
  if [ "$with_sudo" = yes ]; then
    # shellcheck disable=SC2016 # expanded by the stand-in, not here
    printf '#!/bin/sh\necho sudo >>"$WORK/apt.log"\nexec "$@"\n' >"$bin/sudo"
    chmod +x "$bin/sudo"
  fi
  VR_NO_INSTALL=$no_install WORK=$work FAKE_UID=$uid PATH=$bin "$bin/sh" "$helper" "$@" \
    >"$work/out" 2>&1
}

printf 'cmake\nlibpng-dev\n' >"$work/installed"

run 0 no cmake libpng-dev || fail "all installed: failed"
[ -s "$work/out" ] && fail "all installed: said something: $(cat "$work/out")"
[ -s "$work/apt.log" ] && fail "all installed: ran apt-get"

run 0 no cmake libgtest-dev libpng-dev libbenchmark-dev || fail "as root: failed"
grep -q 'missing Debian packages: libgtest-dev libbenchmark-dev' "$work/out" ||
  fail "as root: the missing packages not named: $(cat "$work/out")"
[ "$(cat "$work/apt.log")" = "install -y --no-install-recommends libgtest-dev libbenchmark-dev" ] ||
  fail "as root: apt-get ran as: $(cat "$work/apt.log")"

touch "$work/stale"
run 1000 yes libgtest-dev || fail "stale lists through sudo: failed"
[ "$(grep -c sudo "$work/apt.log")" -eq 3 ] || fail "stale lists: not every call through sudo"
[ "$(grep -v sudo "$work/apt.log" | tr '\n' '|')" = \
  "install -y --no-install-recommends libgtest-dev|update|install -y --no-install-recommends libgtest-dev|" ] ||
  fail "stale lists: apt-get ran as: $(cat "$work/apt.log")"

no_install=1
run 0 no libgtest-dev || fail "VR_NO_INSTALL: failed"
[ -s "$work/apt.log" ] && fail "VR_NO_INSTALL: ran apt-get"
grep -q 'libgtest-dev' "$work/out" || fail "VR_NO_INSTALL: the package not named"
no_install=0

run 1000 no libgtest-dev && fail "no root, no sudo: reported success"
grep -q 'apt-get install libgtest-dev' "$work/out" || fail "no root: no command given: $(cat "$work/out")"
[ -s "$work/apt.log" ] && fail "no root: ran apt-get"

[ "$failures" -eq 0 ] && echo "ensure-packages: all cases passed"
[ "$failures" -eq 0 ]
