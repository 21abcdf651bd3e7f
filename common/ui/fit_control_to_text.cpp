// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui/fit_control_to_text.h"

#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace halvex {

void WidenToFitText(QWidget& control, int rightLimit) {
    QRect place = control.geometry();
    int needed = control.sizeHint().width();
    if (needed <= place.width()) return;
    place.setWidth(std::max(place.width(), std::min(needed, rightLimit - place.left())));
    control.setGeometry(place);
}

void KeepCaptionApart(const QLabel& caption, QWidget& value, int gap) {
    QRect place = value.geometry();
    int textEnd = caption.geometry().left() + caption.contentsMargins().left() + caption.margin() +
                  caption.fontMetrics().horizontalAdvance(caption.text());
    int wanted = textEnd + gap;
    if (place.left() >= wanted) return;
    place.setLeft(std::min(wanted, place.right()));
    value.setGeometry(place);
}

}  // namespace halvex
