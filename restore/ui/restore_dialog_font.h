// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The font of the restore engine's dialogs.
#include <QFont>

namespace halvex {

// "MS Serif" at 10 points; where it is not installed, the system's serif font stands in.
QFont RestoreDialogFont();

}  // namespace halvex
