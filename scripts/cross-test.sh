#!/bin/sh
# Proves the system on the reference device's kind of processor: cross-builds
# everything for big-endian 32-bit MIPS, runs the tests under qemu-mips, shows
# System V objects shared by separate emulated processes, and checks that
# capture files written on one byte order read back identically on the other.
# Usage: scripts/cross-test.sh   (as root, like scripts/test.sh)
set -e
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)
jobs=2
toolchain=$root/cmake/toolchain-mips.cmake
gtest_build=$root/build-mips-gtest/build
gtest_prefix=$root/build-mips-gtest/install
build=$root/build-mips
host=$root/build-mips-host
work=$build/cross-check

# Inside the namespace runner: the simulator, its command line and the viewer
# as separate emulated processes share the segment, the semaphore set and the
# queue of key 1632. The simulator's camera count is changed by one process,
# read back by another, and shown by the viewer's page; a DHCP request goes to
# the simulator as a message and its answer comes back in shared memory.
if [ "$1" = --shared-objects ]; then
  sim="$ZEL_EMULATOR $build/simulator/dvrsim/dvrsim"
  $sim run --replace >"$work/dvrsim.log" 2>&1 &
  simpid=$!
  trap 'kill $simpid 2>/dev/null; wait $simpid' EXIT
  for _ in $(seq 100); do $sim users >/dev/null 2>&1 && break; sleep 0.05; done
  ipcs
  $sim set model.channels 8
  [ "$($sim get model.channels)" = 8 ]
  (cd web && env REMOTE_USER=admin REQUEST_METHOD=GET $ZEL_EMULATOR "$build/cgi/zelbrowser.cgi") \
    | grep -q 'm_CameraCount=8;'
  echo "camera count set by one emulated process, read by another and shown by the viewer"
  $ZEL_EMULATOR "$build/tools/dvrsession/dvrsession" --timeout 10 dhcp | grep '^address .*192\.168\.1\.50$'
  echo "DHCP request sent as a message by one emulated process, answered by another"
  exit 0
fi

scripts/install-deps.sh g++-mips-linux-gnu qemu-user

# Target programs started by other programs (test drivers start the viewer
# and the simulator) go through this emulator, named by its full path so that
# a driver may start it with execve; the loader prefix serves any dynamically
# linked program.
ZEL_EMULATOR=$(command -v qemu-mips)
QEMU_LD_PREFIX=/usr/mips-linux-gnu
export ZEL_EMULATOR QEMU_LD_PREFIX

# Without a binfmt handler for MIPS the kernel refuses to run a target binary,
# so whatever passes here really went through the emulator.
for h in /proc/sys/fs/binfmt_misc/qemu-mips /proc/sys/fs/binfmt_misc/mips; do
  if [ -e "$h" ] && grep -q enabled "$h"; then
    echo "note: $h is registered; target programs could run without the emulator"
  fi
done

# Builds configured with an older toolchain file start afresh: compiler flags
# are taken from it only on a build's first configuration.
for d in "$gtest_build" "$build"; do
  if [ "$toolchain" -nt "$d/CMakeCache.txt" ]; then
    rm -rf "$d/CMakeCache.txt" "$d/CMakeFiles"
  fi
done

echo "== GoogleTest for the target"
if [ ! -f "$gtest_build/CMakeCache.txt" ] || [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest_build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" >/dev/null
  cmake --build "$gtest_build" -j "$jobs" >/dev/null
  cmake --install "$gtest_build" >/dev/null
fi

echo "== cross build ($build)"
# The toolchain is read on the first configuration only; naming it again
# would just draw a warning.
[ -f "$build/CMakeCache.txt" ] || first="-DCMAKE_TOOLCHAIN_FILE=$toolchain"
cmake -S . -B "$build" ${first:-} -DZEL_BUILD_BENCH=OFF -DZEL_STATIC_PROGRAM=ON >/dev/null
if ! cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log"
  exit 1
fi

# ELF class 32-bit (01), data big-endian (02), machine MIPS (0008).
for prog in cgi/zelbrowser.cgi simulator/dvrsim/dvrsim; do
  ident=$(od -An -tx1 -N20 "$build/$prog" | tr -d ' \n' | cut -c9-12,37-40)
  [ "$ident" = 01020008 ] || { echo "$prog is not a 32-bit big-endian MIPS program" >&2; exit 1; }
done
echo "zelbrowser.cgi and dvrsim: ELF 32-bit, big-endian, MIPS"

echo "== host build for the byte-order comparison ($host)"
cmake -S . -B "$host" -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$host" -j "$jobs" --target envc_roundtrip envcdump >/dev/null

# ctest puts the emulator in front of a test's command only when the command
# itself is a target; tests started behind the namespace runner without it
# get it here, between the runner and the target binary (the paths as the
# build itself wrote them).
src=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
bin=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
find "$build" -name CTestTestfile.cmake -exec \
  sed -i "s#\"$src/scripts/ns-run\" \"$bin/#\"$src/scripts/ns-run\" \"$ZEL_EMULATOR\" \"$bin/#" {} +

echo "== tests under qemu-mips"
# The tests through the web server (HTTP, faults over HTTP, browser) have the
# host's web server start the program itself, with no emulator in between.
# A failure is noted and the checks below still run.
failed=
(cd "$build" && ctest --output-on-failure -j "$jobs" -E '^(zelbrowser_http_.*|faults_http|browser_viewer)$') ||
  failed="$failed tests"

echo "== C example against the installed MIPS libraries"
tests/examples/example_test.sh "$build" mips || failed="$failed example"

rm -rf "$work" && mkdir -p "$work"
echo "== System V objects shared by separate qemu-mips processes"
scripts/ns-run "$root/scripts/cross-test.sh" --shared-objects || failed="$failed shared-objects"

echo "== capture files across byte orders"
# Runs the capture program of build $1 with ENVC_IN=$2 (may be empty) and
# ENVC_OUT=$3 on one fixed URL-encoded POST request.
capture() {
  emu=
  [ "$1" = "$build" ] && emu=$ZEL_EMULATOR
  body='id=0A1B2C3D4E5&note=a+b%26c&id=again'
  printf %s "$body" | env ${2:+ENVC_IN=$2} ENVC_OUT="$3" REQUEST_METHOD=POST \
    CONTENT_TYPE='application/x-www-form-urlencoded; charset=utf-8' \
    CONTENT_LENGTH=${#body} REMOTE_USER=admin HTTP_COOKIE=lang=2 \
    scripts/ns-run $emu "$1/tests/byteorder/envc_roundtrip"
}
sh tests/byteorder/make-seed.sh "$work/seed.envc"
for side in "$host" "$build"; do
  tag=$(basename "$side")
  capture "$side" "" "$work/request.$tag.envc"
  capture "$side" "$work/seed.envc" "$work/seed.$tag.envc"
done
cmp "$work/request.build-mips-host.envc" "$work/request.build-mips.envc"
echo "a request saved on x86 and on MIPS: identical files"
# Each side restores what the other saved and must save the same bytes again.
capture "$build" "$work/request.build-mips-host.envc" "$work/x86-read-on-mips.envc"
capture "$build" "$work/seed.build-mips-host.envc" "$work/x86-seed-read-on-mips.envc"
capture "$host" "$work/request.build-mips.envc" "$work/mips-read-on-x86.envc"
capture "$host" "$work/seed.build-mips.envc" "$work/mips-seed-read-on-x86.envc"
echo "files saved on each byte order restored and saved again unchanged on the other"
# Both dump tools print the same of every file, with the integers decoded as
# written: the seed's content length 0x01020304 and the request's body length.
for f in "$work"/*.envc; do
  "$host/tools/envcdump/envcdump" "$f" >"$f.x86.txt"
  $ZEL_EMULATOR "$build/tools/envcdump/envcdump" "$f" >"$f.mips.txt"
  cmp "$f.x86.txt" "$f.mips.txt"
done
grep -qx 'CONTENT_LENGTH: 16909060' "$work/seed.build-mips.envc.mips.txt"
grep -qx 'CONTENT_LENGTH: 36' "$work/request.build-mips-host.envc.mips.txt"
echo "$(ls "$work"/*.envc | wc -l) capture files dumped alike on x86 and on MIPS"

elapsed=$(($(date +%s) - started))
if [ -n "$failed" ]; then
  echo "== cross-test FAILED ($failed ) after $elapsed s"
  exit 1
fi
echo "== cross-test passed in $elapsed s"
