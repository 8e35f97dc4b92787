#!/bin/sh
# Proves the system on the reference device's kind of processor: cross-builds
# everything for big-endian 32-bit MIPS, runs every test under qemu-mips, and
# checks that capture files read back identically across byte orders.
# Usage: scripts/cross-test.sh   (as root, like scripts/test.sh)
set -e
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)
jobs=2
gtest_src=/usr/src/googletest
gtest_build=$root/build-mips-gtest/build
gtest_prefix=$root/build-mips-gtest/install
build=$root/build-mips
toolchain=$root/cmake/toolchain-mips.cmake
sysroot=/usr/mips-linux-gnu

scripts/install-deps.sh g++-mips-linux-gnu qemu-user

# Target programs started by other target programs (the end-to-end drivers
# start the viewer and the simulator) go through this emulator; the loader
# prefix serves any dynamically linked one.
ZEL_EMULATOR=qemu-mips
QEMU_LD_PREFIX=$sysroot
export ZEL_EMULATOR QEMU_LD_PREFIX

# Without a binfmt handler for MIPS the kernel refuses to run a target binary,
# so a passing test is one that really went through the emulator.
for h in /proc/sys/fs/binfmt_misc/qemu-mips /proc/sys/fs/binfmt_misc/mips; do
  if [ -e "$h" ] && grep -q enabled "$h"; then
    echo "note: $h is registered; target programs could run without the emulator"
  fi
done

echo "== GoogleTest for the target"
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S "$gtest_src" -B "$gtest_build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" >/dev/null
  cmake --build "$gtest_build" -j "$jobs" >/dev/null
  cmake --install "$gtest_build" >/dev/null
fi

echo "== cross build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DZEL_BUILD_BENCH=OFF -DZEL_STATIC_PROGRAM=ON >/dev/null
cmake --build "$build" -j "$jobs"

# ctest puts the emulator in front of a test's command only when that command
# is a target; tests that start behind the namespace runner get it here,
# between the runner and the target binary (a no-op once the build itself
# puts it there).
find "$build" -name CTestTestfile.cmake -exec \
  sed -i "s#\"$root/scripts/ns-run\" \"$build/#\"$root/scripts/ns-run\" \"$ZEL_EMULATOR\" \"$build/#" {} +

echo "== tests under qemu-mips"
(cd "$build" && ctest --output-on-failure -j "$jobs")

echo "== cross-test passed in $(($(date +%s) - started)) s"
