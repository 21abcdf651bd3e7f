#!/usr/bin/env bash
# Backs up a small example folder twice, with a change in between, and lists what the
# archives hold. Everything happens in a new temporary working folder, which is left for
# you to look at. Run it after building (cmake --build build).
set -euo pipefail
cd "$(dirname "$0")/.."
backup="${HALVEX_BUILD_DIR:-build}/bin/halvex-backup"
if [ ! -x "$backup" ]; then
  echo "$backup is missing: build first (see README.md)" >&2
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/halvex-example-XXXXXX")

# The folder to back up.
mkdir -p "$work/documents/letters" "$work/documents/notes"
printf 'Dear Ann,\nthe backups run every night now.\n' > "$work/documents/letters/ann.txt"
printf 'Dear Bob,\nsee you on Sunday.\n' > "$work/documents/letters/bob.txt"
printf 'milk\nbread\n' > "$work/documents/notes/shopping.txt"
printf 'scratch\n' > "$work/documents/notes/draft.tmp"

# The program folder: backup.ini (CR LF line ends), the store and backups.log go here.
mkdir -p "$work/program"
printf '[global]\r\n\texclude:"*.tmp"\r\n\r\n[Documents]\r\n\tdir:"%s"\r\n\tto:"Documents"\r\n\tzip:"%s"\r\n' \
  "$work/documents" "$work/archives" > "$work/program/backup.ini"

echo "== Working folder: $work"
echo "== First backup"
"$backup" --run --dir "$work/program"

echo "== A change: one letter edited, a note added, one deleted"
sleep 1
printf 'Dear Ann,\nthe backups run every night now.\nP.S. and they are quick.\n' > "$work/documents/letters/ann.txt"
printf 'call the plumber\n' > "$work/documents/notes/todo.txt"
rm "$work/documents/notes/shopping.txt"

echo "== Second backup"
"$backup" --run --dir "$work/program"

for archive in "$work"/archives/*.TQBak; do
  echo "== $(basename "$archive")"
  unzip -l "$archive"
done
echo "== Run log of both backups: $work/program/backups.log"
