#!/usr/bin/env bash
# The message page on the web, as the README offers it: its lighttpd
# configuration and CGI entry script, with the installed lighttpd.conf and
# lastpage, run LaunchCrawler for a gatherer whose cycle ends with storeseal
# and tells a search-service peer on 127.0.0.1. lighttpd starts with no
# warning; the response is the cycle's last page, byte for byte as run
# directly, without storeseal's progress lines or a path of the server;
# arguments in the request reach no command line; every image of the page is
# served; headless Chromium shows the Shift_JIS message correctly decoded.
# The screenshot is kept in ARTEFACT_DIR.
# Arguments: BUILD_DIR ARTEFACT_DIR README
. "$(dirname "$0")/common.sh"
build="$(cd "$1" && pwd)"
mkdir -p "$2"
artefacts="$(cd "$2" && pwd)"
readme="$3"

lighttpd="$(command -v lighttpd || true)"
[ -n "$lighttpd" ] || [ ! -x /usr/sbin/lighttpd ] || lighttpd=/usr/sbin/lighttpd
[ -n "$lighttpd" ] || skip "lighttpd is not installed (scripts/bootstrap installs it from Debian's packages)"
browser="$(command -v chromium || true)"
[ -n "$browser" ] || skip "chromium is not installed (scripts/bootstrap installs it from Debian's packages)"
command -v curl >/dev/null || skip "curl is not installed (scripts/bootstrap installs it)"

# The installed tree; the README's paths turned into the scratch ones.
usr="$scratch/usr"
install_build "$usr"
# The code blocks of a README section in one language; a search path keeps
# the system's folders after the installed programs.
readme_block() { # SECTION LANGUAGE
  awk -v section="## $1" -v fence="\`\`\`$2" '$0 == section { on = 1; next } on && /^## / { exit }
    on && $0 == fence { code = 1; next } code && /^```$/ { code = 0; next } code' "$readme" |
    sed -e "s|=/usr/bin:|=@BIN@:/usr/bin:|" -e "s|/usr/|$(sed_escape "$usr")/|g" \
      -e "s|/etc/lorvex|$(sed_escape "$scratch")/etc/lorvex|g" -e "s|/srv/|$(sed_escape "$scratch")/srv/|g" \
      -e "s|@BIN@|$(sed_escape "$usr")/bin|"
}

# The gatherer of the README's first day, its registry naming a search-service
# peer that answers every request.
home="$scratch/srv/gathering"
mkdir -p "$home/lib" "$home/gatherers/intranet/documents" "$scratch/etc/lorvex/cgi-bin"
ln -s "$usr/lib/lorvex/standins" "$home/lib/gatherer"
cp "$usr/share/lorvex/demo/gatherers/demo/documents/guide.html" "$home/gatherers/intranet/documents/welcome.html"
printf 'Gatherer-Name: intranet\nURL: file:documents/welcome.html\nURL: http://www.example.jp/\n' \
  >"$home/gatherers/intranet/intranet.cf"
mkdir -p "$scratch/etc/lorvex/gatherers"
printf 'KESTREL_HOME=%s\nGATHERER_NAME=intranet\nLXG_STARTMODE=LX\n' "$home" >"$scratch/etc/lorvex/gatherers/intranet.ini"
python3 "$usr/share/lorvex/demo/searchservice.py" --port-file "$scratch/service.port" --reply 0 --connections 20 \
  --timeout 120 >"$scratch/service.log" 2>&1 &
peer=$!
stop_peer() { kill "$peer" 2>/dev/null || true; }
on_exit+=(stop_peer)
for _ in $(seq 100); do [ -s "$scratch/service.port" ] || ! kill -0 "$peer" 2>/dev/null && break; sleep 0.1; done
[ -s "$scratch/service.port" ] || fail "the search-service peer did not start: $(cat "$scratch/service.log")"
sed -e "s|^\"CgiPortNo\"=dword:.*|\"CgiPortNo\"=dword:$(printf '%08x' "$(cat "$scratch/service.port")")|" \
  "$usr/share/lorvex/registry.reg" >"$scratch/etc/lorvex/registry.reg"

# The README's entry script (sanitizer settings passed on to the programs).
entry="$scratch/etc/lorvex/cgi-bin/intranet"
readme_block "The message page on the web" sh >"$entry"
grep -q 'lastpage LaunchCrawler' "$entry" || fail "the README offers no entry script: $(cat "$entry")"
sed -i "2i export ASAN_OPTIONS='${ASAN_OPTIONS:-}' UBSAN_OPTIONS='${UBSAN_OPTIONS:-}'" "$entry"
chmod +x "$entry"

# What the entry answers, run directly: the page of a cycle that told the
# service, after storeseal's progress lines, which went to standard error.
env -i "$entry" >"$scratch/direct" 2>"$scratch/direct.err" || fail "the entry script exited with $?: $(cat "$scratch/direct.err")"
grep -q '^<!-- LXCM601-I -->$' "$scratch/direct" || fail "not the cycle's page: $(cat "$scratch/direct" "$scratch/direct.err")"
grep -q '^storeseal: Using given directory: ' "$scratch/direct.err" || fail "storeseal did not run: $(cat "$scratch/direct.err")"
printf 'Content-Type: text/html\n\n' >"$scratch/header"
head -c "$(wc -c <"$scratch/header")" "$scratch/direct" | cmp -s - "$scratch/header" ||
  fail "the response does not begin with the CGI header"
tail -c +"$(($(wc -c <"$scratch/header") + 1))" "$scratch/direct" >"$scratch/expected-body"

# The server, on a free port of 127.0.0.1, configured as the README says; a
# port taken meanwhile is tried again.
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
  {
    printf 'server.errorlog = "%s"\nserver.pid-file = "%s"\n' "$scratch/error.log" "$scratch/lighttpd.pid"
    printf 'server.modules = ( "mod_accesslog" )\naccesslog.filename = "%s"\naccesslog.format = "%%s %%U"\n' \
      "$scratch/access.log"
    # The service user is the package's: this test's tree runs without it.
    readme_block "The message page on the web" conf | sed -e "s|^server.port = .*|server.port = $port|" \
      -e "s|^server.breakagelog = .*|server.breakagelog = \"$scratch/pages.log\"|" \
      -e '/^server\.\(username\|groupname\) = "lorvex"$/d'
  } >"$scratch/lighttpd.conf"
  grep -q 'include ".*/lighttpd.conf"' "$scratch/lighttpd.conf" || fail "the README offers no configuration"
  "$lighttpd" -tt -f "$scratch/lighttpd.conf" >"$scratch/check.log" 2>&1 ||
    fail "lighttpd refuses the configuration: $(cat "$scratch/check.log")"
  [ ! -s "$scratch/check.log" ] || fail "lighttpd warns about the configuration: $(cat "$scratch/check.log")"
  rm -f "$scratch/error.log"
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
# It started with nothing to say but that.
started="$(grep -v ') server started (' "$scratch/error.log" || true)"
[ -z "$started" ] && [ ! -s "$scratch/server.log" ] || fail "lighttpd warned at its start: $started $(cat "$scratch/server.log")"
url="http://127.0.0.1:$port/cgi-bin/intranet"

# The response: status 200, the page's header and its very bytes, nothing of
# the progress lines or the server's paths; the same when the request
# carries would-be arguments.
for request in "$url" "$url?--help+x" "$url?a=b%20c"; do
  status="$(curl -s -D "$scratch/headers" -o "$scratch/body" -w '%{http_code}' "$request")" || fail "curl $request"
  [ "$status" = 200 ] || fail "$request: status $status: $(cat "$scratch/headers" "$scratch/error.log")"
  grep -qi '^Content-Type: text/html' "$scratch/headers" || fail "$request: content type: $(cat "$scratch/headers")"
  cmp -s "$scratch/body" "$scratch/expected-body" || fail "$request: not the cycle's page: $(head -c 600 "$scratch/body")"
done
! grep -q -e 'storeseal' -e "$scratch" "$scratch/body" "$scratch/headers" || fail "the response leaks progress lines or paths"

# Only requests addressed to this host, and from no other site, run an
# entry script: the others get 403 and start no cycle.
# case|expected status|curl's header options
requests=(
  "localhost and the port|200|-H|Host: localhost:$port|-H|Origin: http://localhost:$port"
  "the browser's own navigation|200|-H|Sec-Fetch-Site: none"
  "a name rebound to the loopback|403|-H|Host: intranet.example.jp:$port"
  "the loopback with another port|403|-H|Host: 127.0.0.1:1"
  "no Host at all|403|-0|-H|Host:"
  "an image tag of another site|403|-H|Sec-Fetch-Site: cross-site"
  "another port of this host|403|-H|Sec-Fetch-Site: same-site"
  "a form of another site|403|-H|Origin: http://intranet.example.jp|-H|Sec-Fetch-Site: cross-site"
  "a foreign Origin alone|403|-H|Origin: http://127.0.0.1:1"
  "an opaque Origin|403|-H|Origin: null"
)
refused=0
for entry in "${requests[@]}"; do
  IFS='|' read -r -a fields <<<"$entry"
  cycles="$(grep -c 'cyclerun ended' "$home/gatherers/intranet/log.gatherer")"
  status="$(curl -s -o "$scratch/body" -w '%{http_code}' "${fields[@]:2}" "$url")" || fail "${fields[0]}: curl"
  [ "$status" = "${fields[1]}" ] || fail "${fields[0]}: status $status: $(head -c 300 "$scratch/body")"
  after="$(grep -c 'cyclerun ended' "$home/gatherers/intranet/log.gatherer")"
  if [ "$status" = 403 ]; then
    refused=$((refused + 1))
    [ "$after" -eq "$cycles" ] || fail "${fields[0]}: a cycle ran"
  else
    cmp -s "$scratch/body" "$scratch/expected-body" || fail "${fields[0]}: not the cycle's page"
  fi
done

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
case "$body" in *検索サービスに通知しました*) ;; *) fail "the catalogue's text is not the expected one: $body" ;; esac
for text in "<title>Lorvex メッセージ</title>" "<h2>メッセージ</h2>" ">LXCM601-I:</td>" ">$body</td>" 'value="戻る"'; do
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
[ "$(grep -c '^403 /cgi-bin/intranet$' "$scratch/access.log")" -eq "$refused" ] ||
  fail "the refusals: $(cat "$scratch/access.log")"
failed="$(grep -v -e '^200 ' -e '^403 /cgi-bin/intranet$' -e ' /favicon.ico$' -e ' /ready$' "$scratch/access.log" || true)"
[ -z "$failed" ] || fail "failed requests: $failed"
echo "the README's page came through lighttpd as the cycle wrote it; Chromium shows: $body"
