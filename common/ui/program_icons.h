// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two programs' icons, drawn from the SVG files built into the window library.
#include <QIcon>

namespace halvex {

// Rendered at the sizes window managers ask for, from 16 to 128 pixels; null only when the
// built-in drawing is missing or unreadable.
QIcon BackupProgramIcon();
QIcon RestoreProgramIcon();

}  // namespace halvex
