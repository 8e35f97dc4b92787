#!/bin/bash
# Starts and stops lighttpd serving the viewer on 127.0.0.1 with HTTP basic
# authentication, so REMOTE_USER reaches zelbrowser.cgi as on the device.
#
# Usage:
#   scripts/webserver.sh start BUILD_DIR PORT RUNDIR
#   scripts/webserver.sh stop RUNDIR
#
# start: needs a running simulator (BUILD_DIR/simulator/dvrsim/dvrsim run),
#   whose enabled users become the basic-auth users (`dvrsim users`), unless
#   ZEL_USERS_FILE names a "name:password" file to use instead. Creates
#   RUNDIR (config, logs, pid file, user file) and RUNDIR/htdocs: links to
#   the web content of this source tree and to BUILD_DIR/cgi/zelbrowser.cgi.
#   Returns once the server accepts connections; exit status 1 otherwise.
#   Then: curl -u admin:admin http://127.0.0.1:PORT/zelbrowser.cgi
#   Logs: RUNDIR/error.log, RUNDIR/access.log.
# stop: stops the server started with that RUNDIR and waits until it is gone.
#
# Tests and benchmarks: pick a free PORT and a private RUNDIR; inside
# scripts/ns-run the simulator and the server share the private IPC
# namespace, so start both inside the same ns-run command.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")

die() { echo "webserver.sh: $*" >&2; exit 1; }

# True once something accepts connections on 127.0.0.1:$1.
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

make_docroot() {
  local build=$1 docroot=$2 f
  rm -rf "$docroot" && mkdir -p "$docroot"
  for f in "$source_dir"/web/*; do ln -s "$f" "$docroot/"; done
  [ -e "$docroot/index.html" ] || cp "$here/webserver/index.html" "$docroot/"
  ln -s "$build/cgi/zelbrowser.cgi" "$docroot/zelbrowser.cgi"
}

make_users() (
  build=$1 users=$2
  umask 077   # the user file holds passwords in plain text
  if [ -n "${ZEL_USERS_FILE:-}" ]; then
    cp "$ZEL_USERS_FILE" "$users"
  else
    "$build/simulator/dvrsim/dvrsim" users >"$users" ||
      die "cannot list the users: is the simulator running? ($build/simulator/dvrsim/dvrsim run)"
  fi
  [ -s "$users" ] || die "no enabled user to log in with"
)

start() {
  [ $# -eq 3 ] || die "usage: webserver.sh start BUILD_DIR PORT RUNDIR"
  local build rundir port=$2 i
  build=$(cd "$1" && pwd) || die "no build directory $1"
  [ -x "$build/cgi/zelbrowser.cgi" ] || die "$build/cgi/zelbrowser.cgi is not built"
  command -v lighttpd >/dev/null || die "lighttpd is not installed (scripts/install-deps.sh)"
  mkdir -p "$3" && rundir=$(cd "$3" && pwd)
  [ ! -f "$rundir/lighttpd.pid" ] || ! kill -0 "$(cat "$rundir/lighttpd.pid")" 2>/dev/null ||
    die "a server already runs for $rundir (webserver.sh stop $rundir)"
  port_open "$port" && die "port $port is already in use"
  make_docroot "$build" "$rundir/htdocs"
  make_users "$build" "$rundir/users"
  sed -e "s|@RUNDIR@|$rundir|g" -e "s|@PORT@|$port|g" "$here/webserver/lighttpd.conf.in" >"$rundir/lighttpd.conf"
  lighttpd -tt -f "$rundir/lighttpd.conf" >/dev/null || die "configuration refused: $rundir/lighttpd.conf"
  lighttpd -f "$rundir/lighttpd.conf" || die "lighttpd did not start (see $rundir/error.log)"
  for i in $(seq 100); do
    port_open "$port" && return 0
    sleep 0.05
  done
  die "lighttpd does not answer on port $port (see $rundir/error.log)"
}

stop() {
  [ $# -eq 1 ] || die "usage: webserver.sh stop RUNDIR"
  local pidfile=$1/lighttpd.pid pid i
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || { rm -f "$pidfile"; return 0; }
  for i in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || { rm -f "$pidfile"; return 0; }
    sleep 0.05
  done
  die "lighttpd (pid $pid) did not stop"
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case $cmd in
  start) start "$@" ;;
  stop) stop "$@" ;;
  *) die "usage: webserver.sh start BUILD_DIR PORT RUNDIR | stop RUNDIR" ;;
esac
