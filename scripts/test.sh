#!/bin/sh
# Installs what is missing, builds the project twice (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in both.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
for variant in release sanitize; do
  dir=build-test-$variant
  if [ $variant = sanitize ]; then san=ON; else san=OFF; fi
  cmake -S . -B $dir -DZEL_SANITIZE=$san -DZEL_BUILD_BENCH=OFF >/dev/null
  cmake --build $dir -j "$jobs"
  echo "== tests ($variant)"
  (cd $dir && ctest --output-on-failure -j "$jobs")
done
