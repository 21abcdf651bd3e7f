#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Backs up a small example folder twice, with a change in between, lists what the set holds,
# restores the first backup into a new folder and compares it with what was backed up.
# Everything happens in a new temporary working folder, which is left for you to look at.
# Run it after building (cmake --build build).
set -euo pipefail
cd "$(dirname "$0")/.."
backup="${HALVEX_BUILD_DIR:-build}/bin/halvex-backup"
restore="${HALVEX_BUILD_DIR:-build}/bin/halvex-restore"
for program in "$backup" "$restore"; do
  if [ ! -x "$program" ]; then
    echo "$program is missing: build first (see README.md)" >&2
    exit 1
  fi
done
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
# What the first backup holds, to compare with its restore at the end (*.tmp is excluded).
cp -a "$work/documents" "$work/documents-first"
rm "$work/documents-first/notes/draft.tmp"

echo "== A change: one letter edited, a note added, one deleted"
sleep 1
printf 'Dear Ann,\nthe backups run every night now.\nP.S. and they are quick.\n' > "$work/documents/letters/ann.txt"
printf 'call the plumber\n' > "$work/documents/notes/todo.txt"
rm "$work/documents/notes/shopping.txt"

echo "== Second backup"
"$backup" --run --dir "$work/program"

echo "== The set: its dates and targets"
"$restore" --list "$work/archives/Documents2.TQBak"
for date in 1 0; do
  echo "== Files as of the date labelled $date (archive, size, time, entry)"
  "$restore" --files "$work/archives/Documents2.TQBak" --date "$date"
done

echo "== Restore of the first backup into $work/restored, compared with what was backed up"
"$restore" --restore "$work/archives/Documents2.TQBak" --date 0 --to "$work/restored"
diff -r "$work/documents-first" "$work/restored/Documents"
echo "== The restored files are identical to the first backup's."
echo "== Run log of both backups: $work/program/backups.log"
