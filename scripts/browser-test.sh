#!/bin/sh
# Real-browser check of the viewer pages: runs the simulator and lighttpd in a
# private network, IPC and mount namespace and drives headless Chromium at them.
# Usage: scripts/browser-test.sh [--no-install] [--screenshots DIR] [BUILD_DIR]
#   --no-install     use what is there (no apt-get, npm or build step)
#   --screenshots D  write the page screenshots to D (default BUILD_DIR/browser-shots)
#   BUILD_DIR        build tree holding zelbrowser.cgi and dvrsim (default build-browser)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
install=1
shots=
inner=
while [ $# -gt 0 ]; do
  case $1 in
    --no-install) install=0 ;;
    --screenshots) shots=$2; shift ;;
    --inner) inner=1 ;;  # set by the re-entry below, inside the namespaces
    -*) echo "browser-test: unknown option $1" >&2; exit 2 ;;
    *) build=$1 ;;
  esac
  shift
done
build=${build:-$root/build-browser}
case $build in /*) ;; *) build=$PWD/$build ;; esac
shots=${shots:-$build/browser-shots}
port=8080

# Outer stage: bring in what is missing, then re-enter in fresh namespaces.
# The private network namespace has only its own loopback, so nothing the
# browser or the web server does can leave the machine or clash on a port.
if [ -z "$inner" ]; then
  if [ $install = 1 ]; then
    "$root/scripts/install-deps.sh" chromium iproute2
    [ -d "$root/tests/browser/node_modules/puppeteer-core" ] ||
      (cd "$root/tests/browser" && npm ci --no-audit --no-fund)
    # A build tree that exists keeps its settings; a new one gets the two programs only.
    [ -f "$build/CMakeCache.txt" ] ||
      cmake -S "$root" -B "$build" -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" --target zelbrowser.cgi dvrsim dvrsession -j2
    "$root/scripts/build-pages.sh" "$build"
  fi
  [ -d "$root/tests/browser/node_modules/puppeteer-core" ] ||
    { echo "browser-test: no browser driver: (cd tests/browser && npm ci)" >&2; exit 1; }
  mkdir -p "$shots"
  shots=$(cd "$shots" && pwd)
  exec unshare --net --fork -- "$root/scripts/ns-run" \
    "$0" --inner --screenshots "$shots" "$build"
fi

ip link set lo up
dvrsim=$build/simulator/dvrsim/dvrsim
rundir=$(mktemp -d /tmp/zel-browser.XXXXXX)
simpid=

cleanup() {
  "$root/scripts/webserver.sh" stop "$rundir" >/dev/null 2>&1 || true
  if [ -n "$simpid" ]; then kill "$simpid" 2>/dev/null || true; wait "$simpid" 2>/dev/null || true; fi
  simpid=
  rm -rf "$rundir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$dvrsim" run --replace >"$rundir/dvrsim.log" 2>&1 &
simpid=$!
# The simulator is ready once it answers for its user table.
tries=0
until "$dvrsim" users >/dev/null 2>&1; do
  tries=$((tries + 1))
  if [ $tries -gt 50 ] || ! kill -0 "$simpid" 2>/dev/null; then
    echo "browser-test: simulator did not come up" >&2
    cat "$rundir/dvrsim.log" >&2
    exit 1
  fi
  sleep 0.1
done

"$root/scripts/webserver.sh" start "$build" "$port" "$rundir"

cd "$root/tests/browser"
status=0
ZEL_URL=http://127.0.0.1:$port ZEL_DVRSIM=$dvrsim ZEL_SHOT_DIR=$shots \
  ZEL_DVRSESSION=$build/tools/dvrsession/dvrsession \
  timeout 600 node --test --test-concurrency=1 --test-timeout=120000 viewer.test.js pages.test.js ||
  status=$?
if [ $status -ne 0 ]; then
  # What the program and the simulator said on standard error, for the failure.
  echo "== CGI standard error"; tail -n 40 "$rundir/cgi-stderr.log"
  echo "== simulator log"; tail -n 40 "$rundir/dvrsim.log"
fi
exit $status
