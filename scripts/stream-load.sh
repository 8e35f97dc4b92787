#!/bin/bash
# Cost of the simulator's picture streams: opens STREAMS streams (half live,
# half playback, cameras 1 up) for SECONDS, samples the simulator's CPU time
# and memory every 5 s and counts the frames each client got; then measures
# the viewer's pages with wrk (through lighttpd, 8 connections, 10 s each),
# three rounds without and with the streams open. Loopback only, in private IPC, mount and
# network namespaces; every loop is bounded in time. Exit status 0 when the
# memory stayed flat (VmRSS within 512 kB from the first sample under load
# to the last) and every stream kept at least 8 frames a second.
#
# Usage: scripts/stream-load.sh [BUILD_DIR] [SECONDS] [STREAMS]
#   defaults: build-load, 60, 8
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-load}
seconds=${2:-60}
streams=${3:-8}
port=8080

if [ -z "${ZEL_STREAM_LOAD_INNER:-}" ]; then
  for tool in wrk curl lighttpd ip; do
    command -v $tool >/dev/null || { echo "stream-load: $tool is not installed" >&2; exit 1; }
  done
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DZEL_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --target zelbrowser.cgi dvrsim -j2 >/dev/null
  build=$(cd "$build" && pwd)
  ZEL_STREAM_LOAD_INNER=1 exec "$root/scripts/ns-run" unshare --net -- "$0" "$build" "$seconds" "$streams"
fi

ip link set lo up
run=$build/stream-load-run  # logs, wrk output and frame counts stay here
rm -rf "$run" && mkdir -p "$run"
dvrsim=$build/simulator/dvrsim/dvrsim
sim=
clients=

cleanup() {
  for c in $clients; do kill "$c" 2>/dev/null || true; done
  "$root/scripts/webserver.sh" stop "$run" >/dev/null 2>&1 || true
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true; }
}
trap cleanup EXIT

"$dvrsim" run --replace >"$run/dvrsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q 'streams on' "$run/dvrsim.log" && break; sleep 0.05; done
grep -q 'streams on' "$run/dvrsim.log" || { echo "stream-load: no streams" >&2; cat "$run/dvrsim.log" >&2; exit 1; }
"$root/scripts/webserver.sh" start "$build" "$port" "$run"
stream_port=$("$dvrsim" get network.listen_port)
pass=$("$dvrsim" get network.ethernet_password | cut -c1-4)
auth="Authorization: Basic $(printf admin:admin | base64)"
hz=$(getconf CLK_TCK)

# CPU time (user + system, clock ticks) and VmRSS in kB of the simulator.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$sim/stat"; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$sim/status"; }

# wrk on one page for 10 s: requests/s, p50 and p99 latency.
pages() { # LABEL
  local what url
  for what in live playback; do
    url=http://127.0.0.1:$port/zelbrowser.cgi
    [ $what = playback ] && url="$url?id=2A4C0347045"
    wrk -t2 -c8 -d10s --latency -H "$auth" "$url" >"$run/wrk-$1-$what.txt"
    printf '%-22s %-9s %10s req/s  p50 %-8s p99 %-8s non-2xx %s\n' "$1" "$what" \
      "$(awk '/Requests\/sec/ {print $2}' "$run/wrk-$1-$what.txt")" \
      "$(awk '$1 == "50%" {print $2}' "$run/wrk-$1-$what.txt")" \
      "$(awk '$1 == "99%" {print $2}' "$run/wrk-$1-$what.txt")" \
      "$(awk '/Non-2xx/ {print $NF}' "$run/wrk-$1-$what.txt" | grep . || echo 0)"
  done
}

echo "== machine: $(nproc) CPUs, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo); load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== simulator idle 10 s"
t0=$(cpu_ticks); sleep 10; t1=$(cpu_ticks)
echo "CPU $(( (t1 - t0) * 1000 / hz )) ms in 10 s; VmRSS $(rss_kb) kB"
echo "== viewer pages without streams"
pages "without streams"

# Opens the streams in the background (clients in $clients), each for $1 s,
# with the frames it gets counted into $run/frames.N.
open_streams() {
  local i url
  for i in $(seq "$streams"); do
    if [ $((i % 2)) = 1 ]; then
      url="http://127.0.0.1:$stream_port/live?cam=$i&pass=$pass"
    else
      url="http://127.0.0.1:$stream_port/playback?cam=$i&year=2021&month=2&day=12&sec=47045&pass=$pass"
    fi
    (curl -s -N --max-time "$1" -o "$run/stream.$i" "$url" || true
     grep -a -c 'Content-Type: image/jpeg' "$run/stream.$i" >"$run/frames.$i" || true
     rm -f "$run/stream.$i") &
    clients="$clients $!"
  done
}

echo "== $streams streams for $seconds s, nothing else from this script"
open_streams "$seconds"
start=$(date +%s)
printf '%6s %12s %10s\n' "t (s)" "CPU (ms/5s)" "VmRSS kB" | tee "$run/samples.txt"
last=$(cpu_ticks)
first_rss=
while [ $(( $(date +%s) - start )) -lt "$seconds" ]; do
  sleep 5
  now=$(cpu_ticks); rss=$(rss_kb)
  first_rss=${first_rss:-$rss}
  printf '%6s %12s %10s\n' "$(( $(date +%s) - start ))" "$(( (now - last) * 1000 / hz ))" "$rss" | tee -a "$run/samples.txt"
  last=$now
done
wait $clients 2>/dev/null || true
clients=
last_rss=$(rss_kb)
total=0 fail=0
for i in $(seq "$streams"); do
  n=$(cat "$run/frames.$i" 2>/dev/null || echo 0)
  total=$((total + n))
  [ "$n" -ge $((seconds * 8)) ] || { echo "FAIL stream $i: $n frames in $seconds s"; fail=1; }
done
echo "frames: $total in $seconds s over $streams streams ($(awk -v t="$total" -v s="$seconds" -v n="$streams" 'BEGIN {printf "%.2f", t / s / n}') a second each)"
echo "VmRSS first sample $first_rss kB, after the streams closed $last_rss kB"
[ $((last_rss - first_rss)) -le 512 ] || { echo "FAIL memory grew by $((last_rss - first_rss)) kB"; fail=1; }

# The pages with and without streams, alternated so that other work on the
# machine weighs on both alike.
echo "== viewer pages, three rounds: without streams, then with $streams streams open"
for round in 1 2 3; do
  pages "round $round without"
  open_streams 25
  sleep 1
  pages "round $round with"
  wait $clients 2>/dev/null || true
  clients=
done
echo "simulator log: $(grep -c 'stream opened' "$run/dvrsim.log") opened, $(grep -c 'stream closed' "$run/dvrsim.log") closed"
echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $fail
