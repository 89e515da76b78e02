#!/usr/bin/env bash
# The Debian package: CPack makes it from the build, its control data names
# its dependencies, it holds the programs, manual pages, catalogue and sample
# registry under /usr, and unpacked into a scratch root it gives a working
# system: a gathering cycle runs from there.
# Arguments: BUILD_DIR STANDINS_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
standins="$(cd "$2" && pwd)"
. "$(dirname "$0")/common.sh"

command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed (scripts/bootstrap installs it)"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
debs=("$scratch"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no package: $(ls "$scratch/pkg")"
deb="${debs[0]}"

dpkg-deb --info "$deb" >"$scratch/info" || fail "dpkg-deb --info"
grep -qx ' Package: lorvex-gathering' "$scratch/info" || fail "package name: $(cat "$scratch/info")"
depends="$(sed -n 's/^ Depends: //p' "$scratch/info")"
for dependency in perl gzip libc6; do
  printf '%s' ", $depends," | grep -q ", $dependency[ ,]" || fail "Depends lacks $dependency: $depends"
done

dpkg-deb --contents "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$scratch/contents" || fail "dpkg-deb --contents"
for file in /usr/bin/cyclerun /usr/bin/cmd /usr/bin/storeseal /usr/share/man/man1/cyclerun.1 \
    /usr/share/man/man1/writesift.1 /usr/share/lorvex/lib/lorvex.msg /usr/share/lorvex/registry.reg \
    /usr/share/lorvex/lighttpd.conf /usr/share/lorvex/htdocs/Lorvex-doc/admin/GIF/head1.gif; do
  grep -qxF "$file" "$scratch/contents" || fail "the package lacks $file"
done
! grep -v '^/usr/' "$scratch/contents" | grep -qvx '/' || fail "files outside /usr: $(grep -v '^/usr/' "$scratch/contents")"

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
# The sample registry names where the package installs the catalogue; the
# unpacked copy sits below the scratch root.
grep -qxF '"Path00"="/usr/share/lorvex"' "$root/usr/share/lorvex/registry.reg" ||
  fail "Path00: $(grep Path00 "$root/usr/share/lorvex/registry.reg")"
inst="$root/usr/share/lorvex"
sed "s|^\"Path00\"=.*|\"Path00\"=\"$(sed_escape "$inst")\"|" "$inst/registry.reg" >"$scratch/registry.reg"
run_installed_cycle "$root/usr/bin" "$inst" "$scratch/registry.reg" "$standins"
echo "$(basename "$deb"): a cycle ran from its unpacked files"
