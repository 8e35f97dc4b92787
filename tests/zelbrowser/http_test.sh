#!/bin/bash
# The viewer behind lighttpd with basic authentication: a valid user gets a
# 200 whose body is exactly what the program writes for that user; no or
# wrong credentials get a 401. Runs in private namespaces (site.sh).
# Usage: http_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
. "$(dirname "$0")/site.sh"
site_enter "$0" "$@"
site_start "$build"
port=$site_port
run=$site_run

# Sends one HTTP/1.0 GET of the viewer, with credentials when given; prints
# the raw response.
http_get() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET /zelbrowser.cgi HTTP/1.0\r\nHost: 127.0.0.1\r\n' >&3
  [ -z "${1:-}" ] || printf 'Authorization: Basic %s\r\n' "$(printf %s "$1" | base64)" >&3
  printf '\r\n' >&3
  cat <&3
  exec 3<&-
}

set +e

# The page the program writes for admin, without its header.
(cd "$run/htdocs" && REQUEST_METHOD=GET REMOTE_USER=admin QUERY_STRING= \
  "$build/cgi/zelbrowser.cgi") | tail -c +28 >"$run/direct.html"
http_get admin:admin >"$run/ok.http"
sed -n '1,/^\r$/p' "$run/ok.http" >"$run/ok.head"
sed '1,/^\r$/d' "$run/ok.http" >"$run/ok.body"

head -1 "$run/ok.head" | grep -q '^HTTP/1\.[01] 200 ';          check "admin gets 200" $?
grep -qi '^Content-Type: text/html' "$run/ok.head";            check "content type text/html" $?
[ -s "$run/direct.html" ] && cmp -s "$run/direct.html" "$run/ok.body"; check "body is the program's page" $?
http_get | head -1 | grep -q '^HTTP/1\.[01] 401 ';               check "no credentials get 401" $?
http_get admin:wrong | head -1 | grep -q '^HTTP/1\.[01] 401 ';  check "wrong password gets 401" $?
exit $site_fail
