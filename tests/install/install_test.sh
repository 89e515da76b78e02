#!/usr/bin/env bash
# cmake --install into a temporary prefix gives a working system: the
# programs, the catalogue, the sample installation and registry, a manual
# page for every program; a gathering cycle runs from there.
# Arguments: BUILD_DIR STANDINS_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
standins="$(cd "$2" && pwd)"
. "$(dirname "$0")/common.sh"

prefix="$scratch/prefix with blank"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 || fail "cmake --install: $(cat "$scratch/install.log")"

inst="$prefix/share/lorvex"
for file in lib/lorvex.msg registry.reg lighttpd.conf searchservice.py gatherer.ini \
    gatherers/demo/cyclerun.ini gatherers/demo/gatherinput htdocs/Lorvex-doc/admin/GIF/bk.gif; do
  expect_file "$inst/$file"
done
# Every installed program has its manual page, and nothing but the system's
# programs is installed (no test double, no stand-in).
programs="$(cd "$prefix/bin" && ls | LC_ALL=C sort | paste -sd ' ')"
expected="LaunchCrawler LaunchServer StopServer cmd cyclerun freelancesift htmlsift htmlsift2 ichitarosift"
expected+=" lotus123sift packdump pdfsift ppointsift rtfsift skim storeseal wordsift writesift"
[ "$programs" = "$expected" ] || fail "installed programs: $programs"
for program in $programs; do
  [ -x "$prefix/bin/$program" ] || fail "not executable: $program"
  expect_file "$prefix/share/man/man1/$program.1"
done
# The sample registry names the installed catalogue's folder.
grep -qxF "\"Path00\"=\"$inst\"" "$inst/registry.reg" || fail "Path00: $(grep Path00 "$inst/registry.reg")"

# The cycle's lock goes into the installation directory, which has a blank
# in its path here: the programs take it from the registry, not a command line.
run_installed_cycle "$prefix/bin" "$inst" "$inst/registry.reg" "$standins"
echo "installed into $prefix; a cycle ran from there"
