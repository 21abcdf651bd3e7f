// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_dialog_font.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>

namespace halvex {

QFont RestoreDialogFont() { return QApplication::font(); }

void FitFileDialog(QFileDialog& dialog) {
    // Qt's own dialog (no desktop portal) opens at a size that cuts its detail columns.
    const QFontMetrics metrics(dialog.font());
    const QSize wanted(metrics.averageCharWidth() * 110, metrics.height() * 28);
    dialog.resize(dialog.sizeHint().expandedTo(wanted));
}

}  // namespace halvex
