#!/usr/bin/env bash
# The Debian packages installed for real, as an administrator installs them
# (as root, on a machine of the test's own, as CI runs it): the service user
# and group, the installation directory's owner and mode (and an override
# of dpkg-statoverride standing), the units verified and none enabled, the
# README's first-day and second-day blocks run as written, the cycle's
# outcome statuses and lorvex-status on a gatherer of the test's own, and
# the purge, which takes the directory and keeps the user. Whatever the
# outcome, the packages are purged and the system left as it was found.
# Arguments: BUILD_DIR README PROGRAM...
. "$(dirname "$0")/common.sh"
build="$(cd "$1" && pwd)"
readme="$2"
shift 2
programs=" $* "

[ "$(id -u)" -eq 0 ] || skip "installing packages into the system needs root"
for tool in dpkg apt-get dpkg-statoverride runuser; do
  command -v "$tool" >/dev/null || skip "$tool is not available: not a Debian system"
done
# What the README's blocks and the packages would change must not be there
# already: the test removes it all at its end.
for path in /etc/lorvex /srv/gathering /var/lib/lorvex; do
  [ ! -e "$path" ] || skip "$path exists: this machine is in use, and the test would change it"
done
for package in lorvex-gathering lorvex-gathering-standins; do
  ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'installed' ||
    skip "$package is installed: the test would replace it"
done
had_srv=no
[ ! -e /srv ] || had_srv=yes
had_user=no
getent passwd lorvex >/dev/null && had_user=yes
had_group=no
getent group lorvex >/dev/null && had_group=yes

cpack -G DEB --config "$build/CPackConfig.cmake" -D CPACK_STRIP_FILES=ON -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
gathering="$(ls "$scratch"/pkg/lorvex-gathering_*_amd64.deb)"
standins="$(ls "$scratch"/pkg/lorvex-gathering-standins_*_amd64.deb)"

peer=""
holder=""
restore_system() {
  [ -z "$peer" ] || kill "$peer" 2>/dev/null || true
  [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
  # An export daemon a failed step left behind.
  if [ -e /srv/gathering/gatherers/intranet/data/Exportd.pid ] && command -v StopServer >/dev/null; then
    StopServer /etc/lorvex/gatherers/intranet.ini FORCED >/dev/null 2>&1 || true
  fi
  dpkg-statoverride --remove /var/lib/lorvex >/dev/null 2>&1 || true
  DEBIAN_FRONTEND=noninteractive dpkg --purge lorvex-gathering-standins lorvex-gathering >>"$scratch/purge.log" 2>&1 ||
    true
  rm -rf /etc/lorvex /srv/gathering /var/lib/lorvex
  [ "$had_srv" = yes ] || rmdir /srv 2>/dev/null || true
  [ "$had_user" = yes ] || ! getent passwd lorvex >/dev/null || deluser --quiet --system lorvex >/dev/null 2>&1 || true
  [ "$had_group" = yes ] || ! getent group lorvex >/dev/null || delgroup --quiet --system lorvex >/dev/null 2>&1 || true
}
on_exit+=(restore_system)

# Installed as the README says, from the folder the packages are in.
(cd "$scratch/pkg" && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "./$(basename "$gathering")" "./$(basename "$standins")") >"$scratch/install.log" 2>&1 ||
  fail "apt-get install: $(tail -n 30 "$scratch/install.log")"

# The service user: a system account without a login, in its own group;
# the installation directory root's with that group, set-group-id and
# sticky; its lib root's link to the read-only catalogue.
IFS=: read -r _ _ uid gid _ home shell < <(getent passwd lorvex) || fail "no user lorvex"
[ "$uid" -lt 1000 ] && [ "$shell" = /usr/sbin/nologin ] || fail "lorvex: uid $uid, shell $shell"
[ "$(getent group lorvex | cut -d: -f3)" = "$gid" ] || fail "lorvex's group is not the group lorvex"
[ "$home" = /var/lib/lorvex ] || fail "lorvex's home: $home"
[ "$(stat -c '%U %G %a' /var/lib/lorvex)" = "root lorvex 3775" ] || fail "/var/lib/lorvex: $(stat -c '%U %G %a' /var/lib/lorvex)"
[ "$(stat -c '%U' /var/lib/lorvex/lib)" = root ] && [ "$(readlink /var/lib/lorvex/lib)" = /usr/share/lorvex/lib ] ||
  fail "/var/lib/lorvex/lib: $(ls -l /var/lib/lorvex)"
# What the mode is for: the group makes files there, and replaces none of root's.
runuser -u lorvex -- touch /var/lib/lorvex/.probe || fail "the service user cannot write in /var/lib/lorvex"
[ "$(stat -c %G /var/lib/lorvex/.probe)" = lorvex ] || fail "a file made there is not the group's"
rm -f /var/lib/lorvex/.probe
! runuser -u lorvex -- mv -f /var/lib/lorvex/lib /var/lib/lorvex/lib.old 2>/dev/null ||
  fail "the service user could move root's lib away"
# An owner and mode set with dpkg-statoverride stand when the package is
# configured again; without the override the package's own come back.
postinst=/var/lib/dpkg/info/lorvex-gathering.postinst
dpkg-statoverride --add root lorvex 2770 /var/lib/lorvex
chmod 2770 /var/lib/lorvex
"$postinst" configure >/dev/null 2>&1 || fail "the postinst failed when run again"
[ "$(stat -c '%a' /var/lib/lorvex)" = 2770 ] || fail "the override was not honoured: $(stat -c '%a' /var/lib/lorvex)"
dpkg-statoverride --remove /var/lib/lorvex
"$postinst" configure >/dev/null 2>&1 || fail "the postinst failed when run again"
[ "$(stat -c '%a' /var/lib/lorvex)" = 3775 ] || fail "the mode after the override: $(stat -c '%a' /var/lib/lorvex)"

# The units: in place, none enabled, and each verified by the system manager
# as an instance (the programs they name must be installed; a test host
# without systemd's package skips that check).
units=/usr/lib/systemd/system
for unit in lorvex-gather@.service lorvex-gather@.timer lorvex-export@.service; do expect_file "$units/$unit"; done
! ls /etc/systemd/system/*.wants/lorvex-* >/dev/null 2>&1 || fail "the package enabled units: $(ls /etc/systemd/system/*.wants/)"
# The example log rotation, read by logrotate as it stands (the user it
# names exists now), with no log to rotate yet.
example=/usr/share/doc/lorvex-gathering/examples/lorvex
expect_file "$example"
if command -v logrotate >/dev/null; then
  logrotate -d -s "$scratch/logrotate.state" "$example" >"$scratch/logrotate.log" 2>&1 ||
    fail "logrotate refuses the example: $(cat "$scratch/logrotate.log")"
  ! grep -q '^error' "$scratch/logrotate.log" || fail "logrotate on the example: $(cat "$scratch/logrotate.log")"
else
  echo "logrotate is missing (scripts/bootstrap installs it): the example was not read"
fi
verify_unit() { # UNIT (an instance)
  SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$1" >"$scratch/verify.log" 2>&1 ||
    fail "systemd-analyze verify $1: $(cat "$scratch/verify.log")"
  ! grep -i -e 'lorvex' "$scratch/verify.log" || fail "systemd-analyze verify $1 warns: $(cat "$scratch/verify.log")"
}
if command -v systemd-analyze >/dev/null; then
  verify_unit "$units/lorvex-export@intranet.service"
  verify_unit "$units/lorvex-gather@intranet.timer"
  case "$programs" in
    *" lorvex-cycle "*) verify_unit "$units/lorvex-gather@intranet.service" ;;
    *) echo "lorvex-cycle is not built yet: lorvex-gather@.service verified by name only" ;;
  esac
else
  echo "systemd-analyze is missing (scripts/bootstrap installs systemd): units not verified"
fi

# The README's blocks as written, as root.
readme_blocks() { # SECTION
  awk -v section="## $1" '$0 == section { on = 1; next } on && /^## / { exit }
    on && /^```sh$/ { code = 1; next } code && /^```$/ { code = 0; next } code' "$readme"
}
readme_blocks "First day" >"$scratch/first-day.sh"
mkdir -p "$scratch/home"
status=0
(cd "$scratch/home" && HOME="$scratch/home" PATH=/usr/bin:/bin:/usr/sbin:/sbin MANPAGER=cat \
  bash -euo pipefail "$scratch/first-day.sh" >"$scratch/first-day.out" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the README's first day failed ($status): $(tail -n 40 "$scratch/first-day.out")"
own=/srv/gathering/gatherers/intranet
grep -q "^@FILE { file://$own/documents/welcome.html$" "$own/data/PRODUCTION.gdbm" ||
  fail "the first day's gatherer gathered nothing"
[ ! -e /var/lib/lorvex/.lxQ71K58R03lock ] || fail "the first day left the cycle lock"

# The second day and the outcomes need the cycle and status commands: once
# the build lists them, the package must hold them.
second_day() {
command -v lorvex-cycle >/dev/null && command -v lorvex-status >/dev/null || fail "the package lacks lorvex-cycle or lorvex-status"

readme_blocks "Second day" >"$scratch/second-day.sh"
grep -q 'lorvex-cycle' "$scratch/second-day.sh" || fail "the README's second day has no cycle: $(cat "$scratch/second-day.sh")"
status=0
(cd "$scratch/home" && HOME="$scratch/home" PATH=/usr/bin:/bin:/usr/sbin:/sbin \
  bash -euo pipefail "$scratch/second-day.sh" >"$scratch/second-day.out" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "the README's second day failed ($status): $(tail -n 40 "$scratch/second-day.out")"
# The cycle ran as the service user: what it made is the service user's.
[ "$(stat -c %U "$own/last-cycle")" = lorvex ] || fail "last-cycle: $(ls -l "$own")"
grep -q '^what=the search service was not told' "$own/last-cycle" || fail "last-cycle: $(cat "$own/last-cycle" 2>/dev/null)"

# The outcomes of a cycle as the service user, by its exit status.
settings=/etc/lorvex/gatherers/intranet.ini
python3 /usr/share/lorvex/demo/searchservice.py --port-file "$scratch/service.port" --reply 0 --connections 5 \
  --timeout 120 >"$scratch/service.log" 2>&1 &
peer=$!
for _ in $(seq 100); do [ -s "$scratch/service.port" ] || ! kill -0 "$peer" 2>/dev/null && break; sleep 0.1; done
[ -s "$scratch/service.port" ] || fail "the search-service peer did not start: $(cat "$scratch/service.log")"
told_registry="$scratch/told.reg"
sed -e "s|^\"CgiPortNo\"=dword:.*|\"CgiPortNo\"=dword:$(printf '%08x' "$(cat "$scratch/service.port")")|" \
  /etc/lorvex/registry.reg >"$told_registry"
chmod 644 "$told_registry"
chmod 755 "$scratch"
cycle() { # REGISTRY: the cycle command's status
  local got=0
  runuser -u lorvex -- env LORVEX_REGISTRY="$1" lorvex-cycle "$settings" >"$scratch/cycle.out" 2>"$scratch/cycle.err" ||
    got=$?
  echo "$got"
}
# case|registry|expected status|what last-cycle says of it
rows=(
  "a clean cycle|$told_registry|0|^what=clean; the search service was told$"
  "no search service|/etc/lorvex/registry.reg|1|^what=the search service was not told"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name registry expected message <<<"$row"
  got="$(cycle "$registry")"
  [ "$got" = "$expected" ] || fail "$name: status $got: $(tail -n 5 "$scratch/cycle.out" "$scratch/cycle.err")"
  grep -q "$message" "$own/last-cycle" || fail "$name: last-cycle: $(cat "$own/last-cycle")"
done

# lorvex-status, one line per gatherer: idle after a clean cycle, at work
# while its log is held, its daemon running, then a cycle lock left behind
# and a data directory that the .cf names otherwise, which need attention.
status_of() { # ARGS...: lorvex-status's exit status, its output kept
  local got=0
  lorvex-status --brief "$@" >"$scratch/status.out" 2>&1 || got=$?
  echo "$got"
}
expect_status() { # CASE EXPECTED-STATUS TEXT [ARGS...]
  local name="$1" expected="$2" text="$3" got
  shift 3
  got="$(status_of "$@")"
  [ "$got" = "$expected" ] || fail "lorvex-status, $name: exit status $got: $(cat "$scratch/status.out")"
  grep -qF -- "$text" "$scratch/status.out" || fail "lorvex-status, $name: $(cat "$scratch/status.out")"
}
got="$(cycle "$told_registry")"
[ "$got" = 0 ] || fail "a clean cycle before the status: $got"
expect_status "idle, every gatherer of the layout" 0 "intranet: cycle idle; daemon free;"
# A gatherer at work, as a launcher leaves it: its process id in
# Gatherer.pid and its log held open for writing, by a process of its own
# (never by this shell, whose descriptors the cycle would inherit).
(cd "$own" && exec bash -c 'echo $$ >Gatherer.pid && exec 9>>log.gatherer && echo held && exec sleep 600' holder) >"$scratch/holder" &
holder=$!
for _ in $(seq 100); do [ -s "$scratch/holder" ] || ! kill -0 "$holder" 2>/dev/null && break; sleep 0.1; done
[ -s "$scratch/holder" ] || fail "the log could not be held"
got="$(cycle "$told_registry")"
[ "$got" = 75 ] || fail "a gatherer at work: status $got: $(cat "$scratch/cycle.err")"
status_of "$settings" >/dev/null
grep -qF "intranet: cycle at work;" "$scratch/status.out" || fail "lorvex-status, at work: $(cat "$scratch/status.out")"
kill "$holder"
wait "$holder" 2>/dev/null || true
holder=""
rm -f "$own/Gatherer.pid"
# The export daemon, started as its unit starts it.
runuser -u lorvex -- LaunchServer "$settings" >/dev/null 2>&1 || fail "LaunchServer as lorvex"
expect_status "the daemon running" 0 "; daemon held;" "$settings"
runuser -u lorvex -- StopServer "$settings" FORCED >/dev/null 2>&1 || fail "StopServer as lorvex"
runuser -u lorvex -- touch /var/lib/lorvex/.lxQ71K58R03lock
expect_status "a lock left behind" 1 "; lock left behind (" "$settings"
rm -f /var/lib/lorvex/.lxQ71K58R03lock
echo "Data-Directory: /srv/gathering/gatherers/intranet/data2" >>"$own/intranet.cf"
expect_status "a drifted data directory" 1 "; warning: GATHERER_DATA" "$settings"
kill "$peer" 2>/dev/null || true
peer=""
}
case "$programs" in
  *" lorvex-cycle "*) second_day ;;
  *) echo "lorvex-cycle and lorvex-status are not built yet: the second day and the outcomes are left out" ;;
esac

# The purge: the directory goes, the user and group stay.
DEBIAN_FRONTEND=noninteractive dpkg --purge lorvex-gathering-standins lorvex-gathering >"$scratch/purge.log" 2>&1 ||
  fail "dpkg --purge: $(cat "$scratch/purge.log")"
[ ! -e /var/lib/lorvex ] || fail "the purge left /var/lib/lorvex: $(ls -la /var/lib/lorvex)"
getent passwd lorvex >/dev/null && getent group lorvex >/dev/null || fail "the purge removed the user or the group"
echo "installed, used as the README says, and purged: the service user, the directory, the units and the outcomes"
