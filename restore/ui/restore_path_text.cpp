// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_path_text.h"

#include <QLabel>

namespace halvex {

QLabel* NewPathText(QWidget* parent, const QRect& place) {
    auto* text = new QLabel(parent);
    text->setTextFormat(Qt::PlainText);
    text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    text->setAlignment(Qt::AlignCenter);
    text->setMargin(2);
    text->setGeometry(place);
    return text;
}

}  // namespace halvex
