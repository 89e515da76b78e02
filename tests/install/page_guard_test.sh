#!/usr/bin/env bash
# The administration pages answer only an administrator: lighttpd with the
# shipped lighttpd.conf runs a CGI entry script only for a request with a
# name and password of the password file. Without the file, without a
# password or with a wrong one, the answer is 401 with the page that says how
# to make the file, and nothing runs; the guard against other sites still
# answers first; the message page's images need no password.
# Arguments: DEMO_DIR (the installation's files: lighttpd.conf, htdocs, refusals)
. "$(dirname "$0")/common.sh"
demo="$(cd "$1" && pwd)"

lighttpd="$(command -v lighttpd || true)"
[ -n "$lighttpd" ] || [ ! -x /usr/sbin/lighttpd ] || lighttpd=/usr/sbin/lighttpd
[ -n "$lighttpd" ] || skip "lighttpd is not installed (scripts/bootstrap installs it from Debian's packages)"
command -v curl >/dev/null || skip "curl is not installed (scripts/bootstrap installs it)"

cgi="$scratch/cgi-bin"
mkdir -p "$cgi"
cat >"$cgi/entry" <<END
#!/bin/sh
echo ran >>"$scratch/ran"
printf 'Content-Type: text/html\n\n<p>the entry</p>\n'
END
chmod +x "$cgi/entry"
passwords="$scratch/pages.htpasswd"

# A password line as htpasswd -B makes it, or a crypt(3) one lighttpd reads
# as well where apache2-utils is not installed.
add_administrator() { # NAME PASSWORD
  if command -v htpasswd >/dev/null; then
    local create=()
    [ -e "$passwords" ] || create=(-c)
    htpasswd "${create[@]}" -b -B "$passwords" "$1" "$2" 2>/dev/null
  else
    printf '%s:%s\n' "$1" "$(perl -e 'print crypt($ARGV[0], q($6$) . join("", map { (q(a) .. q(z))[rand 26] } 1 .. 16) . q($))' "$2")" >>"$passwords"
  fi
}

server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=""
}
on_exit+=(stop_server)
start_server() {
  for attempt in 1 2 3; do
    port="$(free_port)"
    cat >"$scratch/lighttpd.conf" <<END
server.errorlog = "$scratch/error.log"
server.pid-file = "$scratch/lighttpd.pid"
var.lorvex_dir = "$demo"
var.lorvex_cgi_dir = "$cgi"
var.lorvex_passwords = "$passwords"
server.port = $port
include "$demo/lighttpd.conf"
END
    "$lighttpd" -tt -f "$scratch/lighttpd.conf" >"$scratch/check.log" 2>&1 ||
      fail "lighttpd refuses the configuration: $(cat "$scratch/check.log")"
    [ ! -s "$scratch/check.log" ] || fail "lighttpd warns about the configuration: $(cat "$scratch/check.log")"
    "$lighttpd" -D -f "$scratch/lighttpd.conf" >"$scratch/server.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
      curl -s -o /dev/null "http://127.0.0.1:$port/ready" && return 0
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop_server
  done
  fail "lighttpd did not start: $(cat "$scratch/server.log" "$scratch/error.log" 2>/dev/null)"
}

runs() { if [ -e "$scratch/ran" ]; then wc -l <"$scratch/ran"; else echo 0; fi; }

# case|expected status|whether the entry runs|curl's options
check() {
  local entry fields status runs_before runs_after
  for entry in "$@"; do
    IFS='|' read -r -a fields <<<"$entry"
    runs_before="$(runs)"
    status="$(curl -s -o "$scratch/body" -w '%{http_code}' "${fields[@]:3}" "http://127.0.0.1:$port${path:-/cgi-bin/entry}")" ||
      fail "${fields[0]}: curl"
    [ "$status" = "${fields[1]}" ] || fail "${fields[0]}: status $status: $(head -c 400 "$scratch/body")"
    runs_after="$(runs)"
    [ "$((runs_after - runs_before))" = "${fields[2]}" ] || fail "${fields[0]}: the entry ran $((runs_after - runs_before)) times"
    if [ "${fields[2]}" = 1 ]; then
      grep -qx '<p>the entry</p>' "$scratch/body" || fail "${fields[0]}: not the entry's page: $(cat "$scratch/body")"
    fi
    if [ "$status" = 401 ]; then
      grep -qF 'htpasswd -c -B /etc/lorvex/pages.htpasswd' "$scratch/body" ||
        fail "${fields[0]}: the refusal does not say how to make the password file: $(cat "$scratch/body")"
    fi
  done
}

# Without a password file nobody gets through.
start_server
check "no password file|401|0" "no password file, a name and password|401|0|-u|alice:secret"
stop_server

add_administrator alice secret
start_server
check "no password|401|0" \
  "a wrong password|401|0|-u|alice:wrong" \
  "a name not in the file|401|0|-u|mallory:secret" \
  "the administrator|200|1|-u|alice:secret" \
  "the administrator, from another site|403|0|-u|alice:secret|-H|Sec-Fetch-Site: cross-site" \
  "the administrator, a name rebound to the loopback|403|0|-u|alice:secret|-H|Host: intranet.example.jp:$port"
path=/Lorvex-doc/admin/GIF/head1.gif check "the page's image without a password|200|0"
echo "the pages answered only alice, and told everyone else how to make the password file"
