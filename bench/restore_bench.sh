#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Restoring the newest date of the "mixed" corpus with halvex-restore --restore, against
# unzip -q of the same files from the same archive. Run by hand after building:
#   bench/restore_bench.sh [BUILD_DIR] [WORK_DIR]
# The corpus generator is taken from $HALVEX_MAKE_CORPUS, else ../shared/bench/make_corpus.py
# beside the repository. WORK_DIR (default: a new folder under /tmp) keeps the corpus and the
# archive between runs; each timing is the best of three. With HALVEX_BENCH_PASSWORD_FILE set,
# the set is encrypted with the password in that file (give each kind its own WORK_DIR) and
# unzip, which cannot read it, is left out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/halvex-restore-bench-XXXXXX")}
backup="$build/bin/halvex-backup"
restore="$build/bin/halvex-restore"
for program in "$backup" "$restore"; do
  if [ ! -x "$program" ]; then
    echo "$program is missing: build first" >&2
    exit 1
  fi
done
corpus_script=${HALVEX_MAKE_CORPUS:-}
for candidate in ../shared/bench/make_corpus.py ../../shared/bench/make_corpus.py; do
  if [ -z "$corpus_script" ] && [ -f "$candidate" ]; then corpus_script=$candidate; fi
done
if [ -z "$corpus_script" ]; then
  echo "make_corpus.py not found: set HALVEX_MAKE_CORPUS" >&2
  exit 1
fi
work=$(cd "$work" && pwd)

if [ ! -d "$work/corpus" ]; then
  echo "== corpus (mixed, seed 1)" >&2
  python3 "$corpus_script" "$work/corpus" mixed 1 >&2
fi
archive="$work/archives/Corpus.TQBak"
if [ ! -f "$archive" ]; then
  echo "== backup" >&2
  mkdir -p "$work/program"
  printf '[Corpus]\r\n\tdir:"%s"\r\n\tto:"Corpus"\r\n\tzip:"%s"\r\n' "$work/corpus" "$work/archives" \
    > "$work/program/backup.ini"
  if [ -n "${HALVEX_BENCH_PASSWORD_FILE:-}" ]; then
    printf '\tencrypt:"%s"\r\n' "$(realpath "$HALVEX_BENCH_PASSWORD_FILE")" >> "$work/program/backup.ini"
  fi
  "$backup" --run --dir "$work/program" >/dev/null
fi

# The number of file entries of the backed-up folder, to check what unzip wrote.
entries=$(python3 -c '
import sys, zipfile
print(sum(1 for i in zipfile.ZipFile(sys.argv[1]).infolist()
          if i.filename.startswith("Corpus/") and not i.is_dir()))' "$archive")

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

password_file=${HALVEX_BENCH_PASSWORD_FILE:+$(realpath "$HALVEX_BENCH_PASSWORD_FILE")}
restore_times=()
unzip_times=()
for round in 1 2 3; do
  rm -rf "$work/out"
  mkdir -p "$work/out"
  start=$(now)
  "$restore" --restore "$archive" --to "$work/out/restored" ${password_file:+--password-file "$password_file"} 2>/dev/null
  restore_times+=("$(echo "$(now) - $start" | bc)")
  if [ -n "$password_file" ]; then
    diff -r "$work/corpus" "$work/out/restored/Corpus" >/dev/null || { echo "restored files differ" >&2; exit 1; }
    continue
  fi
  start=$(now)
  unzip -q "$archive" 'Corpus/*' -d "$work/out/unzipped"
  unzip_times+=("$(echo "$(now) - $start" | bc)")
  if [ "$round" = 1 ]; then
    diff -r "$work/corpus" "$work/out/restored/Corpus" >/dev/null || { echo "restored files differ" >&2; exit 1; }
    unzipped=$(find "$work/out/unzipped" -type f | wc -l)
    [ "$unzipped" = "$entries" ] || { echo "unzip wrote $unzipped files, not $entries" >&2; exit 1; }
  fi
done
rm -rf "$work/out"

files=$(find "$work/corpus" -type f | wc -l)
bytes=$(du -sb "$work/corpus" | cut -f1)
r=$(best "${restore_times[@]}")
echo "mixed corpus: $files files ($entries file entries), $bytes bytes; archive $(stat -c %s "$archive") bytes"
printf 'halvex-restore --restore: %.3f s (best of 3)\n' "$r"
if [ -n "$password_file" ]; then
  echo "(encrypted; work folder: $work)"
  exit 0
fi
u=$(best "${unzip_times[@]}")
printf 'unzip -q:                 %.3f s (best of 3)\n' "$u"
printf 'ratio restore / unzip:    %.3f\n' "$(echo "$r / $u" | bc -l)"
echo "(work folder: $work)"
