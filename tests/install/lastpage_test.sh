#!/usr/bin/env bash
# lastpage, which offers a program's last whole message page as a CGI
# response: for each stream a program may write, what goes to standard
# output (the response) and to standard error, and the exit status passed on.
# Arguments: LASTPAGE
. "$(dirname "$0")/common.sh"
lastpage="$1"

command -v perl >/dev/null || skip "perl is not installed (scripts/bootstrap installs it)"
# Pages as the programs write them, their text in Shift_JIS bytes.
page() { printf -v "$1" 'Content-Type: text/html\n\n<!-- %s -->\n<HTML><HEAD><TITLE>\x82\xa0</title></HEAD>\n</BODY></HTML>\n' "$2"; }
page told LXCM601-I
page down LXCM019-E
page locked LXCM016-E
page registry QTRM109-E
progress=$'storeseal: Using given directory: /srv/data\nstoreseal: Consolidating\n'
cut=$'Content-Type: text/html\n\n<!-- LXCM019-E -->\n<HTML><HEAD>'
inline=$'x Content-Type: text/html\n\n'
usage=$'usage: cyclerun ini_file\n'
no_page=$'Status: 502 Bad Gateway\nContent-Type: text/plain\n\nThe program wrote no message page.\n'

# case|the program's standard output|its exit status|the response|the rest
cases=(
  "progress, then the page|$progress$told|0|$told|$progress"
  "two pages: the last one|$registry$down|0|$down|$registry"
  "a whole page, then one cut off|$told$cut|0|$told|$cut"
  "a header inside a line is no page|$inline$locked|0|$locked|$inline"
  "no page at all, the status passed on|$usage|1|$no_page|$usage"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r -d '' name stream status expected rest < <(printf '%s' "$entry") || true
  printf '%s' "$stream" >"$scratch/stream"
  got=0
  "$lastpage" sh -c 'cat "$1"; exit "$2"' sh "$scratch/stream" "$status" >"$scratch/out" 2>"$scratch/err" || got=$?
  [ "$got" -eq "$status" ] || fail "$name: exit status $got"
  printf '%s' "$expected" | cmp -s - "$scratch/out" || fail "$name: answered $(cat -A "$scratch/out")"
  printf '%s' "$rest" | cmp -s - "$scratch/err" || fail "$name: standard error $(cat -A "$scratch/err")"
done

# The command line reaches no shell; a program that cannot be started, or
# none named, is said so without a path.
got=0
"$lastpage" "$scratch/missing; touch $scratch/touched" >"$scratch/out" 2>"$scratch/err" || got=$?
[ "$got" -eq 127 ] && [ ! -e "$scratch/touched" ] || fail "a missing program: status $got"
grep -qx 'The program could not be started.' "$scratch/out" && ! grep -q "$scratch" "$scratch/out" ||
  fail "a missing program: $(cat "$scratch/out")"
got=0
"$lastpage" >"$scratch/out" 2>"$scratch/err" || got=$?
[ "$got" -eq 2 ] && grep -q 'usage' "$scratch/err" || fail "no program: status $got, $(cat "$scratch/err")"
# The request's body, on lastpage's standard input, never reaches the
# program: it reads the null device.
printf 'body of the request' | "$lastpage" sh -c 'wc -c; printf "%s" "$1"' sh "$told" >"$scratch/out" 2>"$scratch/err" ||
  fail "reading standard input: status $?"
[ "$(tr -d ' \n' <"$scratch/err")" = 0 ] || fail "the program read $(cat "$scratch/err") bytes of the request's body"
echo "lastpage: ${#cases[@]} streams, the refusals and standard input"
