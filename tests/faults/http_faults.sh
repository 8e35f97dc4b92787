#!/bin/bash
# Faults seen through lighttpd: a body stalled or cut off, a read-only trace
# folder. Private namespaces (site.sh). Usage: $0 BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
. "$(dirname "$0")/../support/site.sh"
site_enter "$0" "$@"
site_start "$build"
run=$site_run server=$(cat "$site_run/lighttpd.pid") url=http://127.0.0.1:$site_port/zelbrowser.cgi
set +e
programs() { pgrep -P "$server" -c; }
trace_lines() { wc -l </var/www/cgidebug; }
get() { curl -s -u admin:admin -o "$run/$1" -w '%{http_code}' "$url"; }
[ "$(get page)" = 200 ] && grep -q 'g_conn_port' "$run/page"; check "baseline page" $?

# Part of a body, then a stall: lighttpd buffers the body, so no program runs.
lines=$(trace_lines)
exec 3<>"/dev/tcp/127.0.0.1/$site_port"
printf 'POST /zelbrowser.cgi HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\n' "$(printf admin:admin | base64)" >&3
printf 'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100000\r\n\r\nid=0001' >&3
sleep 0.5
[ "$(programs)" = 0 ]; check "stalled body: no program started" $?
exec 3<&-
sleep 0.2
[ "$(programs)" = 0 ] && [ "$(trace_lines)" = "$lines" ]; check "client gone: no program left, none ran" $?
[ "$(get after)" = 200 ] && cmp -s "$run/page" "$run/after"; check "next request served whole" $?

# An empty read-only tmpfs laid over the trace folder for one request.
lines=$(trace_lines)
mount -t tmpfs -o ro zelro /var/www; code=$(get ro); umount /var/www
[ "$code" = 200 ] && cmp -s "$run/page" "$run/ro" && [ "$(trace_lines)" = "$lines" ]; check "read-only trace folder: page served the same, trace skipped" $?

site_end
