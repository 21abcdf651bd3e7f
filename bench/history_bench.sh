#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How a run's cost grows with the archives before it (run by hand, never by the tests).
# One job backs up a corpus of small files RUNS times; between runs 1% of the files are
# rewritten, 0.1% deleted and 0.1% added. Per checkpoint run it prints the run's wall time
# and peak memory, the new archive's size and its history entries (raw / deflated), the
# store's size, and the restore's --list and --files times on that archive; then a run that
# finds nothing to do, with one archive and with all of them, against `find -printf`.
# usage: bench/history_bench.sh [FILES [RUNS [WORK_FOLDER]]]
#   FILES        corpus size (default 100000; with MAKE_CORPUS set to the corpus generator
#                and 100000 files, its "many" corpus is used)
#   RUNS         number of runs (default 60)
#   WORK_FOLDER  where the corpus, program folder and archives go (default: a new folder
#                under /tmp); it is emptied first
set -euo pipefail
files=${1:-100000}
runs=${2:-60}
cd "$(dirname "$0")/.."
build=${HALVEX_BUILD_DIR:-build}
backup=$(realpath "$build/bin/halvex-backup")
restore=$(realpath "$build/bin/halvex-restore")
work=${3:-$(mktemp -d /tmp/halvex-history-bench-XXXXXX)}
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
corpus=$work/corpus
program=$work/program

if [ "$files" -eq 100000 ] && [ -n "${MAKE_CORPUS:-}" ]; then
  python3 "$MAKE_CORPUS" "$corpus" many 1 >&2
else
  python3 - "$corpus" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
r = random.Random(1)
words = ["".join(r.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9))) for _ in range(3000)]
folders = max(1, count // 50)
for i in range(count):
    folder = os.path.join(root, f"d{i % folders // 40}", f"f{i % folders}")
    os.makedirs(folder, exist_ok=True)
    text = " ".join(r.choice(words) for _ in range(r.randint(0, 1200)))
    with open(os.path.join(folder, f"file{i}.txt"), "w") as f:
        f.write(text)
    os.utime(os.path.join(folder, f"file{i}.txt"), (1600000001 + i, 1600000001 + i))
PY
fi

mkdir -p "$program"
printf '[Bench]\r\ndir:"%s"\r\nto:"Data"\r\nzip:"%s/archives"\r\n' "$corpus" "$program" > "$program/backup.ini"

# Rewrites 1% of the files, deletes 0.1% and adds as many (seeded by the run number).
change() {
  python3 - "$corpus" "$1" <<'PY'
import os, random, sys
root, run = sys.argv[1], int(sys.argv[2])
r = random.Random(run)
paths = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
n = max(1, len(paths) // 100)
for p in r.sample(paths, n):
    with open(p, "a") as f:
        f.write(f" changed in run {run}")
    os.utime(p, (1700000001 + 2 * run, 1700000001 + 2 * run))
gone = r.sample(paths, max(1, len(paths) // 1000))
for p in gone:
    if os.path.exists(p):
        os.remove(p)
for i, p in enumerate(gone):
    with open(os.path.join(os.path.dirname(p), f"new{run}-{i}.txt"), "w") as f:
        f.write(f"added in run {run} " * r.randint(1, 200))
PY
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
# timed_run OUT: one backup run; OUT gets "wall peak_kB"
timed_run() {
  local start rc=0
  start=$(now)
  /usr/bin/time -f %M -o "$work/rss" "$backup" --run --dir "$program" >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || { echo "run failed with exit $rc" >&2; exit 1; }
  echo "$(since "$start") $(cat "$work/rss")"
}
timed() {  # timed COMMAND...: wall seconds, output dropped
  local start
  start=$(now)
  "$@" >/dev/null 2>&1
  since "$start"
}
# best COMMAND...: the fastest of three runs, as "wall cpu" seconds (cpu: user + system), so
# that a busy machine disturbs the no-change comparison less
best() {
  local i start wall cpu out=""
  for i in 1 2 3; do
    start=$(now)
    /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" >/dev/null 2>&1
    wall=$(since "$start")
    cpu=$(awk '{ printf "%.3f", $1 + $2 }' "$work/cpu")
    out=$(printf '%s\n%s %s' "$out" "$wall" "$cpu")
  done
  printf '%s\n' "$out" | sed '/^$/d' | sort -n | head -1
}
bookkeeping() {  # bookkeeping ARCHIVE: "raw deflated" bytes of its history entries
  python3 - "$1" <<'PY'
import sys, zipfile
h = [i for i in zipfile.ZipFile(sys.argv[1]).infolist() if i.filename.endswith(".tq") and "/" not in i.filename]
print(sum(i.file_size for i in h), sum(i.compress_size for i in h))
PY
}
archive_of() {  # archive_of N
  if [ "$1" -eq 1 ]; then echo "$program/archives/Bench.TQBak"; else echo "$program/archives/Bench$1.TQBak"; fi
}
is_checkpoint() {
  case "$1" in 1|2|5|10|20|40|60|100|200|365) return 0 ;; esac
  [ "$1" -eq "$runs" ]
}

warm() { find "$corpus" -type f -exec cat {} + >/dev/null; }
printf 'corpus: %d files; %d runs; load average %s; %d processors\n' \
  "$(find "$corpus" -type f | wc -l)" "$runs" "$(cut -d' ' -f1-3 /proc/loadavg)" "$(nproc)"
printf '%5s %8s %9s %11s %21s %10s %8s %8s\n' run wall 'peak MB' 'archive B' 'history raw/deflated' 'store B' '--list' '--files'
for ((run = 1; run <= runs; ++run)); do
  [ "$run" -eq 1 ] || change "$run"
  read -r wall rss < <(timed_run)
  if is_checkpoint "$run"; then
    archive=$(archive_of "$run")
    read -r raw deflated < <(bookkeeping "$archive")
    t_list=$(timed "$restore" --list "$archive")
    t_files=$(timed "$restore" --files "$archive")
    printf '%5d %8.3f %9.1f %11d %10d/%-10d %10d %8.3f %8.3f\n' "$run" "$wall" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" \
      "$(stat -c %s "$archive")" "$raw" "$deflated" "$(stat -c %s "$program/FileLists.tq")" "$t_list" "$t_files"
  fi
  if [ "$run" -eq 1 ]; then
    warm
    read -r t_nochange1 c_nochange1 < <(best "$backup" --run --dir "$program")
    read -r t_find1 c_find1 < <(best find "$corpus" -printf '%p %s %T@\n')
  fi
done
warm
read -r t_nochange c_nochange < <(best "$backup" --run --dir "$program")
read -r t_find c_find < <(best find "$corpus" -printf '%p %s %T@\n')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
printf 'no-change run, 1 archive:   %.3f s (cpu %.3f s), find -printf %.3f s (cpu %.3f s), ratio %s (cpu %s)\n' \
  "$t_nochange1" "$c_nochange1" "$t_find1" "$c_find1" "$(ratio "$t_nochange1" "$t_find1")" "$(ratio "$c_nochange1" "$c_find1")"
printf 'no-change run, %d archives: %.3f s (cpu %.3f s), find -printf %.3f s (cpu %.3f s), ratio %s (cpu %s)\n' \
  "$runs" "$t_nochange" "$c_nochange" "$t_find" "$c_find" "$(ratio "$t_nochange" "$t_find")" "$(ratio "$c_nochange" "$c_find")"
