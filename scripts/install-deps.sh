#!/bin/sh
# Installs the Debian packages this project needs and that are missing.
# Usage: scripts/install-deps.sh [extra-package...]
set -e
base="g++ cmake make libgtest-dev libbenchmark-dev lighttpd util-linux procps iproute2 curl time valgrind wrk
  libturbojpeg0-dev libcpp-httplib-dev pkg-config"
missing=""
for p in $base "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
