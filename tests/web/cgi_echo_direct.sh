#!/usr/bin/env bash
# cgi-echo run directly, as a web server would run it, with requests that a
# server refuses before they reach a CGI program: a negative, non-numeric or
# huge CONTENT_LENGTH, a body shorter than announced or one that arrives in
# pieces, no REQUEST_METHOD at all. Each must get a clean answer at once,
# never a hang.
# Usage: cgi_echo_direct.sh PATH-TO-CGI-ECHO
set -u
cgi=$1
failures=0

# run NAME EXPECTED-RESULT EXPECTED-PAIRS BODY-PRODUCER VAR=VALUE...
run() {
    local name=$1 result=$2 pairs=$3 producer=$4
    shift 4
    local got expected
    got=$(eval "$producer" | env -i "$@" timeout 10 "$cgi"; echo "exit=$?")
    expected=$(printf 'Status: 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nX-Cgi-Result: %s\r\nX-Cgi-Pairs: %s\r\n\r\n' \
        "$result" "$(printf '%s' "$pairs" | grep -c .)"; printf '%s' "$pairs"; echo "exit=0")
    if [ "$got" != "$expected" ]; then
        echo "FAIL $name"
        echo "--- expected"; printf '%s\n' "$expected" | cat -A
        echo "--- got"; printf '%s\n' "$got" | cat -A
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

nl=$'\n'
run "negative length" 0 ""                 "printf 'a=1'"     REQUEST_METHOD=POST CONTENT_LENGTH=-5
run "garbage length"  0 ""                 "printf 'a=1'"     REQUEST_METHOD=POST CONTENT_LENGTH=abc
run "huge length"     0 ""                 "printf 'a=1'"     REQUEST_METHOD=POST CONTENT_LENGTH=99999999999999999999
run "body shorter"    1 "a=1${nl}b=2${nl}" "printf 'a=1&b=2'" REQUEST_METHOD=POST CONTENT_LENGTH=100
run "body in pieces"  1 "a=12${nl}"        "{ printf 'a='; sleep 1; printf '1'; sleep 1; printf '2'; }" \
    REQUEST_METHOD=POST CONTENT_LENGTH=4
run "no method"       0 ""                 "printf 'a=1'"     QUERY_STRING=a=1

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
