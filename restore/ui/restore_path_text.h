// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The centred, sunken path text of the restore dialogs.
#include <QRect>

class QLabel;
class QWidget;

namespace halvex {

QLabel* NewPathText(QWidget* parent, const QRect& place);

}  // namespace halvex
