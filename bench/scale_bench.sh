#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Memory and time of the programs on a large generated tree (run by hand, never by the tests):
# a first backup, a no-change run, `halvex-restore --list` and `--files`, each with its wall
# time, peak resident memory (/usr/bin/time -v) and that peak per file, and the time of a bare
# `find -printf` walk of the same tree for scale; with the windows built, the restore window with
# the same set open (build/bench/window_open_bench, offscreen) and its ratio to `--files`.
# usage: bench/scale_bench.sh N [WORK_FOLDER]
#   N            files in the tree (90% empty, the rest 1-4 KB; 100 files a folder)
#   WORK_FOLDER  where the tree and the archives go (default: a new folder under /tmp); a tree
#                of the same N already there is reused
set -euo pipefail
count=${1:?usage: bench/scale_bench.sh N [WORK_FOLDER]}
cd "$(dirname "$0")/.."
build=$(realpath "${HALVEX_BUILD_DIR:-build}")
backup=$build/bin/halvex-backup
restore=$build/bin/halvex-restore
work=${2:-$(mktemp -d /tmp/halvex-scale-bench-XXXXXX)}
mkdir -p "$work"
work=$(realpath "$work")
tree=$work/tree-$count

if [ ! -d "$tree" ]; then
  echo "generating $count files in $tree" >&2
  python3 - "$tree" "$count" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(35)
per_folder, per_parent = 100, 100
for i in range(count):
    folder = os.path.join(root, f"group{i // (per_folder * per_parent):04d}",
                          f"folder{(i // per_folder) % per_parent:03d}")
    if i % per_folder == 0:
        os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"file{i:08d}.dat"), "wb") as f:
        if i % 10 == 9:
            f.write(rng.randbytes(rng.randint(1024, 4096)))
PY
fi

# measure LABEL COMMAND...: runs it under /usr/bin/time -v; sets t_LABEL (s) and m_LABEL (KB)
# and returns the command's exit code.
measure() {
  local label=$1 rc=0
  shift
  /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/$label.out" 2>"$work/$label.err" || rc=$?
  local wall kb
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
         for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
  printf -v "t_$label" '%s' "$wall"
  printf -v "m_$label" '%s' "$kb"
  return $rc
}

rm -rf "$work/job"
mkdir -p "$work/job"
printf '[Scale]\r\ndir:"%s"\r\nto:"Data"\r\nzip:"%s/archives"\r\n' "$tree" "$work/job" > "$work/job/backup.ini"
find "$tree" -type f -exec cat {} + >/dev/null  # into the page cache

measure backup "$backup" --run --dir "$work/job" || [ $? -eq 4 ]
# An archive holds at most 65,535 entries: later runs store what the first had to leave.
for _ in $(seq 1 $((count / 30000 + 2))); do
  rc=0
  "$backup" --run --dir "$work/job" >/dev/null 2>&1 || rc=$?
  [ $rc -eq 4 ] || break
done
measure nochange "$backup" --run --dir "$work/job"
archive=$(ls -1 "$work/job/archives/"* | tail -n 1)
measure list "$restore" --list "$archive"
measure files "$restore" --files "$archive"
steps="backup nochange list files"
window_bench=$build/bench/window_open_bench
if [ -x "$window_bench" ] && measure window env QT_QPA_PLATFORM=offscreen "$window_bench" "$archive"; then
  steps="$steps window"
fi
listed=$(wc -l < "$work/files.out")
start=$(date +%s.%N)
find "$tree" -printf '%p %s %T@\n' >/dev/null
t_find=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')

printf 'N = %d files (%d listed by --files), find -printf %.2f s\n' "$count" "$listed" "$t_find"
printf '%-10s %9s %8s %11s %14s\n' step seconds "to find" "peak MB" "bytes a file"
for step in $steps; do
  t=t_$step m=m_$step
  awk -v s="$step" -v t="${!t}" -v m="${!m}" -v f="$t_find" -v n="$count" 'BEGIN {
    printf "%-10s %9.2f %8.1f %11.1f %14.0f\n", s, t, t / f, m / 1024, m * 1024 / n }'
done
if [ "${steps%window}" != "$steps" ]; then
  awk -v w="$m_window" -v f="$m_files" 'BEGIN { printf "window / --files peak memory: %.2f\n", w / f }'
fi
