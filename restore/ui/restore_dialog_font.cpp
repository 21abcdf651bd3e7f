// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_dialog_font.h"

namespace halvex {

QFont RestoreDialogFont() {
    QFont font(QStringLiteral("MS Serif"), 10);
    font.setStyleHint(QFont::Serif);
    return font;
}

}  // namespace halvex
