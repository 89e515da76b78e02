#!/usr/bin/env bash
# The manual pages: one for every program; every page (the programs', the
# overview lorvex(7) and the demo's) renders with no warning from groff -ww,
# mandoc -T lint and man -l; and each program's synopsis says what its usage
# text says (without the ".exe" of the Windows name; the Japanese usage word
# "file" in English; storeseal's option as the program takes it). The programs are the build's list of them, which is
# all that bin/ holds beside their one program file.
# Arguments: MAN_DIR BIN_DIR PROGRAM...
. "$(dirname "$0")/common.sh"
man_dir="$(cd "$1" && pwd)"
bin="$(cd "$2" && pwd)"
shift 2
programs=("$@")

for tool in groff mandoc man; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/bootstrap installs it)"
done

pages=("$man_dir"/man1/*.1 "$man_dir"/man7/*.7)
for page in "${pages[@]}"; do
  name="$(basename "$page")"
  groff -ww -man -z "$page" >"$scratch/groff" 2>&1 || fail "groff failed on $name"
  [ ! -s "$scratch/groff" ] || fail "groff -ww on $name: $(cat "$scratch/groff")"
  mandoc -T lint "$page" >"$scratch/mandoc" 2>&1 || true
  [ ! -s "$scratch/mandoc" ] || fail "mandoc -T lint on $name: $(cat "$scratch/mandoc")"
  MANWIDTH=200 LANG=C.UTF-8 man -l "$page" >/dev/null 2>"$scratch/man.err" || fail "man -l $name"
  [ ! -s "$scratch/man.err" ] || fail "man -l on $name: $(cat "$scratch/man.err")"
  # Every page but the overview points to it.
  [ "$name" = lorvex.7 ] || grep -q '^\.BR lorvex (7),\{0,1\}$' "$page" || fail "$name does not point to lorvex(7)"
done

[ "$(ls "$bin" | LC_ALL=C sort | paste -sd ' ')" = \
  "$(printf '%s\n' "${programs[@]}" lorvex-programs | LC_ALL=C sort | paste -sd ' ')" ] ||
  fail "bin/ holds $(ls "$bin" | paste -sd ' '); the build lists ${programs[*]} and their file lorvex-programs"
for program in "${programs[@]}"; do
  program_path="$bin/$program"
  page="$man_dir/man1/$program.1"
  expect_file "$page"
  MANWIDTH=200 LANG=C.UTF-8 man -l "$page" >"$scratch/rendered" 2>/dev/null || fail "man -l $program.1"

  # The usage text, as --help writes it on standard output: in the
  # terminal's character set, here UTF-8.
  LC_ALL=C.UTF-8 "$program_path" --help </dev/null >"$scratch/usage.out" 2>"$scratch/usage.err" ||
    fail "$program --help: $(cat "$scratch/usage.err")"
  usage="$(sed -n -e 's/^.*Usage: //p' -e 's/^使用法: //p' <"$scratch/usage.out" | head -n 1)"
  [ -n "$usage" ] || fail "$program wrote no usage text"
  usage="$(printf '%s' "$usage" | sed -E -e 's/^([^ ]+)(\[\.exe\]|\.exe)( |$)/\1\3/' -e 's/\.$//' -e 's/ファイル/file/')"
  synopsis="$(sed -n '/^SYNOPSIS$/,/^[A-Z]/{/^  */p}' "$scratch/rendered" | sed -E 's/^ +//; s/ +/ /g' | paste -sd ' ')"
  # The one exception: storeseal's usage text spells its option otherwise
  # than the one spelling it takes, and the page shows the option that works.
  if [ "$program" = storeseal ]; then
    [ "$synopsis" = "${usage/--save-space/--save-spase}" ] || fail "storeseal.1: synopsis \"$synopsis\", usage \"$usage\""
    continue
  fi
  [ "$synopsis" = "$usage" ] || fail "$program.1: synopsis \"$synopsis\", usage \"$usage\""
done
echo "${#pages[@]} manual pages render cleanly; ${#programs[@]} programs have one"
