#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks the tree as a desktop would use it:
# every file in place, menu entries, manual pages and AppStream metadata accepted by their
# tools, icons of the right sizes, bash completion offering every option the programs' usage
# names, and an installed copy keeping its files in the user's data folder.
# usage: install_tree_test.sh BUILD_DIR
set -u
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"
prefix=$root/usr
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

for file in bin/halvex-backup bin/halvex-restore share/halvex/autorun.sh \
    share/applications/halvex-backup.desktop share/applications/halvex-restore.desktop \
    share/mime/packages/halvex.xml share/man/man1/halvex-backup.1.gz share/man/man1/halvex-restore.1.gz \
    share/icons/hicolor/scalable/apps/halvex-backup.svg share/icons/hicolor/scalable/apps/halvex-restore.svg \
    lib/systemd/user/halvex-backup.service lib/systemd/user/halvex-backup.timer \
    share/doc/halvex/copyright share/doc/halvex/changelog.gz share/metainfo/org.example.halvex.metainfo.xml \
    share/bash-completion/completions/halvex-backup share/bash-completion/completions/halvex-restore; do
  [ -f "$prefix/$file" ] || fail "missing $file"
done
[ ! -e "$prefix/bin/autorun.sh" ] || fail "autorun.sh is on PATH"
[ -x "$prefix/share/halvex/autorun.sh" ] || fail "autorun.sh is not executable (the disc runs it)"
gzip -t "$prefix"/share/man/man1/*.1.gz "$prefix/share/doc/halvex/changelog.gz" || fail "gzip -t"
if command -v dpkg-parsechangelog >/dev/null; then
  version=$("$prefix/bin/halvex-backup" --version | cut -d' ' -f2)
  [ "$(zcat "$prefix/share/doc/halvex/changelog.gz" | dpkg-parsechangelog -l- -SVersion)" = "$version" ] ||
    fail "changelog.gz does not describe version $version"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix"/share/metainfo/*.xml >/dev/null || fail "appstreamcli validate"
fi

# The completion offers, as the first word, every option the programs' usage names.
for program in halvex-backup halvex-restore; do
  offered=$(bash -c '. "$1"; COMP_WORDS=("$2" ""); COMP_CWORD=1; "$3"; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$prefix/share/bash-completion/completions/$program" "$program" "_${program//-/_}")
  for option in $("$prefix/bin/$program" --help | grep -oE '(^|[][ |(])--?[A-Za-z][A-Za-z-]*' | grep -oE -- '--?[A-Za-z][A-Za-z-]*' | sort -u); do
    grep -qxe "$option" <<<"$offered" || fail "$program completion does not offer $option"
  done
done
[ -x "$prefix/bin/halvex-backup" ] && [ -x "$prefix/bin/halvex-restore" ] || fail "programs not executable"
grep -q "^ExecStart=$prefix/bin/halvex-backup --run$" "$prefix/lib/systemd/user/halvex-backup.service" ||
  fail "the service does not run the installed program"
grep -q '^MimeType=application/x-halvex-backup;$' "$prefix/share/applications/halvex-restore.desktop" ||
  fail "the restore entry does not open archives"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix"/share/applications/*.desktop || fail "desktop-file-validate"
fi
if command -v man >/dev/null; then
  for page in "$prefix"/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l $page: $warnings"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q 'EXIT STATUS' || fail "man -l $page shows no EXIT STATUS"
  done
fi
python3 - "$prefix" <<'PY' || fail "icons or MIME type"
import struct, sys, xml.etree.ElementTree as ET
prefix = sys.argv[1]
for size in (16, 24, 32, 48, 64, 128, 256):
    for program in ("halvex-backup", "halvex-restore"):
        with open(f"{prefix}/share/icons/hicolor/{size}x{size}/apps/{program}.png", "rb") as f:
            head = f.read(24)
        assert head[:8] == b"\x89PNG\r\n\x1a\n", program
        assert struct.unpack(">II", head[16:24]) == (size, size), (program, size)
ns = "{http://www.freedesktop.org/standards/shared-mime-info}"
mime = ET.parse(f"{prefix}/share/mime/packages/halvex.xml").getroot().find(ns + "mime-type")
assert mime.get("type") == "application/x-halvex-backup"
assert mime.find(ns + "glob").get("pattern") == "*.tqbak"
PY

"$prefix/bin/halvex-backup" --version | grep -q '^halvex-backup [0-9]' || fail "halvex-backup --version"
"$prefix/bin/halvex-restore" --version | grep -q '^halvex-restore [0-9]' || fail "halvex-restore --version"

# An installed copy that its user cannot write keeps backup.ini in $XDG_DATA_HOME/halvex; --dir
# still wins. Run as an unprivileged user, since root may write anywhere.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$root/home" PATH=/usr/bin:/bin "$@"; }
elif [ "$(id -u)" -ne 0 ]; then
  chmod 555 "$prefix/bin"
  as_user() { env -i HOME="$root/home" PATH=/usr/bin:/bin "$@"; }
else
  as_user() { return 77; }
fi
mkdir -p "$root/home" "$root/data" "$root/own"
chmod 777 "$root/home" "$root/data" "$root/own"
as_user XDG_DATA_HOME="$root/data" "$prefix/bin/halvex-backup" --run >/dev/null 2>&1
status=$?
if [ $status -ne 77 ]; then
  [ $status -eq 2 ] || fail "first installed run: exit $status, not 2 (example written)"
  [ -f "$root/data/halvex/backup.ini" ] || fail "no backup.ini in \$XDG_DATA_HOME/halvex"
  [ ! -e "$prefix/bin/backup.ini" ] || fail "backup.ini written beside the installed program"
  as_user "$prefix/bin/halvex-backup" --run >/dev/null 2>&1
  [ -f "$root/home/.local/share/halvex/backup.ini" ] || fail "no backup.ini in ~/.local/share/halvex"
  as_user "$prefix/bin/halvex-backup" --run --dir "$root/own" >/dev/null 2>&1
  [ -f "$root/own/backup.ini" ] || fail "--dir is not the program folder of an installed copy"
fi
# The installed copy burns the autorun.sh of its data folder beside halvex-restore.
if command -v xorriso >/dev/null && ldconfig -p 2>/dev/null | grep -q 'libisoburn\.so\.1 '; then
  mkdir -p "$root/disc/program" "$root/disc/src"
  echo a >"$root/disc/src/a.txt"
  printf '[Disc]\r\nCDName:"Halvex"\r\nzip:"%s"\r\ndir:"%s"\r\nto:"Data"\r\n' "$root/disc" "$root/disc/src" \
    >"$root/disc/program/backup.ini"
  HALVEX_BURN_DRIVE="stdio:$root/disc/disc.iso" "$prefix/bin/halvex-backup" --run --dir "$root/disc/program" \
    --disc-ready --no-notify >/dev/null 2>&1 || fail "installed copy: the run with a disc job failed"
  xorriso -osirrox on -indev "$root/disc/disc.iso" -extract /autorun.sh "$root/disc/autorun.sh" >/dev/null 2>&1
  cmp -s "$root/disc/autorun.sh" "$prefix/share/halvex/autorun.sh" || fail "installed copy: no autorun.sh on the disc"
fi

# A portable copy in a writable folder keeps its files beside itself.
mkdir -p "$root/stick"
cp "$prefix/bin/halvex-backup" "$root/stick/"
env -i HOME="$root/home" XDG_DATA_HOME="$root/data2" "$root/stick/halvex-backup" --run >/dev/null 2>&1
[ -f "$root/stick/backup.ini" ] || fail "a portable copy does not keep backup.ini beside itself"

if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "install tree: all checks passed"
