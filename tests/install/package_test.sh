#!/usr/bin/env bash
# The Debian packages: CPack makes the system's package and the stand-ins'
# package from the build; their control data name the maintainer setting
# and their dependencies; each holds its own files only, with compressed
# manual pages, a copyright file and a changelog; lintian reports no error
# and no warning on either; and unpacked together into a scratch root they
# run the demo gatherer's whole life.
# Arguments: BUILD_DIR
. "$(dirname "$0")/common.sh"
build="$(cd "$1" && pwd)"

command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed (scripts/bootstrap installs it)"
command -v lintian >/dev/null || skip "lintian is not installed (scripts/bootstrap installs it)"
cpack -G DEB --config "$build/CPackConfig.cmake" -D CPACK_STRIP_FILES=ON -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
maintainer="$(sed -n 's/^LORVEX_MAINTAINER:STRING=//p' "$build/CMakeCache.txt")"
[ -n "$maintainer" ] || fail "no LORVEX_MAINTAINER in the build's settings"

# check_package NAME DEPENDENCIES FILES...: the package's control data and
# contents; every file under /usr or /var/lib/lorvex.
check_package() {
  local name="$1" dependencies="$2" deb depends file
  shift 2
  deb="$(ls "$scratch"/pkg/"${name}"_*_amd64.deb 2>/dev/null || true)"
  [ -f "$deb" ] || fail "no package $name: $(ls "$scratch/pkg")"
  dpkg-deb --info "$deb" >"$scratch/$name.info" || fail "dpkg-deb --info $name"
  grep -qxF " Maintainer: $maintainer" "$scratch/$name.info" || fail "$name: maintainer: $(cat "$scratch/$name.info")"
  depends="$(sed -n 's/^ Depends: //p' "$scratch/$name.info")"
  for dependency in $dependencies; do
    printf '%s' ", $depends," | grep -q ", $dependency[ ,]" || fail "$name: Depends lacks $dependency: $depends"
  done
  dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$scratch/$name.contents" ||
    fail "dpkg-deb --contents $name"
  for file in "$@" "/usr/share/doc/$name/copyright" "/usr/share/doc/$name/changelog.Debian.gz"; do
    grep -qxF "$file" "$scratch/$name.contents" || fail "$name lacks $file"
  done
  ! grep -v -e '^/usr/' -e '^/var/lib/lorvex/' -e '^/var/lib/$' -e '^/var/$' -e '^/$' "$scratch/$name.contents" ||
    fail "$name: files outside /usr and /var/lib/lorvex"
  ! grep '^/usr/share/man/.*[^z]$' "$scratch/$name.contents" | grep -v '/$' || fail "$name: manual pages not compressed"
  dpkg-deb -x "$deb" "$scratch/root" || fail "dpkg-deb -x $name"
  lintian --tag-display-limit 0 --fail-on error,warning "$deb" >"$scratch/$name.lintian" 2>&1 ||
    fail "lintian on $name: $(cat "$scratch/$name.lintian")"
  ! grep -q '^[EW]: ' "$scratch/$name.lintian" || fail "lintian on $name: $(cat "$scratch/$name.lintian")"
}

check_package lorvex-gathering "perl adduser libc6" /usr/bin/cyclerun /usr/lib/lorvex/bin/cmd /usr/bin/storeseal \
  /usr/lib/lorvex/bin/lorvex-programs /usr/lib/lorvex/bin/storeseal \
  /usr/share/man/man1/cyclerun.1.gz /usr/share/man/man1/writesift.1.gz /usr/share/man/man7/lorvex.7.gz \
  /usr/share/man/man7/lorvex-units.7.gz /usr/share/man/man1/lastpage.1.gz /usr/lib/systemd/system/lorvex-gather@.service \
  /usr/lib/systemd/system/lorvex-gather@.timer /usr/lib/systemd/system/lorvex-export@.service \
  /usr/share/doc/lorvex-gathering/examples/lorvex \
  /usr/share/lorvex/lib/lorvex.msg /usr/share/lorvex/registry.reg /usr/share/lorvex/lighttpd.conf \
  /usr/share/lorvex/lastpage /usr/share/lorvex/htdocs/Lorvex-doc/admin/GIF/head1.gif /var/lib/lorvex/lib \
  /usr/share/lorvex/refusals/status-401.html
check_package lorvex-gathering-standins "lorvex-gathering perl python3" /usr/bin/lorvex-demo \
  /usr/lib/lorvex/standins/essence /usr/lib/lorvex/standins/Gatherer /usr/lib/lorvex/standins/exportd \
  /usr/share/lorvex/demo/gatherers/demo/demo.cf /usr/share/man/man1/lorvex-demo.1.gz /usr/share/man/man1/exportclient.1.gz \
  /usr/share/man/man7/lorvex-standins.7.gz
# The system's package makes the service user and removes its directory on
# purge: its maintainer scripts are there; the stand-ins' recommend the
# converter of the document filter, the system htpasswd.
for script in postinst prerm postrm; do
  grep -qE "lines +\* +$script " "$scratch/lorvex-gathering.info" ||
    fail "lorvex-gathering has no $script: $(cat "$scratch/lorvex-gathering.info")"
done
grep -qx ' Recommends: poppler-utils' "$scratch/lorvex-gathering-standins.info" ||
  fail "the stand-ins do not recommend poppler-utils"
# htpasswd makes the administration pages' password file.
grep -qx ' Recommends: apache2-utils' "$scratch/lorvex-gathering.info" ||
  fail "the system does not recommend apache2-utils"
# Each file in one package only; the stand-ins never among the programs.
sort "$scratch"/*.contents | grep -v '/$' | uniq -d >"$scratch/twice"
[ ! -s "$scratch/twice" ] || fail "in both packages: $(cat "$scratch/twice")"
[ "$(grep '^/usr/bin/.*[^/]$' "$scratch/lorvex-gathering-standins.contents")" = /usr/bin/lorvex-demo ] ||
  fail "the stand-ins' package puts programs into /usr/bin"

# The generic name cmd stays out of /usr/bin; every name there has its page.
! grep -qx '/usr/bin/cmd' "$scratch/lorvex-gathering.contents" || fail "cmd in /usr/bin"
for name in $(grep '^/usr/bin/.*[^/]$' "$scratch/lorvex-gathering.contents"); do
  grep -qxF "/usr/share/man/man1/${name##*/}.1.gz" "$scratch/lorvex-gathering.contents" || fail "$name has no manual page"
done
# The system's package stays small.
size="$(stat -c %s "$scratch"/pkg/lorvex-gathering_*_amd64.deb)"
[ "$size" -lt $((3 * 1024 * 1024)) ] || fail "the system's package has $size bytes"

root="$scratch/root"
# The programs carry the C++ runtime (a start loads no shared C++ library),
# and are no fully static program; the registry names the writable
# installation directory, whose lib reaches the read-only one.
readelf -d "$root/usr/lib/lorvex/bin/lorvex-programs" >"$scratch/dynamic" || fail "readelf on the program file"
! grep -q 'NEEDED.*\(libstdc++\|libgcc_s\)' "$scratch/dynamic" || fail "the programs load a shared C++ runtime"
grep -q 'NEEDED.*libc\.so' "$scratch/dynamic" || fail "the programs are fully static"
grep -qxF '"Path00"="/var/lib/lorvex"' "$root/usr/share/lorvex/registry.reg" ||
  fail "Path00: $(grep Path00 "$root/usr/share/lorvex/registry.reg")"
[ "$(readlink "$root/var/lib/lorvex/lib")" = /usr/share/lorvex/lib ] || fail "/var/lib/lorvex/lib: $(ls -l "$root/var/lib/lorvex")"
zcat "$root/usr/share/doc/lorvex-gathering/changelog.Debian.gz" | grep -qF -- "-- $maintainer  " ||
  fail "the changelog is not signed by the maintainer"

# The two packages' files work together: the demo's whole life from the
# unpacked root.
status=0
PATH="/usr/bin:/bin" "$root/usr/bin/lorvex-demo" "$scratch/demo" >"$scratch/demo.out" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "lorvex-demo exited with $status: $(tail -n 30 "$scratch/demo.out")"
echo "$(cd "$scratch/pkg" && ls *.deb | paste -sd ' '): lintian-clean; the demo ran from their files"
