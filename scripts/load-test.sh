#!/bin/bash
# Load test of the viewer behind lighttpd against the simulator: wrk drives
# the live view, the playback page and multipart uploads of a few MiB from
# 8 connections, each for a bounded time, while a session client searches
# and asks for disk maps. Then it checks that no request failed, every
# response was whole (each body compared with a sample), nothing was left
# behind (System V objects, temporary files, CGI processes) and the
# simulator's memory did not grow. Loopback only, in private IPC, mount and
# network namespaces. Exit status 0 when every check passed.
#
# Usage: scripts/load-test.sh [BUILD_DIR] [SECONDS_PER_RUN] [UPLOAD_MIB]
#   defaults: build-load, 10, 3. Configures BUILD_DIR when it is new (no
#   sanitizer: figures) and builds dvrsim, zelbrowser.cgi, dvrsession and,
#   when tests are on, the request layer's test application, which then
#   takes the same uploads and reports the size and hash of what its upload
#   hook received, so the decoded bytes are checked under load too.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-load}
seconds=${2:-10}
upload_mib=${3:-3}
connections=8
port=8080

# Stage 1 (outside): build, then re-enter in private namespaces.
if [ -z "${ZEL_LOAD_INNER:-}" ]; then
  for tool in wrk curl lighttpd ip; do
    command -v $tool >/dev/null || { echo "load-test: $tool is not installed" >&2; exit 1; }
  done
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DZEL_BUILD_BENCH=OFF >/dev/null
  targets="zelbrowser.cgi dvrsim dvrsession"
  # The request layer's test application reports what its upload hook got.
  ! grep -q '^ZEL_BUILD_TESTS:BOOL=ON' "$build/CMakeCache.txt" || targets="$targets cgi_request_app"
  cmake --build "$build" --target $targets -j2 >/dev/null
  build=$(cd "$build" && pwd)
  ZEL_LOAD_INNER=1 exec "$root/scripts/ns-run" unshare --net -- "$0" "$build" "$seconds" "$upload_mib"
fi

# Stage 2 (inside): loopback up, private /tmp and /var/tmp so that every
# temporary file found afterwards is this run's.
ip link set lo up
mount -t tmpfs -o size=512m loadtmp /tmp
mount -t tmpfs -o size=512m loadvartmp /var/tmp
run=$build/load-run  # logs, samples and wrk output stay here afterwards
rm -rf "$run" && mkdir -p "$run"
dvrsim=$build/simulator/dvrsim/dvrsim
session=$build/tools/dvrsession/dvrsession
fail=0
sim=

cleanup() {
  "$root/scripts/webserver.sh" stop "$run" >/dev/null 2>&1 || true
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true; }
}
trap cleanup EXIT

check() { # NAME OK(0/1) DETAIL
  if [ "$2" = 0 ]; then printf 'ok    %-44s %s\n' "$1" "$3"; else printf 'FAIL  %-44s %s\n' "$1" "$3"; fail=1; fi
}

# VmRSS and VmHWM of a process, in kB.
memory() { awk '/^VmRSS|^VmHWM/ { printf "%s %s ", $1, $2 }' "/proc/$1/status"; }
rss_kb() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }

# key/id/kind of every System V object in this namespace.
ipc_objects() { ipcs -a | awk '/^0x/ { print $1 }' | sort; }

# CGI processes (zelbrowser.cgi, the test application) started by lighttpd
# that are still there.
cgi_children() { pgrep -P "$(cat "$run/lighttpd.pid")" -c || true; }

"$dvrsim" run >"$run/dvrsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do "$dvrsim" users >/dev/null 2>&1 && break; sleep 0.05; done
"$root/scripts/webserver.sh" start "$build" "$port" "$run"
set +e  # from here on every outcome is a check that is reported
# Serve copies of the web content, so that edits to the source tree during
# the run cannot change the pages the samples were taken of.
for f in "$run"/htdocs/*; do
  [ "$(basename "$f")" = zelbrowser.cgi ] || { cp -rL "$f" "$f.copy" && rm "$f" && mv "$f.copy" "$f"; }
done
objects_before=$(ipc_objects)
mem_before=$(memory "$sim")
rss_before=$(rss_kb "$sim")

auth=$(printf admin:admin | base64)
url=http://127.0.0.1:$port/zelbrowser.cgi
playback_id=2A3C0312345

# The upload: one multipart file part of UPLOAD_MIB MiB of random bytes
# and a text field.
boundary=loadtestB0undary
make_body() { # MIB
  printf -- '--%s\r\nContent-Disposition: form-data; name="note"\r\n\r\nload test\r\n' $boundary
  printf -- '--%s\r\nContent-Disposition: form-data; name="file"; filename="firmware.bin"\r\n' $boundary
  printf 'Content-Type: application/octet-stream\r\n\r\n'
  head -c $(($1 * 1048576)) /dev/urandom
  printf -- '\r\n--%s--\r\n' $boundary
}
make_body "$upload_mib" >"$run/upload.body"

# Samples: the body each kind of request must get, every time.
curl -sf -u admin:admin "$url" -o "$run/live.expect"
curl -sf -u admin:admin "$url?id=$playback_id" -o "$run/playback.expect"
curl -sf -u admin:admin -H "Content-Type: multipart/form-data; boundary=$boundary" \
  --data-binary @"$run/upload.body" "$url" -o "$run/upload.expect"
grep -q 'g_conn_port' "$run/live.expect"; check "sample: live view page" $? "$(wc -c <"$run/live.expect") bytes"
! grep -q 'Invalid argument' "$run/playback.expect" && [ -s "$run/playback.expect" ]
check "sample: playback page" $? "$(wc -c <"$run/playback.expect") bytes"
cmp -s "$run/upload.expect" "$run/live.expect"; check "sample: upload answered with the live page" $? ""

# wrk script: every response's status and whole body are checked against
# the sample; the counts of all threads are summed in done().
cat >"$run/check.lua" <<'LUA'
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args)
  local function slurp(name)
    local f = assert(io.open(name, "rb")); local s = f:read("*a"); f:close(); return s
  end
  expected = slurp(os.getenv("LOAD_EXPECT"))
  local body = nil
  if os.getenv("LOAD_BODY") ~= "" then body = slurp(os.getenv("LOAD_BODY")) end
  local headers = { ["Authorization"] = "Basic " .. os.getenv("LOAD_AUTH") }
  if body then headers["Content-Type"] = os.getenv("LOAD_CTYPE") end
  req = wrk.format(body and "POST" or "GET", os.getenv("LOAD_PATH"), headers, body)
  responses, bad_status, bad_body = 0, 0, 0
end
function request() return req end
-- Temporary file names differ per request; everything else must not.
local function same(body)
  return (body:gsub("/tmp/cgi%w+", "/tmp/cgi")) == (expected:gsub("/tmp/cgi%w+", "/tmp/cgi"))
end
function response(status, headers, body)
  responses = responses + 1
  if status ~= 200 then bad_status = bad_status + 1 end
  if not same(body) then bad_body = bad_body + 1 end
end
function done(summary, latency, requests)
  local r, s, b = 0, 0, 0
  for _, t in ipairs(threads) do
    r = r + t:get("responses"); s = s + t:get("bad_status"); b = b + t:get("bad_body")
  end
  local e = summary.errors
  io.write(string.format("RESULT responses=%d non200=%d wrong_body=%d socket_errors=%d rps=%.1f p50_ms=%.1f p99_ms=%.1f\n",
    r, s, b, e.connect + e.read + e.write + e.timeout, summary.requests / (summary.duration / 1e6),
    latency:percentile(50) / 1000, latency:percentile(99) / 1000))
end
LUA

# A session client beside the load, once a second until told to stop: a
# search followed to its end, and a disk map on the same connection each
# time (a fresh connection per request would fill the 8 disk-map slots
# until the simulator frees idle ones). Counts runs and failures.
session_loop() {
  local runs=0 failures=0 conn=0 out
  while [ -e "$run/session.go" ]; do
    if out=$("$session" --timeout 10 map --conn "$conn" 2>&1); then
      conn=$(sed -n 's/.*pass --conn \([0-9]*\).*/\1/p' <<<"$out")
    else
      failures=$((failures + 1)); echo "$out" >>"$run/session.failures"
    fi
    out=$("$session" --timeout 10 search --visits 30 2>&1) ||
      { failures=$((failures + 1)); echo "$out" >>"$run/session.failures"; }
    runs=$((runs + 2))
    sleep 1
  done
  echo "$runs $failures" >"$run/session.count"
}

load() { # NAME PATH BODY_FILE
  local name=$1 line loop=
  touch "$run/session.go"
  if [ -x "$session" ]; then session_loop & loop=$!; fi
  line=$(LOAD_EXPECT=$run/$name.expect LOAD_BODY=${3:-} LOAD_PATH=$2 LOAD_AUTH=$auth \
    LOAD_CTYPE="multipart/form-data; boundary=$boundary" \
    wrk -t2 -c$connections -d"${seconds}s" --timeout 10s -s "$run/check.lua" "http://127.0.0.1:$port" |
    tee "$run/$name.wrk" | grep '^RESULT')
  rm -f "$run/session.go"
  [ -z "$loop" ] || wait "$loop"
  echo "$name: $line"
  eval "local ${line#RESULT }"
  [ "$non200" = 0 ] && [ "$socket_errors" = 0 ]; check "$name: no failed request" $? "$responses responses, $rps req/s, non-200 $non200, socket errors $socket_errors"
  [ "$wrong_body" = 0 ] && [ "$responses" -gt 0 ]; check "$name: every response whole" $? "wrong bodies $wrong_body; latency p50 $p50_ms ms, p99 $p99_ms ms"
  if [ -x "$session" ]; then
    read -r sruns sfail <"$run/session.count"
    [ "$sfail" = 0 ]; check "$name: session client beside it" $? "$sruns runs, $sfail failed"
    [ "$sfail" = 0 ] || head -5 "$run/session.failures"
  fi
  for _ in $(seq 100); do [ "$(cgi_children)" = 0 ] && break; sleep 0.05; done
  [ "$(cgi_children)" = 0 ]; check "$name: no CGI process left running" $? ""
}

load live /zelbrowser.cgi
load playback "/zelbrowser.cgi?id=$playback_id"
load upload /zelbrowser.cgi "$run/upload.body"
decoded=$(grep -c '^PostMultipartInput succeeded$' /var/www/cgidebug)
uploads=$(sed -n 's/^RESULT responses=\([0-9]*\).*/\1/p' "$run/upload.wrk")
[ "$decoded" -ge "$uploads" ]; check "upload: every body decoded by the program" $? "$decoded decoded (trace), $uploads answered"

app=$build/tests/cgi_request/cgi_request_app
if [ -x "$app" ]; then
  ln -s "$app" "$run/htdocs/request_app.cgi"
  curl -sf -u admin:admin -H "Content-Type: multipart/form-data; boundary=$boundary" \
    --data-binary @"$run/upload.body" "http://127.0.0.1:$port/request_app.cgi" -o "$run/upload-app.expect"
  file_bytes=$((upload_mib * 1048576))
  grep -q "^calls=[0-9]* bytes=$((file_bytes + 9)) " "$run/upload-app.expect" &&
    grep -q "^entry \[note\] \[\] 9 \[\] \[\] tfile=0" "$run/upload-app.expect" &&
    grep -q "^entry \[file\] \[\] $file_bytes \[firmware.bin\] \[application/octet-stream\] tfile=1 " "$run/upload-app.expect"
  check "sample: upload hook got every byte" $? "$((file_bytes + 9)) bytes in 2 entries"
  load upload-app /request_app.cgi "$run/upload.body"
else
  echo "skip  upload-app: $app is not built (tests off in $build)"
fi

# The program's peak memory must not follow the size of an upload: one
# request with the sample body and one ten times larger, run directly.
peak_kb() { # BODY_FILE
  (cd "$run/htdocs" && env -i REQUEST_METHOD=POST REMOTE_USER=admin CONTENT_LENGTH="$(stat -c %s "$1")" \
    CONTENT_TYPE="multipart/form-data; boundary=$boundary" \
    /usr/bin/time -o "$run/peak" -f %M ./zelbrowser.cgi <"$1" >/dev/null) && cat "$run/peak"
}
if [ -x /usr/bin/time ]; then
  make_body $((upload_mib * 10)) >"$run/upload-big.body"
  small=$(peak_kb "$run/upload.body")
  big=$(peak_kb "$run/upload-big.body")
  decoded_big=$(tail -n 12 /var/www/cgidebug | grep -c "^cgiContentLength: $(stat -c %s "$run/upload-big.body")$\|^PostMultipartInput succeeded$")
  rm -f "$run/upload-big.body"
  [ "$decoded_big" = 2 ] && [ -n "$small" ] && [ -n "$big" ] && [ "$big" -le $((small + 256)) ]
  check "program memory flat with upload size" $? "peak RSS ${small:-?} kB (${upload_mib} MiB body), ${big:-?} kB (10 times larger)"
else
  echo "skip  program memory: /usr/bin/time is not installed"
fi

[ "$(ipc_objects)" = "$objects_before" ]; check "System V objects: only the simulator's" $? "$(echo $objects_before)"
left=$(find /tmp /var/tmp -mindepth 1 -maxdepth 1 | wc -l)
[ "$left" = 0 ]; check "no temporary file left in /tmp, /var/tmp" $? "$left found"
mem_after=$(memory "$sim")
rss_after=$(rss_kb "$sim")
[ "$rss_after" -le $((rss_before + 256)) ]; check "simulator memory did not grow" $? "before: $mem_before; after: $mem_after (kB)"
echo "machine: $(nproc) CPUs, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo); $connections connections, ${seconds} s per run, upload ${upload_mib} MiB"
[ "$fail" = 0 ] && echo "load-test: all checks passed" || echo "load-test: FAILED"
exit $fail
