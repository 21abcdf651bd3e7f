// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/styled_label.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPalette>
#include <QUrl>

namespace halvex {

StyledLabel::StyledLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
}

StyledLabel::~StyledLabel() = default;

StyledLabel& StyledLabel::SetTextColour(const QColor& colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colour);
    setPalette(colours);
    return *this;
}

QColor StyledLabel::TextColour() const { return palette().color(QPalette::WindowText); }

StyledLabel& StyledLabel::SetBold(bool bold) {
    QFont changed = font();
    changed.setWeight(bold ? QFont::Bold : QFont::Normal);
    setFont(changed);
    return *this;
}

StyledLabel& StyledLabel::SetUnderline(bool underline) {
    QFont changed = font();
    changed.setUnderline(underline);
    setFont(changed);
    return *this;
}

StyledLabel& StyledLabel::SetCharHeight(int pixels) {
    QFont changed = font();
    changed.setPixelSize(pixels);
    setFont(changed);
    return *this;
}

StyledLabel& StyledLabel::SetBackgroundColour(const QColor& colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colour);
    setPalette(colours);
    setAutoFillBackground(true);
    return *this;
}

StyledLabel& StyledLabel::TakeFont(const QFont& font) {
    setFont(font);
    return *this;
}

StyledLabel& StyledLabel::SetOpensOnClick(bool opens) {
    opensOnClick_ = opens;
    setCursor(opens ? Qt::PointingHandCursor : Qt::ArrowCursor);
    return *this;
}

void StyledLabel::mousePressEvent(QMouseEvent* event) {
    if (opensOnClick_ && event->button() == Qt::LeftButton) QDesktopServices::openUrl(QUrl::fromUserInput(text()));
    QLabel::mousePressEvent(event);
}

}  // namespace halvex
