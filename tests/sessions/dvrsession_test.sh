#!/bin/sh
# dvrsession_test.sh - the command-line client against a running simulator:
# each family answers, and the client's exit status and message tell when no
# simulator runs, an upload is cancelled or a request passes its time limit.
# Usage (inside ns-run): dvrsession_test.sh DVRSIM DVRSESSION
sim=$1 cli=$2

# expect STATUS TEXT ARGS...: the client run with ARGS exits with STATUS and
# its output holds TEXT.
expect() {
  status=$1 want=$2; shift 2
  out=$($cli "$@" 2>&1); rc=$?
  [ $rc = "$status" ] && echo "$out" | grep -q -- "$want" || { echo "FAIL: $*: $rc: $out"; exit 1; }
}
expect 2 "start it first" dhcp
$sim run >/dev/null 2>&1 &
simpid=$!
trap 'kill -CONT $simpid 2>/dev/null; kill $simpid 2>/dev/null; wait $simpid' EXIT
for _ in $(seq 100); do $cli upload-status >/dev/null 2>&1 && break; sleep 0.05; done
expect 0 "address        192.168.1.50" dhcp
expect 0 "lease expires" release
expect 0 "336 results" search --from 0 --cameras 0x8
expect 0 "level 0, blocks 0 .. 1679616 of 1679616" map
expect 0 "level 1, blocks 93312 .. 139968" map --conn 1 --zoom 1 --target 2
expect 0 "status 0 (free), received 1000 of 1000 bytes" upload --size 1000 --piece 300
expect 1 "cancelled after 300 bytes" upload --size 1000 --piece 300 --cancel-after 300
expect 0 "2001-09-09 01:46:40 UTC" clock 1000000000
kill -STOP $simpid
expect 3 "within 1 s (time limit" --timeout 1 map
echo "dvrsession: all families answered; time limit honoured"
