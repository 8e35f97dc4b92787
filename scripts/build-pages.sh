#!/bin/sh
# Installs the libraries of BUILD_DIR into BUILD_DIR/stage and builds the
# device pages (pages/) against that installation, as a device engineer's
# own programs are built: only the installed headers and CMake package.
# A sanitizer build's libraries are instrumented, so the pages then get the
# same instrumentation (read from BUILD_DIR/CMakeCache.txt, ZEL_SANITIZE).
# The programs land in BUILD_DIR/pages/*.cgi, where scripts/webserver.sh
# finds them.
# Usage: scripts/build-pages.sh BUILD_DIR
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: build-pages.sh BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
san=$(sed -n 's/^ZEL_SANITIZE:BOOL=//p' "$build/CMakeCache.txt")
DESTDIR=$build/stage cmake --install "$build" --prefix /usr >/dev/null
cmake -S "$root/pages" -B "$build/pages" -DCMAKE_PREFIX_PATH="$build/stage/usr" \
  -DZEL_PAGES_SANITIZE="${san:-OFF}" >/dev/null
cmake --build "$build/pages" -j2
