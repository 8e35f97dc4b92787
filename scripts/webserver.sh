#!/bin/bash
# Starts and stops a web server serving the viewer on 127.0.0.1 with HTTP
# basic authentication, so REMOTE_USER reaches zelbrowser.cgi as on the
# device: lighttpd, or BusyBox httpd, the web server of many small devices.
#
# Usage:
#   scripts/webserver.sh start BUILD_DIR PORT RUNDIR [lighttpd|busybox]
#   scripts/webserver.sh stop RUNDIR
#
# start: needs a running simulator (BUILD_DIR/simulator/dvrsim/dvrsim run),
#   whose enabled users become the basic-auth users (`dvrsim users`), unless
#   ZEL_USERS_FILE names a "name:password" file to use instead. Creates
#   RUNDIR (config, logs, pid file, user file) and RUNDIR/htdocs: links to
#   the web content of this source tree and to the built zelbrowser.cgi.
#   Returns once the server accepts connections; exit status 1 otherwise.
#   The program's address is written to RUNDIR/cgi-path:
#     lighttpd: curl -u admin:admin http://127.0.0.1:PORT/zelbrowser.cgi
#     busybox:  curl -u admin:admin http://127.0.0.1:PORT/cgi-bin/zelbrowser.cgi
#   (BusyBox runs programs only from cgi-bin/, which also holds the page
#   templates the program reads from its folder; the page's images and
#   scripts are not found from there, so use lighttpd for a browser.)
#   Logs: RUNDIR/error.log (server), RUNDIR/access.log (lighttpd only) and
#   RUNDIR/cgi-stderr.log, the programs' standard error: perror reports,
#   the log module's lines and sanitizer reports.
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

# The web content and the program in one folder: the document root for
# lighttpd, its cgi-bin/ for busybox. Prints the program's URL path.
make_docroot() {
  local build=$1 docroot=$2 server=$3 sub="" f
  rm -rf "$docroot" && mkdir -p "$docroot"
  [ "$server" = lighttpd ] || { sub=cgi-bin/; mkdir "$docroot/$sub"; }
  for f in "$source_dir"/web/*; do ln -s "$f" "$docroot/$sub"; done
  if [ -d "$build/pages" ]; then  # the device pages (scripts/build-pages.sh) and their landing page
    for f in "$build"/pages/*.cgi "$source_dir"/pages/www/*; do ln -s "$f" "$docroot/$sub"; done
  fi
  [ -e "$docroot/${sub}index.html" ] || cp "$here/webserver/index.html" "$docroot/$sub"
  ln -s "$build/cgi/zelbrowser.cgi" "$docroot/${sub}zelbrowser.cgi"
  echo "/${sub}zelbrowser.cgi"
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

start_lighttpd() {
  local rundir=$1 port=$2
  command -v lighttpd >/dev/null || die "lighttpd is not installed (scripts/install-deps.sh)"
  mkdir -p "$rundir/upload"
  sed -e "s|@RUNDIR@|$rundir|g" -e "s|@PORT@|$port|g" "$here/webserver/lighttpd.conf.in" >"$rundir/lighttpd.conf"
  lighttpd -tt -f "$rundir/lighttpd.conf" >/dev/null || die "configuration refused: $rundir/lighttpd.conf"
  lighttpd -f "$rundir/lighttpd.conf" || die "lighttpd did not start (see $rundir/error.log)"
}

# BusyBox httpd in the foreground of a background job: basic authentication
# for the whole site from "/:name:password" lines; its standard error, which
# its programs inherit, goes to cgi-stderr.log. It has no bound on request
# bodies and streams them to the program as they arrive.
start_busybox() {
  local rundir=$1 port=$2
  busybox httpd --help 2>&1 | grep -q -- '-c FILE' || die "busybox httpd is not installed (scripts/install-deps.sh busybox)"
  (umask 077 && sed 's|^|/:|' "$rundir/users" >"$rundir/httpd.conf")
  busybox httpd -f -v -p "127.0.0.1:$port" -h "$rundir/htdocs" -c "$rundir/httpd.conf" -r DVR \
    </dev/null >/dev/null 2>>"$rundir/cgi-stderr.log" &
  echo $! >"$rundir/busybox.pid"
}

start() {
  [ $# -eq 3 ] || [ $# -eq 4 ] || die "usage: webserver.sh start BUILD_DIR PORT RUNDIR [lighttpd|busybox]"
  local build rundir port=$2 server=${4:-lighttpd} i p
  case $server in lighttpd | busybox) ;; *) die "unknown web server $server" ;; esac
  build=$(cd "$1" && pwd) || die "no build directory $1"
  [ -x "$build/cgi/zelbrowser.cgi" ] || die "$build/cgi/zelbrowser.cgi is not built"
  mkdir -p "$3" && rundir=$(cd "$3" && pwd)
  for p in "$rundir"/*.pid; do
    [ ! -f "$p" ] || ! kill -0 "$(cat "$p")" 2>/dev/null ||
      die "a server already runs for $rundir (webserver.sh stop $rundir)"
  done
  port_open "$port" && die "port $port is already in use"
  make_docroot "$build" "$rundir/htdocs" "$server" >"$rundir/cgi-path"
  make_users "$build" "$rundir/users"
  : >"$rundir/cgi-stderr.log"
  "start_$server" "$rundir" "$port"
  for i in $(seq 100); do
    port_open "$port" && return 0
    sleep 0.05
  done
  die "$server does not answer on port $port (see $rundir/error.log, $rundir/cgi-stderr.log)"
}

stop() {
  [ $# -eq 1 ] || die "usage: webserver.sh stop RUNDIR"
  local pidfile pid i
  for pidfile in "$1"/lighttpd.pid "$1"/busybox.pid; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || { rm -f "$pidfile"; continue; }
    for i in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -0 "$pid" 2>/dev/null && die "the web server (pid $pid) did not stop"
    rm -f "$pidfile"
  done
  return 0
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case $cmd in
  start) start "$@" ;;
  stop) stop "$@" ;;
  *) die "usage: webserver.sh start BUILD_DIR PORT RUNDIR [lighttpd|busybox] | stop RUNDIR" ;;
esac
