// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Template places were made for the fonts of their time; with the fonts found here a fixed
// text can need a few pixels more. These keep such texts whole without moving the layout.
class QLabel;
class QWidget;

namespace halvex {

// Widens the control to the right so that its text fits (its size hint), at most up to the
// x coordinate rightLimit in its parent.
void WidenToFitText(QWidget& control, int rightLimit);

// Keeps gap pixels between a caption's text and the value text to its right: when the caption
// runs closer, the value's left edge moves right (its right edge stays).
void KeepCaptionApart(const QLabel& caption, QWidget& value, int gap);

}  // namespace halvex
