#!/bin/sh
# dvrsession_test.sh - the command-line client against a running simulator:
# each family answers, and an unanswered disk-map request ends at the time
# limit with its message. Usage (inside ns-run): dvrsession_test.sh DVRSIM DVRSESSION
sim=$1
cli=$2
fail() { echo "FAIL: $*"; exit 1; }

out=$($cli dhcp 2>&1); rc=$?
[ $rc = 2 ] && echo "$out" | grep -q "start it first" || fail "no simulator: rc $rc, $out"

$sim run >/dev/null 2>&1 &
simpid=$!
trap 'kill -CONT $simpid 2>/dev/null; kill $simpid 2>/dev/null; wait $simpid' EXIT
for _ in $(seq 100); do $cli upload-status >/dev/null 2>&1 && break; sleep 0.05; done

# command | text its output must hold
while IFS='|' read -r args want; do
  out=$($cli $args 2>&1) || fail "$args: exit status $?: $out"
  echo "$out" | grep -q -- "$want" || fail "$args: no '$want' in: $out"
done <<'CASES'
dhcp|address        192.168.1.50
release|lease expires
search --from 0 --cameras 0x8|336 results
map|level 0, blocks 0 .. 1679616 of 1679616
map --conn 1 --zoom 1 --target 2|level 1, blocks 93312 .. 139968
upload --size 1000 --piece 300|status 0 (free), received 1000 of 1000 bytes
clock 1000000000|2001-09-09 01:46:40 UTC
CASES

out=$($cli upload --size 1000 --piece 300 --cancel-after 300 2>&1)
[ $? = 1 ] && echo "$out" | grep -q "cancelled after 300 bytes" || fail "cancel: $out"

kill -STOP $simpid
out=$($cli --timeout 1 map 2>&1); rc=$?
[ $rc = 3 ] && echo "$out" | grep -q "within 1 s (time limit" || fail "time limit: rc $rc, $out"
echo "dvrsession: all families answered; time limit honoured"
