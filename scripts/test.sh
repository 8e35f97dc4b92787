#!/bin/sh
# Installs what is missing, builds the project twice (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both,
# the real-browser test of the viewer pages included; then cross-builds for
# the big-endian 32-bit MIPS device and runs the tests again under qemu-mips.
# Before building it checks the one code format and the API reference; after
# the native tests it installs the libraries into a staging folder and builds
# and runs the C example against that installation.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang-format pkg-config doxygen
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
# The API reference builds from the public headers with no warning (every
# function, record, field and macro documented).
mkdir -p build-test-release && ZEL_API_OUT=build-test-release/api doxygen docs/api/Doxyfile
need=""
command -v node >/dev/null || need="$need nodejs"
command -v npm >/dev/null || need="$need npm"
scripts/install-deps.sh chromium iproute2 busybox $need
[ -d tests/browser/node_modules/puppeteer-core ] ||
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
jobs=$(nproc)
for variant in release sanitize; do
  dir=build-test-$variant
  if [ $variant = sanitize ]; then san=ON; else san=OFF; fi
  cmake -S . -B $dir -DZEL_SANITIZE=$san -DZEL_BUILD_BENCH=OFF >/dev/null
  cmake --build $dir -j "$jobs"
  scripts/build-pages.sh $dir   # the device pages, on the installed libraries, for the browser test
  echo "== tests ($variant)"
  (cd $dir && ctest --output-on-failure -j "$jobs")
done
echo "== C example against the installed libraries"
tests/examples/example_test.sh build-test-release
scripts/cross-test.sh
