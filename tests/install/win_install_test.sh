#!/usr/bin/env bash
# The Windows build installed into a folder (and packed as a .zip) holds the
# .exe files, the catalogue, the page's images, an importable .reg file and
# the guide that it points to, in a form Notepad shows in any code page, and
# nothing a Windows installation does not use; a program runs from that
# folder under Wine, without anything of the build tree.
# Arguments: WIN_BUILD_DIR WINEPREFIX
. "$(dirname "$0")/common.sh"
build="$(cd "$1" && pwd)"
wineprefix="$2"

folder="$scratch/Lorvex"
install_build "$folder"
programs="$(cd "$folder/bin" && ls | LC_ALL=C sort | paste -sd ' ')"
expected="LaunchCrawler.exe LaunchServer.exe StopServer.exe cyclerun.exe freelancesift.exe htmlsift.exe htmlsift2.exe"
expected+=" ichitarosift.exe lotus123sift.exe packdump.exe pdfsift.exe ppointsift.exe rtfsift.exe skim.exe storeseal.exe"
expected+=" wordsift.exe writesift.exe"
[ "$programs" = "$expected" ] || fail "installed programs: $programs"
expect_file "$folder/lib/lorvex.msg"
expect_file "$folder/htdocs/Lorvex-doc/admin/GIF/foot2.gif"
head -n 1 "$folder/lorvex.reg" | grep -qx $'REGEDIT4\r' || fail "lorvex.reg is no registry-editor file"
grep -qxF $'"Path00"="C:\\\\Lorvex"\r' "$folder/lorvex.reg" || fail "Path00: $(grep Path00 "$folder/lorvex.reg")"
# Perl and gzip are found along the search path, wherever they are installed.
! grep -q '^"\(PerlPath\|GzipPath\)"=' "$folder/lorvex.reg" || fail "lorvex.reg names Perl or gzip"
grep -q '^;.*README\.txt' "$folder/lorvex.reg" || fail "lorvex.reg does not point to README.txt: $(cat "$folder/lorvex.reg")"
# The guide: ASCII only, every line ended by CR LF, its version filled in.
guide="$folder/README.txt"
expect_file "$guide"
! LC_ALL=C grep -n '[^[:print:][:space:]]' "$guide" || fail "README.txt holds bytes other than ASCII"
! grep -n -v $'\r$' "$guide" || fail "README.txt has lines without CR LF"
! grep -n '@' "$guide" || fail "README.txt has a placeholder left"
# The catalogue says what it is, not that it is the demo's.
! head -n 5 "$folder/lib/lorvex.msg" | grep -i demo || fail "the catalogue's header names the demo"

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$scratch/cpack.log")"
zip="$scratch/pkg/Lorvex.zip"
expect_file "$zip"
python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip" >"$scratch/zip.list"
for file in bin/cyclerun.exe bin/skim.exe lib/lorvex.msg lorvex.reg README.txt; do
  grep -qx "Lorvex/$file" "$scratch/zip.list" || fail "the .zip lacks $file: $(cat "$scratch/zip.list")"
done
# Nothing else: no POSIX web server's setup, no page wrapper.
! grep -v -x -e 'Lorvex/bin/[^/]*\.exe' -e 'Lorvex/lib/lorvex\.msg' -e 'Lorvex/htdocs/.*' -e 'Lorvex/lorvex\.reg' \
  -e 'Lorvex/README\.txt' -e 'Lorvex/\([a-z]*/\)\{0,1\}' "$scratch/zip.list" || fail "the .zip holds what Windows does not use"

# skim from the installed folder, on a document of its own: a paragraph cut
# after its first sentence.
printf '.PP\nThe first sentence.\nThe second one.\n.PP\nMore.\n' >"$scratch/doc.ms"
status=0
(cd "$scratch" && WINEPREFIX="$wineprefix" WINEDEBUG=-all setarch -R wine "$folder/bin/skim.exe" doc.ms \
  >"$scratch/out" 2>"$scratch/err") || status=$?
[ "$status" -eq 0 ] || fail "skim.exe exited with $status: $(cat "$scratch/err")"
[ "$(tr -d '\r' <"$scratch/out")" = "$(printf '.PP\nThe first sentence.\n...\n.PP\nMore.\n...')" ] ||
  fail "skim.exe wrote: $(cat -A "$scratch/out")"
echo "installed into $folder and packed as $(basename "$zip"); skim.exe ran from there"
