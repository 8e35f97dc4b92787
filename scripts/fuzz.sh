#!/bin/bash
# Fuzzing campaign over the parsers of outside input: builds the libFuzzer
# entries, runs each for a set time in its own scratch folder inside the
# namespace runner, merges new interesting inputs into fuzz/corpus/<entry>
# and prints per entry: executions, coverage, corpus size and findings.
#
# Usage: scripts/fuzz.sh [-t SECONDS] [-j PARALLEL] [-o SCRATCH] [ENTRY...]
#   defaults: 60 seconds per entry, 2 entries at a time, every entry,
#   scratch folder build-fuzz/campaign. Exit status 1 when an entry found a
#   crash, leak, timeout or memory overrun, or left a temporary file behind.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
all_entries="urlencoded multipart header cookie capture id simsession"

# Inner stage, inside ns-run: one fuzzer run with a private /tmp and
# /var/www; counts upload temporary files left in /tmp afterwards.
if [ "${1:-}" = "--inner" ]; then
  shift
  entry=$1 seconds=$2
  set +e
  # The request layer's entries share its dictionary; the simulator's entry
  # reads binary scripts and finds its constants by comparison tracing.
  dict=-dict="$root/fuzz/cgi_request.dict"
  [ "$entry" != simsession ] || dict=
  TIMEFORMAT='cpu seconds: %U %S'  # the fuzzer's CPU time, user and system
  time "$build/fuzz_$entry" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 $dict new seeds
  status=$?
  echo "leftover temporary files: $(find /tmp -maxdepth 1 -name 'cgi*' | wc -l)"
  exit $status
fi

seconds=60 parallel=2 scratch=$build/campaign
while getopts t:j:o: opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) parallel=$OPTARG ;;
    o) scratch=$OPTARG ;;
    *) sed -n 's/^# \{0,1\}//;6,9p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
entries=${*:-$all_entries}

for p in clang-14 libfuzzer-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || "$root/scripts/install-deps.sh" "$p"
done
[ -f "$build/CMakeCache.txt" ] || CXX=clang++-14 cmake -S "$root/fuzz" -B "$build" >/dev/null
targets=""
for e in $entries; do targets="$targets fuzz_$e"; done
cmake --build "$build" -j2 --target $targets >/dev/null

# One entry: fresh scratch folder (crash files land in the cwd), the stored
# corpus copied in as seeds, new inputs kept apart for the merge.
run_entry() {
  local e=$1 dir=$scratch/$1
  rm -rf "$dir" && mkdir -p "$dir/new" && cp -r "$root/fuzz/corpus/$e" "$dir/seeds"
  (cd "$dir" && nice -n 10 "$root/scripts/ns-run" "$root/scripts/fuzz.sh" --inner "$e" "$seconds" >log 2>&1) || true
}

mkdir -p "$scratch"
for e in $entries; do
  [ -x "$build/fuzz_$e" ] || { echo "fuzz.sh: unknown entry $e" >&2; exit 2; }
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "running $e for ${seconds}s" >&2
  run_entry "$e" &
done
wait

# Merge: the named inputs (seeds, regression cases) always stay; of the
# fuzzer-named ones (hash names), stored and new, only those adding coverage
# beyond the named ones are kept, so the stored corpus stays small.
merge_entry() {
  local e=$1 dir=$scratch/$1 corpus=$root/fuzz/corpus/$1
  rm -rf "$dir/kept" "$dir/hashed" && mkdir "$dir/kept" "$dir/hashed"
  find "$corpus" -maxdepth 1 -type f -regextype posix-extended -regex '.*/[0-9a-f]{40}' -exec mv -t "$dir/hashed" {} +
  cp "$corpus"/* "$dir/kept/"
  if (cd "$dir" && "$root/scripts/ns-run" "$build/fuzz_$e" -merge=1 kept hashed new >merge.log 2>&1); then
    find "$dir/kept" -maxdepth 1 -type f -regextype posix-extended -regex '.*/[0-9a-f]{40}' -exec cp -t "$corpus" {} +
  else
    cp "$dir/hashed"/* "$corpus/" 2>/dev/null || true
    echo "fuzz.sh: merge of $e failed, corpus left as it was; see $dir/merge.log" >&2
  fi
}

failed=0
printf '%-11s %6s %12s %8s %8s %7s %9s %s\n' entry cpu_s executions cov ft corpus KiB findings
for e in $entries; do
  dir=$scratch/$e
  merge_entry "$e"
  cpu=$(awk '/^cpu seconds:/ {printf "%.0f", $3 + $4}' "$dir/log")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  last=$(grep -aE '^#[0-9]+[[:space:]].*cov: ' "$dir/log" | tail -n 1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$root/fuzz/corpus/$e" -type f | wc -l)
  kib=$(du -sk "$root/fuzz/corpus/$e" | cut -f1)
  findings=$(cd "$dir" && ls crash-* leak-* timeout-* oom-* slow-unit-* 2>/dev/null | tr '\n' ' ')
  leftover=$(sed -n 's/^leftover temporary files: //p' "$dir/log")
  [ "${leftover:-0}" -eq 0 ] || findings="$findings leftover-tmp=$leftover"
  [ -z "$findings" ] || failed=1
  printf '%-11s %6s %12s %8s %8s %7s %9s %s\n' "$e" "${cpu:-?}" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$kib" "${findings:-none}"
done
echo "logs and findings under $scratch" >&2
exit $failed
