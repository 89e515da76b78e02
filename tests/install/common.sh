# Shared by the install, package and browser tests: a scratch directory that
# goes away, checks that say what failed, and a gathering cycle of the demo
# gatherer run from an installed tree.

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# Exit status 77 is reported by ctest as a skip (SKIP_RETURN_CODE).
skip() {
  printf 'SKIP: %s\n' "$*"
  exit 77
}

expect_file() { [ -f "$1" ] || fail "missing: $1"; }

# The scratch directory, removed on exit unless LORVEX_KEEP_SCRATCH is set.
scratch="$(mktemp -d "${TMPDIR:-/tmp}/lorvex-install-test.XXXXXX")"
cleanup_scratch() {
  if [ -z "${LORVEX_KEEP_SCRATCH:-}" ]; then rm -rf "$scratch"; else printf 'kept %s\n' "$scratch"; fi
}
on_exit=(cleanup_scratch)
run_on_exit() {
  local i
  for ((i = ${#on_exit[@]} - 1; i >= 0; i--)); do "${on_exit[$i]}" || true; done
}
trap run_on_exit EXIT

sed_escape() { printf '%s' "$1" | sed 's/[&|\\]/\\&/g'; }

# A free TCP port of 127.0.0.1, for a server that cannot take port 0.
free_port() {
  perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(LocalAddr => "127.0.0.1", Listen => 1)->sockport'
}

# Waits until the file is not empty, at most $2 tenths of a second, while the
# process $3 lives.
wait_for_file() {
  local i
  for ((i = 0; i < $2; i++)); do
    [ -s "$1" ] && return 0
    kill -0 "$3" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$1" ]
}

# run_installed_cycle BIN_DIR INSTALL_DIR REGISTRY STANDINS_DIR
# Runs the demo gatherer's cycle with the programs of BIN_DIR on a copy of the
# sample gatherer that INSTALL_DIR holds, the installed catalogue and registry
# (its command port set to a search-service peer started here), and the
# framework's stand-ins. PATH holds BIN_DIR, the stand-ins and the system's
# folders only, so nothing of the build tree's programs can be found.
run_installed_cycle() {
  local bin="$1" inst="$2" registry="$3" standins="$4"
  local run="$scratch/cycle" work data port peer status
  rm -rf "$run"
  mkdir -p "$run/gatherers"
  cp -R "$inst/gatherers/demo" "$run/gatherers/"
  work="$run/gatherers/demo"
  data="$work/data"
  sed -i -e "s|@WORK_DIR@|$(sed_escape "$work")|g" -e "s|@DATA_DIR@|$(sed_escape "$data")|g" \
    -e "s|@INSTALL_DIR@|$(sed_escape "$inst")|g" "$work/cyclerun.ini"

  python3 "$inst/searchservice.py" --port-file "$run/port" --reply 0 --connections 1 --timeout 60 \
    >"$run/searchservice.log" 2>&1 &
  peer=$!
  wait_for_file "$run/port" 100 "$peer" || fail "the search-service peer did not start: $(cat "$run/searchservice.log")"
  port="$(cat "$run/port")"
  sed -e "s|^\"CgiPortNo\"=dword:.*|\"CgiPortNo\"=dword:$(printf '%08x' "$port")|" "$registry" >"$run/registry.reg"

  status=0
  (cd "$work" && LORVEX_REGISTRY="$run/registry.reg" PATH="$bin:$standins:/usr/bin:/bin" \
    exec "$bin/cyclerun" cyclerun.ini >"$run/out" 2>"$run/err") || status=$?
  wait "$peer" || true

  [ "$status" -eq 0 ] || fail "cyclerun exited with $status: $(cat "$run/err")"
  grep -q '^storeseal: Using given directory: ' "$run/out" || fail "storeseal did not run: $(cat "$run/out" "$run/err")"
  # The success notice, looked up in the installed catalogue.
  grep -q '^<TD ALIGN="left">LXCM601-I:</TD>$' "$run/out" || fail "no success notice: $(cat "$run/out")"
  grep -q 'ZIVIDUZ demo' "$run/searchservice.log" || fail "the service was not told: $(cat "$run/searchservice.log")"
  [ "$(grep -c '^@FILE { ' "$data/PRODUCTION.gdbm")" -eq 5 ] || fail "PRODUCTION.gdbm: $(cat "$data/PRODUCTION.gdbm")"
  [ "$(gzip -dc "$data/All-Templates.gz" | grep -c '^@FILE { ')" -eq 5 ] || fail "All-Templates.gz is not the dump"
  expect_file "$data/INFO.soif"
  [ ! -e "$inst/.lxQ71K58R03lock" ] || fail "the cycle lock was left behind"
}
