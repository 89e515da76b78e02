#!/usr/bin/env bash
# The installed tree, as the README's "First day" uses it: cmake --install
# into a scratch prefix, then the very commands of that section, run with
# the package's paths turned into the scratch ones (/usr into the prefix,
# /etc/lorvex, /srv and the home folder into the scratch directory). They
# run the installed lorvex-demo (two cycles, the export daemon started and
# stopped) and a gatherer of one's own launched twice with the sample
# registry as installed. What they leave is checked here.
# Arguments: BUILD_DIR README
. "$(dirname "$0")/common.sh"
build="$(cd "$1" && pwd)"
readme="$2"

# The prefix has a blank in its path (the installation directory and the
# stand-ins' folder with it); the README's commands reach it through a link
# without one, as they name /usr.
prefix="$scratch/prefix with blank"
install_build "$prefix"
ln -s "$prefix" "$scratch/usr"
usr="$scratch/usr"
share="$prefix/share/lorvex"
state="$prefix/var/lib/lorvex"

# Nothing but the names a user types of the system's programs and the demo's
# command in bin/ (the interpreter cmd, which the programs start, and the
# stand-ins have folders of their own), and a page for each.
programs="$(cd "$prefix/bin" && ls | LC_ALL=C sort | paste -sd ' ')"
typed="LaunchCrawler LaunchServer StopServer cyclerun freelancesift htmlsift htmlsift2 ichitarosift"
typed+=" lorvex-cycle lorvex-status lotus123sift packdump pdfsift ppointsift rtfsift skim storeseal wordsift writesift"
expected="$(printf '%s\n' $typed lorvex-demo | LC_ALL=C sort | paste -sd ' ')"
[ "$programs" = "$expected" ] || fail "installed programs: $programs"
for program in $programs; do expect_file "$prefix/share/man/man1/$program.1.gz"; done
# Every program a name in lib/lorvex/bin beside the one program file, which
# the names in bin lead to: a program's own folder holds them all.
file="$prefix/lib/lorvex/bin/lorvex-programs"
[ -f "$file" ] && [ ! -L "$file" ] || fail "no program file $file"
[ "$(cd "$prefix/lib/lorvex/bin" && ls | LC_ALL=C sort | paste -sd ' ')" = \
  "$(printf '%s\n' $typed cmd lorvex-programs | LC_ALL=C sort | paste -sd ' ')" ] ||
  fail "lib/lorvex/bin holds $(ls "$prefix/lib/lorvex/bin" | paste -sd ' ')"
for program in $typed cmd; do
  [ "$(readlink -f "$prefix/lib/lorvex/bin/$program")" = "$(readlink -f "$file")" ] || fail "lib/lorvex/bin/$program"
done
for program in $typed; do
  [ -L "$prefix/bin/$program" ] && [ "$(readlink -f "$prefix/bin/$program")" = "$(readlink -f "$file")" ] ||
    fail "bin/$program does not lead to the program file"
done
expect_file "$prefix/share/man/man7/lorvex.7.gz"
expect_file "$prefix/lib/lorvex/standins/essence"
# The sample registry names the writable installation directory, whose lib
# reaches the one catalogue in share/lorvex.
grep -qxF "\"Path00\"=\"$state\"" "$share/registry.reg" || fail "Path00: $(grep Path00 "$share/registry.reg")"
! grep -q '^"\(PerlPath\|GzipPath\)"=' "$share/registry.reg" || fail "the sample registry names Perl or gzip"
[ "$(readlink "$state/lib")" = "$share/lib" ] || fail "$state/lib: $(ls -l "$state")"
expect_file "$state/lib/lorvex.msg"

# The units start the prefix's own programs (its path has a blank, which the
# system manager must read as part of the word).
grep -qxF "ExecStart=\"$prefix/bin/LaunchServer\" /etc/lorvex/gatherers/%i.ini" "$prefix/lib/systemd/system/lorvex-export@.service" ||
  fail "the export unit: $(grep Exec "$prefix/lib/systemd/system/lorvex-export@.service")"
if command -v systemd-analyze >/dev/null; then
  cp "$prefix/lib/systemd/system/lorvex-export@.service" "$scratch/lorvex-export@intranet.service"
  SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$scratch/lorvex-export@intranet.service" >"$scratch/verify.log" 2>&1 &&
    [ ! -s "$scratch/verify.log" ] || fail "systemd-analyze verify: $(cat "$scratch/verify.log")"
fi

# The README's commands, as written but for the scratch paths.
awk '/^## First day$/ { on = 1; next } on && /^## / { exit }
     on && /^```sh$/ { code = 1; next } code && /^```$/ { code = 0; next } code' "$readme" >"$scratch/readme.sh"
grep -q 'lorvex-demo' "$scratch/readme.sh" && grep -q 'LaunchCrawler' "$scratch/readme.sh" ||
  fail "the README's First day section lacks its commands: $(cat "$scratch/readme.sh")"
sed -i -e "s|/usr/|$(sed_escape "$usr")/|g" -e "s|/etc/lorvex|$(sed_escape "$scratch")/etc/lorvex|g" \
  -e "s|/srv/|$(sed_escape "$scratch")/srv/|g" "$scratch/readme.sh"
mkdir -p "$scratch/home"
(cd "$scratch/home" && ls -R "$share" >"$scratch/share-before")
status=0
(cd "$scratch/home" && HOME="$scratch/home" PATH="$usr/bin:/usr/bin:/bin" MANPATH="$usr/share/man" MANPAGER=cat \
  LORVEX_REGISTRY="$scratch/etc/lorvex/registry.reg" bash -euo pipefail "$scratch/readme.sh" \
  >"$scratch/readme.out" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the README's commands failed ($status): $(tail -n 40 "$scratch/readme.out")"

# The demo: two cycles, the second one taking in the changed document; the
# daemon it started is gone.
demo="$scratch/home/lorvex-demo"
data="$demo/gatherers/demo/data"
[ "$(grep -c 'ZIVIDUZ demo' "$demo/searchservice.log")" -eq 2 ] || fail "the service was not told twice: $(cat "$demo/searchservice.log")"
grep -q 'now collects the pages of the intranet every night' "$data/PRODUCTION.gdbm" ||
  fail "the changed document is not in the production database: $(cat "$data/PRODUCTION.gdbm")"
[ "$(gzip -dc "$data/All-Templates.gz" | grep -c '^@FILE { ')" -eq 8 ] || fail "All-Templates.gz is not the dump"
daemon="$(sed -n 's/.*(process \([0-9]*\))$/\1/p' "$data/exportd.log" | tail -n 1)"
[ -n "$daemon" ] || fail "the daemon never ran: $(cat "$data/exportd.log")"
# Gone, or a zombie: that has ended and only waits for whoever inherited it
# (whether it is reaped at once depends on what runs the test).
daemon_state="$(sed 's/.*) //' "/proc/$daemon/stat" 2>/dev/null | cut -c1 || true)"
[ -z "$daemon_state" ] || [ "$daemon_state" = Z ] || fail "the export daemon $daemon still runs"
[ ! -e "$data/Exportd.pid" ] || fail "Exportd.pid was left behind"

# A gatherer of one's own, launched twice with the sample registry: its
# databases hold its documents, each run wrote the cycle's files anew and
# the cycle removed them; the lock went into the writable installation
# directory and away again; share/lorvex was not written.
own="$scratch/srv/gathering/gatherers/intranet"
grep -q "^@FILE { file://$own/documents/welcome.html$" "$own/data/PRODUCTION.gdbm" ||
  fail "the own gatherer's document was not gathered: $(cat "$own/data/PRODUCTION.gdbm")"
grep -q '^Summary{[0-9]*}:.*The demo gatherer collects' "$own/data/PRODUCTION.gdbm" || fail "no summary of welcome.html"
grep -qx '@FILE { http://www.example.jp/' "$own/data/PRODUCTION.gdbm" || fail "the URL was not gathered"
for run in first second; do
  grep -q '^<!-- \(LXCM601-I\|LXCM610-I\|LXCM019-E\|LXCM020-E\) -->$' "$scratch/srv/gathering/$run.out" ||
    fail "the $run run's page: $(grep '^<!-- ' "$scratch/srv/gathering/$run.out")"
done
[ "$(grep -c 'cyclerun ended with 0' "$own/log.gatherer")" -eq 2 ] || fail "log.gatherer: $(cat "$own/log.gatherer")"
for gone in cyclerun.ini gatherinput Gatherer.pid; do [ ! -e "$own/$gone" ] || fail "$gone was left behind"; done
[ ! -e "$state/.lxQ71K58R03lock" ] || fail "the cycle lock was left behind"
(cd "$scratch/home" && ls -R "$share") | cmp -s - "$scratch/share-before" || fail "share/lorvex was written"

# A configuration of one's own that the stand-in gathering script cannot
# use is refused before anything runs, saying why in log.gatherer too.
# case|the configuration|the directory it runs in|its exit status|what it says
bad="$scratch/srv/bad"
mkdir -p "$bad" "$scratch/srv/with blank"
cases=(
  "no URL|Gatherer-Name: bad|$bad|3|names no URL: nothing to gather"
  "a line of no setting|Gatherer-Name: bad\nhttp://www.example.jp/|$bad|3|line 2: not a \"Name: value\" line"
  "a blank in the directory|URL: http://www.example.jp/|$scratch/srv/with blank|3|holds a blank or a quote"
  "a setting it does not know|Gatherer-Name: bad\nURLS: http://www.example.jp/|$bad|3|line 2: no setting URLS"
  "no configuration||$bad|2|cannot read the configuration"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name config dir expected says <<<"$entry"
  rm -f "$dir/bad.cf"
  [ -z "$config" ] || printf "$config\n" >"$dir/bad.cf"
  status=0
  (cd "$dir" && PATH="$usr/bin:/usr/bin:/bin" perl "$prefix/lib/lorvex/standins/Gatherer" bad.cf >"$scratch/out" 2>&1) ||
    status=$?
  [ "$status" -eq "$expected" ] || fail "$name: Gatherer exited with $status: $(cat "$scratch/out")"
  grep -qF "$says" "$scratch/out" && grep -qF "$says" "$dir/log.gatherer" || fail "$name: $(cat "$scratch/out")"
  [ ! -e "$dir/cyclerun.ini" ] && [ ! -e "$dir/gatherinput" ] || fail "$name: per-run files were written"
done
echo "installed into $prefix; the README's first day ran from there"
