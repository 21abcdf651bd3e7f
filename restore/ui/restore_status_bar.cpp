// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_status_bar.h"

#include <QLabel>

#include <algorithm>

namespace halvex {
namespace {

constexpr int kGap = 2;  // between two parts

}  // namespace

RestoreStatusBar::RestoreStatusBar(QWidget* parent) : QWidget(parent) {
    for (QLabel*& part : parts_) {
        part = new QLabel(this);
        part->setTextFormat(Qt::PlainText);
        part->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        part->setIndent(3);
        part->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
}

RestoreStatusBar::~RestoreStatusBar() = default;

void RestoreStatusBar::SetText(int part, const QString& text) { parts_.at(static_cast<std::size_t>(part))->setText(text); }

QString RestoreStatusBar::Text(int part) const { return parts_.at(static_cast<std::size_t>(part))->text(); }

void RestoreStatusBar::SetEdges(int first, int second) {
    edges_ = {first, second};
    PlaceParts();
}

QSize RestoreStatusBar::sizeHint() const {
    return QSize(edges_[1] + 100, parts_[0]->fontMetrics().height() + 8);
}

void RestoreStatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceParts();
}

void RestoreStatusBar::PlaceParts() {
    // A window narrower than the edges squeezes the later parts to nothing, never backwards.
    const int width = this->width();
    const int first = std::clamp(edges_[0], 0, width);
    const int second = std::clamp(edges_[1], first, width);
    const int top = 2, height = std::max(0, this->height() - 3);
    parts_[0]->setGeometry(0, top, std::max(0, first - kGap), height);
    parts_[1]->setGeometry(first, top, std::max(0, second - first - kGap), height);
    parts_[2]->setGeometry(second, top, std::max(0, width - second), height);
}

}  // namespace halvex
