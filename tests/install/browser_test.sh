#!/usr/bin/env bash
# The message page for real: lighttpd with mod_cgi on 127.0.0.1, configured
# with the embedded installation's lighttpd.conf, runs cyclerun as a CGI
# program; the response has the status and the very bytes the program writes
# (its CGI header taken by the server), every image of the page is served,
# and headless Chromium shows the Shift_JIS message correctly decoded. The
# screenshot is kept in ARTEFACT_DIR.
# Arguments: BIN_DIR DEMO_DIR ARTEFACT_DIR
set -euo pipefail
bin="$(cd "$1" && pwd)"
demo="$(cd "$2" && pwd)"
mkdir -p "$3"
artefacts="$(cd "$3" && pwd)"
. "$(dirname "$0")/common.sh"

lighttpd="$(command -v lighttpd || true)"
[ -n "$lighttpd" ] || [ ! -x /usr/sbin/lighttpd ] || lighttpd=/usr/sbin/lighttpd
[ -n "$lighttpd" ] || skip "lighttpd is not installed (scripts/bootstrap installs it from Debian's packages)"
browser="$(command -v chromium || true)"
[ -n "$browser" ] || skip "chromium is not installed (scripts/bootstrap installs it from Debian's packages)"
command -v curl >/dev/null || skip "curl is not installed (scripts/bootstrap installs it)"

# A cycle whose notice finds the cycle lock taken: cyclerun's only output is
# the catalogue's message LXC_MSG_016 as a CGI response. The pipeline copies
# the URL input to the null device; KESTREL_DEBUG keeps the per-run files, so
# that every request runs the same cycle.
inst="$scratch/inst"
work="$scratch/gatherer"
mkdir -p "$inst/lib" "$work/data" "$scratch/cgi-bin"
cp "$demo/lib/lorvex.msg" "$inst/lib/"
: >"$inst/.lxQ71K58R03lock"
printf 'http://www.example.jp/\n' >"$work/gatherinput"
cat >"$work/cyclerun.ini" <<INI
Gatherer-Name=demo
Working-Directory=$work
Data-Directory=$work/data
KESTREL_DEBUG=1
seedcmd=type
essencecmd=type > nul
INI
sed -e "s|@INSTALL_DIR@|$(sed_escape "$inst")|" "$demo/registry.reg" >"$scratch/registry.reg"

# The CGI program: the server gives it a small environment of its own.
cat >"$scratch/cgi-bin/message" <<CGI
#!/bin/sh
cd '$work' || exit 1
LORVEX_REGISTRY='$scratch/registry.reg' PATH='$bin:/usr/bin:/bin' \
ASAN_OPTIONS='${ASAN_OPTIONS:-}' UBSAN_OPTIONS='${UBSAN_OPTIONS:-}' \
exec '$bin/cyclerun' cyclerun.ini 2>>'$scratch/cgi.err'
CGI
chmod +x "$scratch/cgi-bin/message"

# What the program writes, run directly.
"$scratch/cgi-bin/message" >"$scratch/direct" || fail "cyclerun exited with $?: $(cat "$scratch/cgi.err")"
grep -q '^<TD ALIGN="left">LXCM016-E:</TD>$' "$scratch/direct" || fail "not the lock message: $(cat "$scratch/direct")"
printf 'Content-Type: text/html\n\n' >"$scratch/header"
head -c "$(wc -c <"$scratch/header")" "$scratch/direct" | cmp -s - "$scratch/header" ||
  fail "the response does not begin with the CGI header"
tail -c +"$(($(wc -c <"$scratch/header") + 1))" "$scratch/direct" >"$scratch/expected-body"

# The server, on a free port of 127.0.0.1; a port taken meanwhile is tried again.
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
on_exit+=(stop_server)
for attempt in 1 2 3; do
  port="$(free_port)"
  cat >"$scratch/lighttpd.conf" <<CONF
var.lorvex_dir = "$demo"
var.lorvex_cgi_dir = "$scratch/cgi-bin"
server.port = $port
server.errorlog = "$scratch/error.log"
server.pid-file = "$scratch/lighttpd.pid"
server.modules = ( "mod_accesslog" )
accesslog.filename = "$scratch/access.log"
accesslog.format = "%s %U"
include "$demo/lighttpd.conf"
CONF
  "$lighttpd" -tt -f "$scratch/lighttpd.conf" >"$scratch/check.log" 2>&1 ||
    fail "lighttpd refuses the configuration: $(cat "$scratch/check.log")"
  "$lighttpd" -D -f "$scratch/lighttpd.conf" >"$scratch/server.log" 2>&1 &
  server_pid=$!
  up=no
  for _ in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/ready"; then up=yes; break; fi
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ "$up" = yes ] && break
  stop_server
  server_pid=""
done
[ -n "$server_pid" ] || fail "lighttpd did not start: $(cat "$scratch/server.log" "$scratch/error.log" 2>/dev/null)"
url="http://127.0.0.1:$port/cgi-bin/message"

# The response: status 200, the header the program gave, the body unchanged.
status="$(curl -s -D "$scratch/headers" -o "$scratch/body" -w '%{http_code}' "$url")" || fail "curl $url"
[ "$status" = 200 ] || fail "status $status: $(cat "$scratch/headers" "$scratch/error.log")"
grep -qi '^Content-Type: text/html' "$scratch/headers" || fail "content type: $(cat "$scratch/headers")"
cmp -s "$scratch/body" "$scratch/expected-body" || fail "the page's bytes changed on their way"

# The browser: the page's text as Chromium decodes it, and a screenshot.
profile="$scratch/profile"
mkdir -p "$profile"
flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking
  --disable-component-update --disable-sync --user-data-dir="$profile" --window-size=800,400)
timeout 120 "$browser" "${flags[@]}" --screenshot="$artefacts/message-page.png" --dump-dom "$url" \
  >"$scratch/dom.html" 2>"$scratch/browser.log" || fail "chromium: $(tail -n 20 "$scratch/browser.log")"
[ -s "$scratch/dom.html" ] || fail "chromium dumped no DOM: $(tail -n 20 "$scratch/browser.log")"
expect_file "$artefacts/message-page.png"

# The message's body as the page carries it, in UTF-8: the browser must show
# exactly this text.
body="$(LC_ALL=C sed -n 's|^<TD ALIGN="left">\([^<]*\)</TD>$|\1|p' "$scratch/expected-body" | sed -n 2p | iconv -f CP932 -t UTF-8)"
case "$body" in *ほかの収集処理が*) ;; *) fail "the catalogue's text is not the expected one: $body" ;; esac
for text in "<title>Lorvex メッセージ</title>" "<h2>メッセージ</h2>" ">LXCM016-E:</td>" ">$body</td>" 'value="戻る"'; do
  grep -qF "$text" "$scratch/dom.html" || fail "Chromium's DOM lacks $text: $(cat "$scratch/dom.html")"
done
# Every image of the page was fetched (the server writes its access log out
# when it stops) from the server and found.
stop_server
server_pid=""
for image in bk head1 head2 head3 foot2; do
  grep -qx "200 /Lorvex-doc/admin/GIF/$image.gif" "$scratch/access.log" ||
    fail "image $image.gif not served: $(cat "$scratch/access.log")"
done
# (The browser asks for a site icon of its own accord; the page names none.
# /ready is the probe that waited for the server.)
failed="$(grep -v -e '^200 ' -e ' /favicon.ico$' -e ' /ready$' "$scratch/access.log" || true)"
[ -z "$failed" ] || fail "failed requests: $failed"
echo "the message page came through lighttpd unchanged; Chromium shows: $body"
