#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Restoring the newest date of the "mixed" corpus with halvex-restore --restore, one thread
# (HALVEX_RESTORE_THREADS=1) and all cores, against unzip -q of the same files from the same
# archive and, when restic is installed, restic restore of the same tree; also --verify --set
# with one thread and all cores. Run by hand after building:
#   bench/restore_bench.sh [BUILD_DIR] [WORK_DIR]
# The corpus is $HALVEX_BENCH_CORPUS when set (an existing folder, only read), else made in
# WORK_DIR by the generator taken from $HALVEX_MAKE_CORPUS, else ../shared/bench/make_corpus.py
# beside the repository. WORK_DIR (default: a new folder under /tmp) keeps the corpus and the
# archives between runs. The programs take turns in every round; each timing is the best of
# $HALVEX_BENCH_ROUNDS (default 3). With HALVEX_BENCH_PASSWORD_FILE set, an encrypted set of
# the same corpus (password in that file) is restored in the same rounds too. Restores write to
# $HALVEX_BENCH_OUT when set (say /dev/shm/x, to leave the disk out), else to WORK_DIR/out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/halvex-restore-bench-XXXXXX")}
rounds=${HALVEX_BENCH_ROUNDS:-3}
backup="$build/bin/halvex-backup"
restore="$build/bin/halvex-restore"
for program in "$backup" "$restore"; do
  if [ ! -x "$program" ]; then
    echo "$program is missing: build first" >&2
    exit 1
  fi
done
work=$(cd "$work" && pwd)

corpus=${HALVEX_BENCH_CORPUS:-}
if [ -n "$corpus" ]; then
  corpus=$(cd "$corpus" && pwd)
else
  corpus="$work/corpus"
  if [ ! -d "$corpus" ]; then
    corpus_script=${HALVEX_MAKE_CORPUS:-}
    for candidate in ../shared/bench/make_corpus.py ../../shared/bench/make_corpus.py; do
      if [ -z "$corpus_script" ] && [ -f "$candidate" ]; then corpus_script=$candidate; fi
    done
    if [ -z "$corpus_script" ]; then
      echo "make_corpus.py not found: set HALVEX_MAKE_CORPUS or HALVEX_BENCH_CORPUS" >&2
      exit 1
    fi
    echo "== corpus (mixed, seed 1)" >&2
    python3 "$corpus_script" "$corpus" mixed 1 >&2
  fi
fi
top=$(basename "$corpus")
password_file=${HALVEX_BENCH_PASSWORD_FILE:+$(realpath "$HALVEX_BENCH_PASSWORD_FILE")}
out=${HALVEX_BENCH_OUT:-$work/out}

# Backs the corpus up once into $work/KIND (plain or encrypted); prints the archive's path.
make_set() {
  local kind=$1 program="$work/$1/program" archives="$work/$1/archives"
  if [ ! -f "$archives/Corpus.TQBak" ]; then
    echo "== backup ($kind)" >&2
    mkdir -p "$program"
    printf '[Corpus]\r\n\tdir:"%s"\r\n\tto:"Corpus"\r\n\tzip:"%s"\r\n' "$corpus" "$archives" > "$program/backup.ini"
    if [ "$kind" = encrypted ]; then printf '\tencrypt:"%s"\r\n' "$password_file" >> "$program/backup.ini"; fi
    "$backup" --run --dir "$program" >/dev/null
  fi
  echo "$archives/Corpus.TQBak"
}
archive=$(make_set plain)
encrypted=""
if [ -n "$password_file" ]; then encrypted=$(make_set encrypted); fi

restic_repo=""
if command -v restic >/dev/null; then
  restic_repo="$work/restic"
  export RESTIC_PASSWORD=halvex-bench
  if [ ! -d "$restic_repo" ]; then
    echo "== restic backup" >&2
    restic init --repo "$restic_repo" -q >/dev/null
    (cd "$(dirname "$corpus")" && restic --repo "$restic_repo" -q backup "$top" >/dev/null)
  fi
fi

# The number of file entries of the backed-up folder, to check what unzip wrote.
entries=$(python3 -c '
import sys, zipfile
print(sum(1 for i in zipfile.ZipFile(sys.argv[1]).infolist()
          if i.filename.startswith("Corpus/") and not i.is_dir()))' "$archive")

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
declare -A times
# Runs "$@" with its output in $out, adding its time to times[$name].
timed() {
  local name=$1
  shift
  rm -rf "$out"
  mkdir -p "$out"
  local start
  start=$(now)
  "$@" >/dev/null 2>&1
  times[$name]="${times[$name]:-} $(echo "$(now) - $start" | bc)"
}
check() {
  diff -r "$corpus" "$1" >/dev/null || { echo "$2: restored files differ" >&2; exit 1; }
}
cores=$(nproc)
load_before=$(cut -d" " -f1-3 /proc/loadavg)
for round in $(seq "$rounds"); do
  for threads in 1 "$cores"; do
    timed "restore-$threads" env HALVEX_RESTORE_THREADS="$threads" "$restore" --restore "$archive" --to "$out/r"
    check "$out/r/Corpus" "restore with $threads threads"
    if [ -n "$encrypted" ]; then
      timed "encrypted-$threads" env HALVEX_RESTORE_THREADS="$threads" "$restore" --restore "$encrypted" \
        --to "$out/r" --password-file "$password_file"
      check "$out/r/Corpus" "encrypted restore with $threads threads"
    fi
  done
  timed unzip unzip -q "$archive" 'Corpus/*' -d "$out/u"
  if [ "$round" = 1 ]; then
    unzipped=$(find "$out/u" -type f | wc -l)
    [ "$unzipped" = "$entries" ] || { echo "unzip wrote $unzipped files, not $entries" >&2; exit 1; }
  fi
  if [ -n "$restic_repo" ]; then
    timed restic restic --repo "$restic_repo" -q restore latest --target "$out/s"
  fi
  for threads in 1 "$cores"; do
    timed "verify-$threads" env HALVEX_RESTORE_THREADS="$threads" "$restore" --verify "$archive" --set
  done
done
rm -rf "$out"

show() {  # name, label, [reference name]
  local t
  t=$(best ${times[$1]})
  printf '%-40s %7.3f s' "$2" "$t"
  if [ -n "${3:-}" ] && [ -n "${times[$3]:-}" ]; then
    printf '   %.3fx %s' "$(echo "$t / $(best ${times[$3]})" | bc -l)" "$4"
  fi
  printf '\n'
}
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)
echo "mixed corpus: $files files ($entries file entries), $bytes bytes; archive $(stat -c %s "$archive") bytes"
echo "best of $rounds alternated rounds; $cores cores; load before: $load_before, after: $(cut -d" " -f1-3 /proc/loadavg)"
show unzip "unzip -q"
if [ -n "$restic_repo" ]; then show restic "restic restore"; fi
for threads in 1 "$cores"; do
  show "restore-$threads" "halvex-restore --restore, $threads thread(s)" unzip "unzip"
  if [ -n "$restic_repo" ]; then show "restore-$threads" "  against restic" restic restic; fi
  if [ -n "$encrypted" ]; then
    show "encrypted-$threads" "  encrypted, $threads thread(s)" "restore-$threads" "plain"
  fi
done
show verify-1 "--verify --set, 1 thread"
show "verify-$cores" "--verify --set, $cores thread(s)" verify-1 "1 thread"
echo "(work folder: $work)"
