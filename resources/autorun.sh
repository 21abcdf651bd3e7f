#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Put on every backup disc beside halvex-restore. Desktops that follow the freedesktop
# autostart rules for removable media offer to run it when the disc is mounted; it opens the
# newest backup on the disc.
cd "$(dirname "$0")" || exit 1
exec ./halvex-restore -AUTORUN "$@"
