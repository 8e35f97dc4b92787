#!/bin/bash
# Installs BUILD_DIR's libraries into a stage, builds the C example against
# it with pkg-config and with the CMake package, and runs both against the
# simulator: a GET with fields and a cookie, a multipart upload, an unknown user.
# Usage: example_test.sh BUILD_DIR [mips]  (mips: the big-endian cross build;
# the programs are cross-compiled and run under $ZEL_EMULATOR)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" = --run ]; then
  # Inside scripts/ns-run: private IPC objects, /tmp and /var/www.
  dvrsim=$2; shift 2
  emu=${ZEL_EMULATOR:-}
  $emu "$dvrsim" run --replace >/tmp/dvrsim.log 2>&1 &
  sim=$!
  trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
  for _ in $(seq 200); do $emu "$dvrsim" users >/dev/null 2>&1 && break; sleep 0.05; done
  file=$(head -c 3000 /dev/zero | tr '\0' z)
  body=$(printf -- '--XyZ\r\nContent-Disposition: form-data; name="note"\r\n\r\nhi\r\n--XyZ\r\nContent-Disposition: form-data; name="file"; filename="a.bin"\r\n\r\n%s\r\n--XyZ--\r\n' "$file")
  device="user: operator level 2
model: 2 channels 16 brand 1"
  # Form fields and the cookie from a GET; the upload from a multipart POST,
  # whose part bodies reach only the hook (the entries keep metadata).
  expect_get="$device
note: hello there
count: 7
cookie: 42
upload: ; 0 bytes in 0 pieces, 0 ends"
  expect_post="$device
note: 
count: 1
cookie: (none)
upload: a.bin; 3002 bytes in 4 pieces, 2 ends"
  get() {
    env -i REMOTE_USER="$2" REQUEST_METHOD=GET QUERY_STRING='note=hello%20there&count=7' \
      HTTP_COOKIE='theme=dark; session=42' $emu "$1"
  }
  post() {
    printf '%s' "$body" | env -i REMOTE_USER=operator REQUEST_METHOD=POST \
      CONTENT_TYPE='multipart/form-data; boundary=XyZ' CONTENT_LENGTH=${#body} $emu "$1"
  }
  # The page after the header's blank line; fails unless the header sets the
  # cookie and the plain-text type.
  page() {
    local out; out=$(tr -d '\r')
    grep -q '^Set-Cookie: visited=yes;' <<<"$out" && grep -q '^Content-type: text/plain$' <<<"$out" &&
      sed '1,/^$/d' <<<"$out"
  }
  fail=0
  for prog in "$@"; do
    name=$(basename "$(dirname "$prog")")
    set +e
    got_get=$(get "$prog" operator | page); s_get=$?
    got_post=$(post "$prog" | page); s_post=$?
    get "$prog" nobody >/dev/null; s_unknown=$?
    set -e
    if [ "$got_get" = "$expect_get" ] && [ "$got_post" = "$expect_post" ] && [ $s_get = 0 ] &&
      [ $s_post = 0 ] && [ $s_unknown = 255 ]; then
      echo "ok   $name: fields, cookie, header, upload hook, accessor, user level"
    else
      echo "FAIL $name (statuses $s_get $s_post, unknown user $s_unknown)"
      printf '%s\n--\n%s\n' "$got_get" "$got_post"; fail=1
    fi
  done
  exit $fail
fi

build=$(cd "$1" && pwd)
stage=$build/stage
# The stage is shared with scripts/build-pages.sh: installing overwrites it.
rm -rf "$build/example-pc" "$build/example-cmake"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

mkdir -p "$build/example-pc"
pc="env PKG_CONFIG_LIBDIR=$stage/usr/lib/pkgconfig pkg-config"
if [ "${2:-}" = mips ]; then
  cc="mips-linux-gnu-gcc -static -D_FILE_OFFSET_BITS=64"
  cmake_args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mips.cmake"
    -Dzelcgi_DIR="$stage/usr/lib/cmake/zelcgi")
else
  cc=gcc
  cmake_args=(-DCMAKE_PREFIX_PATH="$stage/usr")
fi
# shellcheck disable=SC2046
$cc -std=c99 -Wall -Wextra -Werror -pedantic -o "$build/example-pc/device_info.cgi" \
  "$root/examples/device_info/device_info.c" $($pc --cflags --libs dvr_util)
cmake -S "$root/examples/device_info" -B "$build/example-cmake" "${cmake_args[@]}" >/dev/null
cmake --build "$build/example-cmake" >/dev/null
"$root/scripts/ns-run" "$0" --run "$build/simulator/dvrsim/dvrsim" \
  "$build/example-pc/device_info.cgi" "$build/example-cmake/device_info.cgi"
