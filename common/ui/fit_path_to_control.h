// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A path shortened with "..." in the middle so that it fits a label as the label shows it.
#include <string>

class QWidget;

namespace halvex {

// Measures with the control's own font against the width its text may use (the contents
// rectangle, less a label's margin and indent). A text that fits comes back unchanged.
// Belongs to the thread that owns the control.
std::string FitPathToControl(const std::string& text, const QWidget& control);

}  // namespace halvex
