#!/usr/bin/env bash
# Times halvex-backup --run against common tools on generated trees (run by hand, never by
# the tests):
#   - a first, full backup of the "mixed" corpus against `zip -r -9 -q` of the same folder;
#   - a second, no-change run over the "many" corpus against a bare `find -printf` walk.
# usage: bench/backup_bench.sh MAKE_CORPUS_PY [WORK_FOLDER]
#   MAKE_CORPUS_PY  the corpus generator (../shared/bench/make_corpus.py)
#   WORK_FOLDER     where the corpora and archives go (default: a new folder under /tmp);
#                   corpora already there are reused
set -euo pipefail
generator=${1:?usage: bench/backup_bench.sh MAKE_CORPUS_PY [WORK_FOLDER]}
generator=$(realpath "$generator")
cd "$(dirname "$0")/.."
backup=$(realpath "${HALVEX_BUILD_DIR:-build}/bin/halvex-backup")
work=${2:-$(mktemp -d /tmp/halvex-backup-bench-XXXXXX)}
mkdir -p "$work"
work=$(realpath "$work")

corpus() {  # corpus NAME PROFILE
  if [ ! -d "$work/$1" ]; then
    echo "generating $2 corpus in $work/$1" >&2
    python3 "$generator" "$work/$1" "$2" 1 >&2
  fi
}
seconds() {  # seconds COMMAND...: runs it, prints the wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
program_folder() {  # program_folder NAME SOURCE: a fresh program folder backing up SOURCE
  rm -rf "$work/$1"
  mkdir -p "$work/$1"
  printf '[Bench]\r\ndir:"%s"\r\nto:"Data"\r\nzip:"%s/archives"\r\n' "$2" "$work/$1" > "$work/$1/backup.ini"
}
warm() { find "$1" -type f -exec cat {} + >/dev/null; }

corpus mixed mixed
corpus many many

# Full backup: both read a tree that is in the page cache.
warm "$work/mixed"
program_folder full "$work/mixed"
rm -f "$work/mixed.zip"
t_backup=$(seconds "$backup" --run --dir "$work/full")
t_zip=$(seconds sh -c "cd '$work/mixed' && zip -r -9 -q '$work/mixed.zip' .")
size_backup=$(stat -c %s "$work/full/archives/Bench.TQBak")
size_zip=$(stat -c %s "$work/mixed.zip")

# No-change run. The corpus has more entries than one zip archive holds (65,535), so the
# first run stores what fits and skips the rest, the second stores the rest; the third, timed,
# finds nothing to do.
program_folder nochange "$work/many"
"$backup" --run --dir "$work/nochange" >/dev/null 2>&1 || [ $? -eq 4 ]
"$backup" --run --dir "$work/nochange" >/dev/null 2>&1
warm "$work/many"
t_nochange=$(seconds "$backup" --run --dir "$work/nochange")
t_find=$(seconds find "$work/many" -printf '%p %s %T@\n')

printf 'full backup, mixed corpus:  halvex-backup %.2f s (%d bytes)   zip -r -9 -q %.2f s (%d bytes)   ratio %.2f\n' \
  "$t_backup" "$size_backup" "$t_zip" "$size_zip" "$(awk -v a="$t_backup" -v b="$t_zip" 'BEGIN { print a / b }')"
printf 'no-change run, many corpus: halvex-backup %.2f s   find -printf %.2f s   ratio %.2f\n' \
  "$t_nochange" "$t_find" "$(awk -v a="$t_nochange" -v b="$t_find" 'BEGIN { print a / b }')"
