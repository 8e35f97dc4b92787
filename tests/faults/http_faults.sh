#!/bin/bash
# Faults seen through lighttpd: a client that sends part of a request body
# and stalls or goes away (the server buffers the body before it starts the
# program, so no program is left waiting), a read-only trace folder (page
# served the same, trace skipped), and the device service gone (what the
# browser gets). Runs in private namespaces (site.sh), so the fixed port
# cannot clash with anything.
# Usage: http_faults.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
. "$(dirname "$0")/../zelbrowser/site.sh"
site_enter "$0" "$@"
site_start "$build"
port=$site_port
run=$site_run
server=$(cat "$run/lighttpd.pid")
url=http://127.0.0.1:$port/zelbrowser.cgi

set +e
programs() { pgrep -P "$server" -c; }
trace_lines() { wc -l </var/www/cgidebug; }

curl -s -u admin:admin "$url" -o "$run/page"
grep -q 'g_conn_port' "$run/page"; check "baseline page" $?

# Part of a body, then a stall: the server is still reading, so the program
# has not started; after the client goes away nothing is left either.
lines=$(trace_lines)
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'POST /zelbrowser.cgi HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\n' "$(printf admin:admin | base64)" >&3
printf 'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100000\r\n\r\nid=0001' >&3
sleep 0.5
[ "$(programs)" = 0 ]; check "stalled body: no program started" $?
exec 3<&-
sleep 0.2
[ "$(programs)" = 0 ]; check "client gone: no program left" $?
[ "$(trace_lines)" = "$lines" ]; check "client gone: the program never ran" $?
code=$(curl -s -u admin:admin -o "$run/after" -w '%{http_code}' "$url")
[ "$code" = 200 ] && cmp -s "$run/page" "$run/after"; check "next request served whole" $?

# Read-only trace folder (an empty read-only tmpfs laid over it for one
# request): the same page, and the trace underneath gains no line.
lines=$(trace_lines)
mount -t tmpfs -o ro zelro /var/www
code=$(curl -s -u admin:admin -o "$run/ro" -w '%{http_code}' "$url")
umount /var/www
[ "$code" = 200 ] && cmp -s "$run/page" "$run/ro"; check "read-only trace folder: page served the same" $?
[ "$(trace_lines)" = "$lines" ]; check "read-only trace folder: trace skipped" $?

# The device service stopped (its objects removed): the program writes only
# the header and ends with 255, which the browser sees as an empty 200 page;
# its report on stderr goes to the run folder's cgi-stderr.log.
kill "$site_sim"; wait "$site_sim"; site_sim=
code=$(curl -s -u admin:admin -o "$run/nodevice" -w '%{http_code}' "$url")
[ "$code" = 200 ] && [ ! -s "$run/nodevice" ]; check "no device service: empty page (HTTP $code)" $?
exit $site_fail
