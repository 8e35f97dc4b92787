#!/bin/bash
# Cost of one live-view request of zelbrowser.cgi against the simulator,
# beside a minimal static C program (minimal.c) that prints the viewer's
# own page, in the same run: instructions executed (callgrind, exact) and
# requests per second through lighttpd with basic authentication (wrk,
# loopback inside a private network namespace).
# Usage: bench/request/run.sh [BUILD_DIR] [SECONDS]
#   BUILD_DIR  release build holding cgi/zelbrowser.cgi and the simulator
#              (default build-bench, configured and built when missing)
#   SECONDS    length of each wrk run (default 3)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-bench}
secs=${2:-3}

. "$root/tests/support/site.sh"
if [ -z "${ZEL_IN_SITE_NS:-}" ]; then
  if [ ! -x "$build/cgi/zelbrowser.cgi" ] || [ ! -x "$build/simulator/dvrsim/dvrsim" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target zelbrowser.cgi dvrsim -j2 >/dev/null
  fi
  build=$(cd "$build" && pwd)
  site_enter "$0" "$build" "$secs"
fi
site_start "$build"
port=$site_port
run=$site_run
docroot=$run/htdocs

# One request exactly as the web server starts it: in the page folder.
cgi_env=(env -i REQUEST_METHOD=GET REMOTE_USER=admin AUTH_TYPE=Basic QUERY_STRING=
         GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1)
(cd "$docroot" && "${cgi_env[@]}" "$build/cgi/zelbrowser.cgi") | tail -c +28 >"$run/page.html"
page_bytes=$(wc -c <"$run/page.html")
[ "$page_bytes" -gt 1000 ] || { echo "run.sh: the viewer wrote no page" >&2; exit 1; }
gcc -O2 -static -DPAGE_FILE="\"$run/page.html\"" -o "$run/minimal.cgi" "$here/minimal.c"
ln -s "$run/minimal.cgi" "$docroot/minimal.cgi"

# Instructions of one request (callgrind's total Ir, start-up included).
instructions() {
  (cd "$docroot" && "${cgi_env[@]}" valgrind --tool=callgrind \
     --callgrind-out-file="$run/callgrind.$2" "$1" >/dev/null 2>"$run/valgrind.$2")
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$run/valgrind.$2"
}

# Requests per second of one wrk run.
rate() {
  wrk -t1 -c4 -d"${secs}s" -H "Authorization: Basic $(printf admin:admin | base64)" \
    "http://127.0.0.1:$port/$1" | sed -n 's/^Requests\/sec: *\([0-9.]*\)/\1/p'
}

ir_zel=$(instructions "$build/cgi/zelbrowser.cgi" zel)
ir_min=$(instructions "$run/minimal.cgi" min)
# Interleaved runs, so a burst of other load on the machine hits both alike.
r_zel=; r_min=
for _ in 1 2 3; do
  r_min="$r_min $(rate minimal.cgi)"
  r_zel="$r_zel $(rate zelbrowser.cgi)"
done

awk -v bytes="$page_bytes" -v iz="$ir_zel" -v im="$ir_min" -v rz="$r_zel" -v rm="$r_min" '
function stats(list, out,   n, i, v) {
  n = split(list, v, " "); out["sum"] = 0; out["best"] = 0
  for (i = 1; i <= n; i++) { out["sum"] += v[i]; if (v[i] > out["best"]) out["best"] = v[i] }
  out["mean"] = out["sum"] / n
}
BEGIN {
  stats(rz, z); stats(rm, m)
  printf "page body bytes        %d\n", bytes
  printf "%-22s %14s %14s\n", "", "zelbrowser.cgi", "minimal.cgi"
  printf "%-22s %14d %14d\n", "instructions/request", iz, im
  printf "%-22s %14.0f %14.0f\n", "requests/s, mean", z["mean"], m["mean"]
  printf "%-22s %14.0f %14.0f\n", "requests/s, best", z["best"], m["best"]
  printf "requests/s, each run   zelbrowser:%s  minimal:%s\n", rz, rm
  printf "instructions ratio     %.2f x  (goal <= 4)\n", iz / im
  printf "requests/s ratio       %.0f %% of mean, %.0f %% of best  (goal >= 80)\n",
    100 * z["mean"] / m["mean"], 100 * z["best"] / m["best"]
}'
if [ -n "${ZEL_BENCH_KEEP:-}" ]; then
  cp "$run/callgrind.zel" "$run/callgrind.min" "$ZEL_BENCH_KEEP/"
fi
