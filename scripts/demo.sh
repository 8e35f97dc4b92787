#!/bin/bash
# The first command to run: installs what is missing, builds the simulator
# and the viewer, starts the simulator on its built-in configuration and
# lighttpd on 127.0.0.1, and prints the URL and users to try. Stays in the
# foreground; Ctrl-C stops both and removes the simulator's System V objects.
# Usage: scripts/demo.sh [PORT]   (default 8080)
set -eu
cd "$(dirname "$0")/.."
port=${1:-8080}
build=build
rundir=$build/demo-run
dvrsim=$build/simulator/dvrsim/dvrsim

scripts/install-deps.sh
cmake -S . -B $build -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build $build --target dvrsim zelbrowser.cgi -j "$(nproc)"
scripts/build-pages.sh $build

objects_left() { ipcs -a | grep -qi '^0x00000660 '; }

replace=
if objects_left; then
  if pids=$(pgrep -x dvrsim); then
    echo "demo: a simulator is already running (pid $pids); stop it first." >&2
    exit 1
  fi
  echo "demo: System V objects with key 1632 are left from an earlier run that did not clean up;"
  echo "demo: starting the simulator with --replace to remove and recreate them."
  replace=--replace
fi

sim_pid=
cleanup() {
  trap - INT TERM EXIT
  echo
  scripts/webserver.sh stop "$rundir" || true
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if objects_left; then
    echo "demo: System V objects with key 1632 are still there (ipcs -a); '$dvrsim run --replace' then Ctrl-C removes them." >&2
  else
    echo "demo: stopped; no System V objects left."
  fi
}
trap cleanup INT TERM EXIT

$dvrsim run $replace &
sim_pid=$!
for _ in $(seq 100); do
  $dvrsim get model.code >/dev/null 2>&1 && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "demo: the simulator did not start." >&2; exit 1; }
  sleep 0.05
done
scripts/webserver.sh start $build "$port" "$rundir"

# One user who sees the covert cameras and one who does not, from the live
# user table and covert setting (a level u sees them when s is 0 or 3-s >= u).
covert=$($dvrsim get security.covert)
with= without=
for i in $(seq 25); do
  read -r name pass level enable <<<"$($dvrsim get user.$i)" || true
  [ "${enable:-0}" = 1 ] || continue
  if [ "$covert" = 0 ] || [ $((3 - covert)) -ge "$level" ]; then
    with=${with:-"$name / $pass (level $level)"}
  else
    without=${without:-"$name / $pass (level $level)"}
  fi
done

cat <<MSG

  Open   http://127.0.0.1:$port/ (every page) or http://127.0.0.1:$port/zelbrowser.cgi
  Log in as ${with:-nobody} - sees the covert cameras,
  or as  ${without:-nobody} - does not.
  Click a channel tile to switch the picture; Playback opens the camera on
  screen a minute back. The pictures come from the simulator's streams on
  http://127.0.0.1:$($dvrsim get network.listen_port)/ (passcode $($dvrsim get network.ethernet_password | cut -c1-4)).
  While it runs, change a setting and reload the page, for example:
    $dvrsim set security.covert 0
    $dvrsim set camera.analog.1.covert 1
  Simulator messages follow. Ctrl-C stops everything.

MSG
wait "$sim_pid"
