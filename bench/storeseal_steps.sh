#!/bin/sh
# The children of one storeseal run in product start mode, in its order and
# with its command lines, started by a plain script: what storeseal's own cost
# is measured against. The lines storeseal gives to "cmd.exe /C" go to the
# same interpreter here (the statistics in two steps through a file, each
# checked by storeseal; its renames and removals are its own work).
# Usage: storeseal_steps.sh DATA_DIRECTORY CMD PACKDUMP (the tools that do
# nothing come from PATH, as they do for storeseal).
cd "$1" || exit 1
cmd="$2"
packdump="$3"
: >WORKING.gdbm
storetidy.exe WORKING.gdbm
storejoin.exe  storeseal.gdbm WORKING.gdbm  PRODUCTION.gdbm
keybuild.exe storeseal.gdbm INDEX.gdbm MD5.gdbm
"$packdump"
"$cmd" /C 'gzip -V > \nul 2> \nul'
"$cmd" /C 'gzip -d < All-Templates.gz > storeseal.out'
"$cmd" /C 'perl -S crawlstats.pl "gid" < storeseal.out > INFO.soif'
"$cmd" /C 'ridOrizIdor < INFO.soif > INFO_J.txt 2>&1'
