#!/bin/bash
# Faults seen through lighttpd: a client that sends part of a request body
# and stalls or goes away (the server buffers the body before it starts the
# program, so no program is left waiting), a read-only trace folder (page
# served the same, trace skipped), and the device service gone (what the
# browser gets). Runs inside scripts/ns-run and re-enters a private network
# namespace, so the fixed port cannot clash with anything.
# Usage: http_faults.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${ZEL_IN_NETNS:-}" ]; then
  ZEL_IN_NETNS=1 exec unshare --net --fork -- "$0" "$@"
fi
ip link set lo up
port=8080
dvrsim=$build/simulator/dvrsim/dvrsim
run=$(mktemp -d /tmp/zel-faults.XXXXXX)
sim=
cleanup() {
  "$root/scripts/webserver.sh" stop "$run" >/dev/null 2>&1 || true
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true; }
  rm -rf "$run"
}
trap cleanup EXIT

"$dvrsim" run >"$run/dvrsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do "$dvrsim" users >/dev/null 2>&1 && break; sleep 0.05; done
"$root/scripts/webserver.sh" start "$build" "$port" "$run"
server=$(cat "$run/lighttpd.pid")
url=http://127.0.0.1:$port/zelbrowser.cgi

set +e
fail=0
check() { # NAME CONDITION-RESULT
  if [ "$2" = 0 ]; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi
}
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
# its report on stderr is not in lighttpd's error log (server.breakagelog
# would keep it).
kill "$sim"; wait "$sim"; sim=
code=$(curl -s -u admin:admin -o "$run/nodevice" -w '%{http_code}' "$url")
[ "$code" = 200 ] && [ ! -s "$run/nodevice" ]; check "no device service: empty page (HTTP $code)" $?
exit $fail
