#!/usr/bin/env bash
# cgi-echo behind a real web server: lighttpd with mod_cgi on a free
# loopback port, requests sent with curl (GET and POST, "+" and "%"
# escapes, UTF-8, a 1 MB body, an empty body), the answers checked.
#
# Exits 77 (reported as skipped) when lighttpd or curl is missing, unless
# VORLIX_REQUIRE_WEB_SERVER is 1, as in CI, where that is a failure. The
# server is stopped on every way out: a trap on exit and on signals, and a
# watchdog that stops it if this script is killed outright.
# Usage: cgi_echo_server.sh PATH-TO-CGI-ECHO
set -u

lighttpd=$(command -v lighttpd || { [ -x /usr/sbin/lighttpd ] && echo /usr/sbin/lighttpd; })
curl=$(command -v curl)
if [ -z "$lighttpd" ] || [ -z "$curl" ]; then
    echo "lighttpd or curl is not installed"
    [ "${VORLIX_REQUIRE_WEB_SERVER:-0}" = 1 ] && exit 1
    exit 77
fi

cgi=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
dir=$(mktemp -d)
server=""
# If this script is killed outright, the watchdog stops the server whose
# process id is in server.pid and removes the files.
( while kill -0 $$ 2>/dev/null; do sleep 1; done
  [ -s "$dir/server.pid" ] && kill "$(cat "$dir/server.pid")" 2>/dev/null
  rm -rf "$dir" ) &
watchdog=$!
cleanup() {
    kill "$watchdog" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mkdir "$dir/www"
ln -s "$cgi" "$dir/www/echo.cgi"

# A free port: try random ones until the server binds one.
for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 40000))
    cat > "$dir/lighttpd.conf" <<CONF
server.modules = ("mod_cgi")
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/error.log"
server.upload-dirs = ("$dir")
cgi.assign = (".cgi" => "")
CONF
    "$lighttpd" -D -f "$dir/lighttpd.conf" > "$dir/server.out" 2>&1 &
    server=$!
    echo "$server" > "$dir/server.pid"
    for _ in $(seq 1 50); do
        kill -0 "$server" 2>/dev/null || break
        "$curl" -s -o /dev/null "http://127.0.0.1:$port/" && break
        sleep 0.1
    done
    kill -0 "$server" 2>/dev/null && break
    wait "$server" 2>/dev/null
    server=""
done
if [ -z "$server" ]; then
    echo "lighttpd did not start"; cat "$dir/server.out" "$dir/error.log" 2>/dev/null
    exit 1
fi
echo "lighttpd on 127.0.0.1:$port"

url="http://127.0.0.1:$port/echo.cgi"
failures=0

# check NAME RESULT PAIRS EXPECTED-BODY-FILE CURL-ARGS...
check() {
    local name=$1 result=$2 pairs=$3 expected=$4
    shift 4
    local status
    status=$("$curl" -s -S --max-time 60 -o "$dir/body" -D "$dir/headers" -w '%{http_code}' "$@")
    local problem=""
    [ "$status" = 200 ] || problem="status $status"
    grep -qi '^Content-Type: text/plain; charset=utf-8' "$dir/headers" || problem="$problem, content type"
    grep -qi "^X-Cgi-Result: $result"$'\r' "$dir/headers" || problem="$problem, result"
    grep -qi "^X-Cgi-Pairs: $pairs"$'\r' "$dir/headers" || problem="$problem, pairs"
    cmp -s "$dir/body" "$expected" || problem="$problem, body"
    if [ -n "$problem" ]; then
        echo "FAIL $name:$problem"
        cat "$dir/headers"; head -c 300 "$dir/body"; echo
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}
expect() { printf "$@" > "$dir/expected"; }

expect 'a=1\nb=x y!\n&NULL0=k\n'
check "GET with escapes" 1 3 "$dir/expected" "$url?a=1&b=x+y%21&k"

expect 'a=1 2+3\nb=100%%\nc=%%\nd=A\n'
check "POST form-encoded" 1 4 "$dir/expected" --data-binary 'a=1+2%2B3&b=100%25&c=%%&d=%41' "$url"

expect 'x=1\ny=2\n'
check "POST with another pair separator" 1 2 "$dir/expected" --data-binary 'x=1*y=2' "$url"

expect 'text=\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4 \xc3\xbc\xe2\x82\xac\nraw=\xc3\xa9t\xc3\xa9\n'
check "UTF-8 values" 1 2 "$dir/expected" --data-urlencode 'text=한국어 ü€' --data-binary 'raw=été' "$url"

expect 'q=\xed\x95\x9c \xc3\xbc\n'
check "GET with UTF-8" 1 1 "$dir/expected" -G --data-urlencode 'q=한 ü' "$url"

# A body of 1 MiB that arrives through the server's pipe in pieces.
{ printf 'big='; yes '%41+b' | head -n 209715 | tr -d '\n'; printf '&end=1'; } > "$dir/big"
{ printf 'big='; yes 'A b' | head -n 209715 | tr -d '\n'; printf '\nend=1\n'; } > "$dir/expected"
check "1 MiB body" 1 2 "$dir/expected" --data-binary @"$dir/big" "$url"

: > "$dir/expected"
check "empty body" 0 0 "$dir/expected" -X POST --data-binary '' "$url"
check "GET without a query" 1 0 "$dir/expected" "$url"

expect 'a=1\n'
check "syntax error keeps the pairs before it" 0 1 "$dir/expected" "$url?a=1=2"

if [ "$failures" -ne 0 ]; then
    echo "$failures failed; server log:"; cat "$dir/error.log" 2>/dev/null
    exit 1
fi
