# Shared by the tests of the installed system, sourced first: strict mode, a
# scratch directory that goes away, and checks that say what failed.
set -eEuo pipefail
# A command that ends the script through set -e says so: it would otherwise
# end the test with a status and no word of which step failed.
trap 'printf "FAIL: line %s: \"%s\" ended with %s\n" "$LINENO" "$BASH_COMMAND" "$?" >&2' ERR

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

# The build tree ($build) installed into the prefix.
install_build() {
  cmake --install "$build" --prefix "$1" >"$scratch/install.log" 2>&1 || fail "cmake --install: $(cat "$scratch/install.log")"
}

sed_escape() { printf '%s' "$1" | sed 's/[&|\\]/\\&/g'; }

# A free TCP port of 127.0.0.1, for a server that cannot take port 0.
free_port() {
  perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(LocalAddr => "127.0.0.1", Listen => 1)->sockport'
}
