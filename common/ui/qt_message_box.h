// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Qt message box behind every MessageButtons/MessageAnswer question of both programs.
#include <string>

#include "common/message_box.h"

class QWidget;

namespace halvex {

// Shows a modal box owned by owner (none: nullptr) with exactly this text (plain text, never
// markup) and caption, and returns the button pressed. The first button is the default.
// Closing the box or pressing Escape answers OK, Cancel or No where the box has such a
// button; a box with Abort, Retry and Ignore must be answered with one of them.
// Call it on the thread that owns the windows.
MessageAnswer ShowMessageBox(QWidget* owner, const std::string& text, const std::string& caption,
                             MessageButtons buttons);

}  // namespace halvex
