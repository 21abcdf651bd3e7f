// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The font and size of the restore program's dialogs.
#include <QFont>

class QFileDialog;

namespace halvex {

// The application's font, as every other window of the program uses.
QFont RestoreDialogFont();
// Widens a file dialog so that its name, size, type and date columns show whole.
void FitFileDialog(QFileDialog& dialog);

}  // namespace halvex
