#!/bin/bash
# Mutation check: makes one small source edit at a time from a list kept in
# the repository, in a private copy of the tree, rebuilds incrementally, runs
# the ctest entries that the edit names and reports whether the tests caught
# it (killed), missed it (survived), or could not try it: "stale" when the
# original text is no longer found exactly once, "no-build" when the edited
# tree does not compile ("no-tests" when the selection names no entry). The
# working tree itself is never edited.
#
# Usage: scripts/mutate.sh [-l LIST] [-o WORKDIR] [-j JOBS] [-t PERCENT] [ID...]
#   defaults: tests/mutations.txt, build-mut/mutate, 2 jobs, 95 percent, every
#   edit. The copy (WORKDIR/tree) and its build (WORKDIR/build) are kept, so a
#   second run rebuilds only what changed. One line per edit goes to standard
#   output and to WORKDIR/results.txt. Exit status 1 when fewer than PERCENT
#   of the edits tried were killed, or an edit is stale.
#
# List format: records separated by blank lines; '#' lines are comments.
#   id: NAME           one word
#   file: PATH         relative to the repository root
#   tests: REGEX       ctest -R selection run against the edit
#   - ORIGINAL         exact text, one line; \n stands for a line break,
#   + REPLACEMENT      \t for a tab and \\ for a backslash
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tests/mutations.txt work=$root/build-mut/mutate jobs=2 threshold=95
while getopts l:o:j:t: opt; do
  case $opt in
    l) list=$(cd "$(dirname "$OPTARG")" && pwd)/$(basename "$OPTARG") ;;
    o) work=$OPTARG ;;
    j) jobs=$OPTARG ;;
    t) threshold=$OPTARG ;;
    *) sed -n '10,15p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
tree=$work/tree build=$work/build
mkdir -p "$tree"

# The list parser and the one-edit helper; every list access goes through it.
tool() {
  python3 - "$list" "$tree" "$@" <<'PY'
import filecmp, os, re, shutil, subprocess, sys
lst, tree, op = sys.argv[1:4]
args = sys.argv[4:]

def unescape(s):
    return re.sub(r'\\(.)', lambda m: {'n': '\n', 't': '\t'}.get(m.group(1), m.group(1)), s)

def records():
    out, cur = [], {}
    for line in open(lst, encoding='utf-8').read().split('\n') + ['']:
        if line.startswith('#'):
            continue
        if not line.strip():
            if cur:
                out.append(cur)
            cur = {}
        elif line[:2] in ('- ', '+ '):
            cur['old' if line[0] == '-' else 'new'] = unescape(line[2:])
        else:
            key, _, value = line.partition(':')
            cur[key.strip()] = value.strip()
    for r in out:
        missing = {'id', 'file', 'tests', 'old', 'new'} - r.keys()
        if missing:
            sys.exit('%s: record %s lacks %s' % (lst, r.get('id', '?'), ', '.join(sorted(missing))))
    return out

if op == 'sync':
    # Mirrors the working tree's files (tracked and new, not ignored) into
    # the copy, writing only those whose bytes differ: their new times make
    # the build redo what they reach, and nothing else.
    root = args[0]
    names = subprocess.run(['git', '-C', root, 'ls-files', '-co', '--exclude-standard', '-z'],
                           check=True, capture_output=True).stdout.decode().split('\0')
    keep = {n for n in names if n and os.path.isfile(os.path.join(root, n))}
    for n in keep:
        src, dst = os.path.join(root, n), os.path.join(tree, n)
        if not os.path.isfile(dst) or not filecmp.cmp(src, dst, shallow=False):
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copyfile(src, dst)
            shutil.copymode(src, dst)
    for d, _, files in os.walk(tree):
        for f in files:
            if os.path.relpath(os.path.join(d, f), tree) not in keep:
                os.remove(os.path.join(d, f))
    sys.exit(0)

recs = records()
if op == 'ids':
    print(' '.join(r['id'] for r in recs))
elif op == 'union':
    print('|'.join(sorted({r['tests'] for r in recs})))
else:
    rec = next((r for r in recs if r['id'] == args[0]), None)
    if rec is None:
        sys.exit('no edit named ' + args[0])
    if op == 'get':
        print(rec[args[1]])
    elif op == 'apply':
        path = os.path.join(tree, rec['file'])
        text = open(path, encoding='utf-8').read() if os.path.exists(path) else ''
        if text.count(rec['old']) != 1:
            print('stale')
        else:
            open(path, 'w', encoding='utf-8').write(text.replace(rec['old'], rec['new']))
            print('applied')
PY
}

# A fresh copy of the working tree's files (tracked and new, not ignored).
# tar keeps their times, so the build sees only what changed since last run.
# The file an edit is applied to is named in WORKDIR/applied until it is
# restored; a run that was stopped meanwhile restores it first.
if [ -f "$work/applied" ]; then
  rm -f "$tree/$(cat "$work/applied")"
  rm "$work/applied"
fi
tool sync "$root"
applied=""
restore() {
  if [ -n "$applied" ]; then
    cp "$root/$applied" "$tree/$applied"  # a new time: the build redoes the edit's objects
    rm -f "$work/applied"
    applied=""
  fi
}
trap restore EXIT
trap 'exit 130' INT TERM

ids=${*:-$(tool ids)}
[ -f "$build/build.ninja" ] ||
  cmake -S "$tree" -B "$build" -G Ninja -DZEL_BUILD_BENCH=OFF -DZEL_STREAMS=OFF >/dev/null
echo "== baseline: build and the selected entries without edits"
cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1 || { tail -30 "$work/build.log"; exit 1; }
(cd "$build" && ctest -R "$(tool union)" -j "$jobs" --timeout 180 -Q --output-on-failure) ||
  { echo "baseline fails: fix the tests first" >&2; exit 1; }

: >"$work/results.txt"
killed=0 survived=0 stale=0 nobuild=0
for id in $ids; do
  file=$(tool get "$id" file) tests=$(tool get "$id" tests)
  start=$(date +%s)
  echo "$file" >"$work/applied"
  if [ "$(tool apply "$id")" = stale ]; then
    rm "$work/applied"
    verdict=stale
  else
    applied=$file
    # Everything that the edited file reaches is rebuilt, not only the test
    # programs: they run other programs of the build (the viewer, dvrsim...).
    if ! cmake --build "$build" -j "$jobs" >"$work/build.log" 2>&1; then
      verdict=no-build
      cp "$work/build.log" "$work/no-build-$id.log"
    elif [ "$(cd "$build" && ctest -N -R "$tests" | grep -c '^ *Test *#')" = 0 ]; then
      verdict=no-tests  # the selection names no entry: a mistake in the list
    elif (cd "$build" && ctest -R "$tests" -j "$jobs" --timeout 180 -Q >/dev/null 2>&1); then
      verdict=survived
    else
      verdict=killed
    fi
    restore
  fi
  case $verdict in
    killed) killed=$((killed + 1)) ;;
    survived) survived=$((survived + 1)) ;;
    stale) stale=$((stale + 1)) ;;
    *) nobuild=$((nobuild + 1)) ;;
  esac
  printf '%-9s %-34s %-44s %ss\n' "$verdict" "$id" "$file" $(($(date +%s) - start)) |
    tee -a "$work/results.txt"
done
tried=$((killed + survived))
rate=$((tried ? killed * 100 / tried : 0))
echo "killed $killed of $tried tried ($rate%); survived $survived, stale $stale, not tried $nobuild" |
  tee -a "$work/results.txt"
[ "$rate" -ge "$threshold" ] && [ "$stale" -eq 0 ]
