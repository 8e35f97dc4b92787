#!/bin/bash
# The viewer behind a web server with basic authentication (lighttpd, or
# BusyBox httpd, which streams request bodies): the program's page or a 401,
# a slow upload served whole, a stalled one (BusyBox) leaving no program and
# no temporary file, lighttpd's body cap, standard error in the log.
# Usage: http_test.sh BUILD_DIR [lighttpd|busybox]
set -eu
build=$(cd "$1" && pwd)
server=${2:-lighttpd}
. "$(dirname "$0")/../support/site.sh"
site_enter "$0" "$@"
site_start "$build" "$server"
port=$site_port run=$site_run
path=${site_url#http://127.0.0.1:$port}
program=$(readlink -f "$build/cgi/zelbrowser.cgi")
cgidir=$run/htdocs$(dirname "$path")
auth=$(printf admin:admin | base64)

# An HTTP/1.0 GET of the viewer, body to FILE, with curl ARGS; prints the status.
http_get() { curl -0 -s --max-time 30 -o "$1" -w '%{http_code}' "${@:2}" "$site_url"; }
# Whether the count of viewer programs this site's server runs, or of
# temporary files, compares as given (e.g. `programs = 0`).
programs() {
  [ "$(for p in /proc/[0-9]*; do
    [ "$(readlink "$p/cwd")" = "$cgidir" ] && [ "$(readlink "$p/exe")" = "$program" ] && echo
  done 2>/dev/null | wc -l)" "$@" ]
}
temps() { [ "$(find /tmp -maxdepth 1 -type f -name 'cgi*' | wc -l)" "$@" ]; }
# Runs a condition every 0.1 s until it holds, for at most 20 s.
wait_until() { for _ in $(seq 200); do "$@" && return 0; sleep 0.1; done; return 1; }

set +e
(cd "$cgidir" && REQUEST_METHOD=GET REMOTE_USER=admin QUERY_STRING= "$program") |
  tail -c +28 >"$run/direct.html"
code=$(http_get "$run/ok.body" -u admin:admin)
[ "$code" = 200 ];                                             check "admin gets 200 ($code)" $?
[ -s "$run/direct.html" ] && cmp -s "$run/direct.html" "$run/ok.body"; check "body is the program's page" $?
[ "$(http_get /dev/null)" = 401 ];                                       check "no credentials get 401" $?

# A 64 KiB file part sent at 32 KiB/s: the page as for a GET, no file kept.
head -c 65536 /dev/urandom >"$run/upload.bin"
code=$(http_get "$run/slow.body" -u admin:admin --limit-rate 32k --max-time 60 -F "file=@$run/upload.bin")
[ "$code" = 200 ] && cmp -s "$run/direct.html" "$run/slow.body"; check "slow upload: page served (HTTP $code)" $?
wait_until programs = 0 && temps = 0; check "slow upload: no program, no temporary file left" $?

# BusyBox starts the program at once on more of a multipart body than its read
# window; when the stalled client leaves, the end of input reaches it, and it
# fails the decoding and deletes its temporary file. lighttpd buffers bodies
# (tests/faults/http_faults.sh) and caps them.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'POST %s HTTP/1.1\r\nHost: x\r\nAuthorization: Basic %s\r\n' "$path" "$auth" >&3
if [ "$server" = busybox ]; then
  printf 'Content-Type: multipart/form-data; boundary=zz\r\nContent-Length: 1000000\r\n\r\n' >&3
  printf -- '--zz\r\nContent-Disposition: form-data; name="file"; filename="a.bin"\r\n\r\n' >&3
  timeout 20 head -c 300000 /dev/zero >&3
  wait_until programs != 0 && wait_until temps != 0
  check "stalled upload: the program holds the part in a temporary file meanwhile" $?
  exec 3<&-
  wait_until programs = 0; check "stalled upload: no program left once the client is gone" $?
  temps = 0;               check "stalled upload: no temporary file left" $?
else
  printf 'Content-Type: application/octet-stream\r\nContent-Length: %d\r\n\r\n' $((256 << 20 | 1)) >&3
  timeout 30 head -1 <&3 | grep -q '^HTTP/1\.[01] 413 '; check "body above 256 MiB refused with 413" $?
  exec 3<&-
fi

# The device service gone: the program's perror report reaches the log.
kill "$site_sim"; wait "$site_sim"; site_sim=
http_get /dev/null -u admin:admin >/dev/null
wait_until grep -q 'Create message queue failed' "$run/cgi-stderr.log"; check "program's standard error in cgi-stderr.log" $?
site_end
