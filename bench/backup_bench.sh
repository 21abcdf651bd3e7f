#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times halvex-backup --run against common tools on generated trees (run by hand, never by
# the tests):
#   - a first, full backup of the "mixed" corpus against `zip -r -9 -q` of the same folder
#     (and against `restic backup` into a new repository when restic is installed), with the
#     backup held to one processor (taskset: its pool then has one thread) and with all of
#     them, at the default level and at level 6; and the size of the entries it deflates
#     against zip's for the same files;
#   - a second, no-change run over the "many" corpus against a bare `find -printf` walk
#     (left out with HALVEX_BENCH_FULL_ONLY=1).
# usage: bench/backup_bench.sh MAKE_CORPUS_PY [WORK_FOLDER]
#   MAKE_CORPUS_PY  the corpus generator (../shared/bench/make_corpus.py)
#   WORK_FOLDER     where the corpora and archives go (default: a new folder under /tmp);
#                   corpora already there are reused
# With HALVEX_BENCH_PASSWORD_FILE set, the job is encrypted with the password in that file.
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
program_folder() {  # program_folder NAME SOURCE [LEVEL]: a fresh program folder backing up SOURCE
  rm -rf "$work/$1"
  mkdir -p "$work/$1"
  printf '[Bench]\r\ndir:"%s"\r\nto:"Data"\r\nzip:"%s/archives"\r\n' "$2" "$work/$1" > "$work/$1/backup.ini"
  if [ -n "${3:-}" ]; then printf 'level:"%s"\r\n' "$3" >> "$work/$1/backup.ini"; fi
  if [ -n "${HALVEX_BENCH_PASSWORD_FILE:-}" ]; then
    printf 'encrypt:"%s"\r\n' "$(realpath "$HALVEX_BENCH_PASSWORD_FILE")" >> "$work/$1/backup.ini"
  fi
}
warm() { find "$1" -type f -exec cat {} + >/dev/null; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }  # 0: the run made no archive
full_only=${HALVEX_BENCH_FULL_ONLY:-0}

corpus mixed mixed
[ "$full_only" = 1 ] || corpus many many

# Full backup: all read a tree that is in the page cache.
warm "$work/mixed"
load=$(cut -d' ' -f1-3 /proc/loadavg)
cores=$(nproc)
program_folder full1 "$work/mixed"
program_folder full "$work/mixed"
program_folder full6 "$work/mixed" 6
rm -f "$work/mixed.zip"
t_zip=$(seconds sh -c "cd '$work/mixed' && zip -r -9 -q '$work/mixed.zip' .")
t_backup1=$(seconds taskset -c 0 "$backup" --run --dir "$work/full1")
t_backup=$(seconds "$backup" --run --dir "$work/full")
t_backup6=$(seconds "$backup" --run --dir "$work/full6")
size_backup1=$(size_of "$work/full1/archives/Bench.TQBak")
size_backup=$(size_of "$work/full/archives/Bench.TQBak")
size_backup6=$(size_of "$work/full6/archives/Bench.TQBak")
size_zip=$(size_of "$work/mixed.zip")
t_restic=""
if command -v restic >/dev/null 2>&1; then
  rm -rf "$work/restic"
  RESTIC_PASSWORD=bench restic init --repo "$work/restic" >/dev/null 2>&1
  t_restic=$(RESTIC_PASSWORD=bench seconds restic --repo "$work/restic" backup "$work/mixed")
  size_restic=$(du -sb "$work/restic" | cut -f1)
fi
# The files the backup deflated (the rest it stored): their compressed bytes in both archives.
deflated=$(python3 - "$work/full/archives/Bench.TQBak" "$work/mixed.zip" <<'PY'
import sys, zipfile
ours = {i.filename.split("/", 1)[1]: i for i in zipfile.ZipFile(sys.argv[1]).infolist()
        if i.compress_type == zipfile.ZIP_DEFLATED and i.filename.startswith("Data/")}
theirs = {i.filename: i for i in zipfile.ZipFile(sys.argv[2]).infolist()}
common = [n for n in ours if n in theirs and not n.endswith("/")]
a = sum(ours[n].compress_size for n in common)
b = sum(theirs[n].compress_size for n in common)
if not common:  # encrypted entries (method 99) hide how they were compressed
    print("per-file deflate sizes not compared (no plain deflated entries)")
else:
    print(f"{len(common)} files deflated: halvex-backup {a} bytes, zip -9 {b} bytes ({100 * (a - b) / b:+.2f}%)")
PY
)

# No-change run. The corpus has more entries than one zip archive holds (65,535), so the
# first run stores what fits and skips the rest, the second stores the rest; the third, timed,
# finds nothing to do.
if [ "$full_only" != 1 ]; then
  program_folder nochange "$work/many"
  "$backup" --run --dir "$work/nochange" >/dev/null 2>&1 || [ $? -eq 4 ]
  "$backup" --run --dir "$work/nochange" >/dev/null 2>&1
  warm "$work/many"
  t_nochange=$(seconds "$backup" --run --dir "$work/nochange")
  t_find=$(seconds find "$work/many" -printf '%p %s %T@\n')
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
against() {  # against SECONDS BYTES: the ratios to zip (and restic) for time and size
  printf 'time %s x zip' "$(ratio "$1" "$t_zip")"
  [ -n "$t_restic" ] && printf ', %s x restic' "$(ratio "$1" "$t_restic")"
  printf '; size %s x zip' "$(ratio "$2" "$size_zip")"
  [ -n "$t_restic" ] && printf ', %s x restic' "$(ratio "$2" "$size_restic")"
  [ "$2" -eq 0 ] && printf '   (no archive: the run failed)'
  printf '\n'
}
printf 'full backup, mixed corpus (load average %s, %d processors):\n' "$load" "$cores"
printf '  halvex-backup, 1 thread:               %6.2f s %10d bytes   ' "$t_backup1" "$size_backup1"
against "$t_backup1" "$size_backup1"
printf '  halvex-backup, %2d threads:             %6.2f s %10d bytes   ' "$cores" "$t_backup" "$size_backup"
against "$t_backup" "$size_backup"
printf '  halvex-backup, %2d threads, level 6:    %6.2f s %10d bytes   ' "$cores" "$t_backup6" "$size_backup6"
against "$t_backup6" "$size_backup6"
printf '  zip -r -9 -q:                          %6.2f s %10d bytes\n' "$t_zip" "$size_zip"
if [ -n "$t_restic" ]; then
  printf '  restic backup:                         %6.2f s %10d bytes (repository)\n' "$t_restic" "$size_restic"
else
  printf '  restic backup:                         not installed\n'
fi
printf '  speed-up of %d threads over 1: %s\n' "$cores" "$(ratio "$t_backup1" "$t_backup")"
printf '  %s\n' "$deflated"
if [ "$full_only" != 1 ]; then
  printf 'no-change run, many corpus: halvex-backup %.2f s   find -printf %.2f s   ratio %.2f\n' \
    "$t_nochange" "$t_find" "$(awk -v a="$t_nochange" -v b="$t_find" 'BEGIN { print a / b }')"
fi
