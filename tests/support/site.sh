# site.sh - sourced by the viewer's HTTP test, the fault test and the request
# benchmark. site_enter "$0" "$@" re-runs the caller in private network, IPC
# and /var/www namespaces; site_start BUILD_DIR [lighttpd|busybox] starts the
# simulator and a web server (scripts/webserver.sh, basic auth) serving the
# viewer at $site_url, pages in $site_run/htdocs, all stopped on exit;
# check NAME RESULT prints ok/FAIL; site_end exits with the result, failing on
# a sanitizer report and printing the programs' standard error after a failure.
site_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
site_port=8080

site_enter() {
  [ -z "${ZEL_IN_SITE_NS:-}" ] || return 0
  ZEL_IN_SITE_NS=1 exec unshare --net --fork -- "$site_root/scripts/ns-run" "$@"
}

site_stop() {
  "$site_root/scripts/webserver.sh" stop "$site_run" >/dev/null 2>&1 || true
  [ -z "${site_sim:-}" ] || { kill "$site_sim" 2>/dev/null; wait "$site_sim" 2>/dev/null || true; }
  rm -rf "$site_run"
}

site_start() {
  local dvrsim=$1/simulator/dvrsim/dvrsim
  ip link set lo up
  site_run=$(mktemp -d /tmp/zel-site.XXXXXX)
  trap site_stop EXIT
  "$dvrsim" run --replace >"$site_run/dvrsim.log" 2>&1 &
  site_sim=$!
  for _ in $(seq 100); do "$dvrsim" users >/dev/null 2>&1 && break; sleep 0.05; done
  "$site_root/scripts/webserver.sh" start "$1" "$site_port" "$site_run" "${2:-lighttpd}"
  site_url=http://127.0.0.1:$site_port$(cat "$site_run/cgi-path")
}

site_fail=0
check() { if [ "$2" = 0 ]; then echo "ok   $1"; else echo "FAIL $1"; site_fail=1; fi; }

site_end() {
  ! grep -qE 'Sanitizer|runtime error:' "$site_run/cgi-stderr.log"
  check "no sanitizer report in the programs' standard error" $?
  [ "$site_fail" = 0 ] || { echo "== programs' standard error ($site_run/cgi-stderr.log)"
    tail -n 40 "$site_run/cgi-stderr.log"; }
  exit $site_fail
}
