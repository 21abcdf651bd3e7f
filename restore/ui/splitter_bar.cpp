// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/splitter_bar.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace halvex {

SplitterBar::SplitterBar(Qt::Orientation orientation, const QRect& place, QWidget* parent)
    : QWidget(parent), orientation_(orientation) {
    setGeometry(place);
    setCursor(orientation == Qt::Vertical ? Qt::SizeHorCursor : Qt::SizeVerCursor);
    minimum_ = maximum_ = Centre();
}

SplitterBar::~SplitterBar() = default;

int SplitterBar::Centre() const {
    const QRect place = geometry();
    return orientation_ == Qt::Vertical ? place.left() + place.width() / 2 : place.top() + place.height() / 2;
}

void SplitterBar::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
}

void SplitterBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect all = rect();
    // A raised frame around a pale fill.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(all.topLeft(), all.topRight());
    painter.drawLine(all.topLeft(), all.bottomLeft());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(all.bottomLeft(), all.bottomRight());
    painter.drawLine(all.topRight(), all.bottomRight());
    const QRect inside = all.adjusted(1, 1, -1, -1);
    if (inside.width() > 0 && inside.height() > 0) {
        painter.fillRect(inside, QColor(200, 220, 220));
        painter.setPen(QColor(200, 200, 200));
        painter.drawRect(inside.adjusted(0, 0, -1, -1));
    }
}

int SplitterBar::PositionOf(QMouseEvent* event) const {
    const QPoint inParent = mapToParent(event->position().toPoint());
    const int position = orientation_ == Qt::Vertical ? inParent.x() : inParent.y();
    return std::clamp(position, minimum_, maximum_);
}

void SplitterBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    tracking_ = true;
    position_ = reported_ = Centre();
    if (!live_) ShowTrackingLines(position_);
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event) {
    if (!tracking_) return QWidget::mouseMoveEvent(event);
    position_ = PositionOf(event);
    if (live_) {
        MoveCentreTo(position_);
        Report();
    } else {
        ShowTrackingLines(position_);
    }
}

void SplitterBar::mouseReleaseEvent(QMouseEvent* event) {
    if (!tracking_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    position_ = PositionOf(event);
    if (trackingLines_) trackingLines_->hide();
    tracking_ = false;
    MoveCentreTo(position_);
    Report();
}

void SplitterBar::MoveCentreTo(int position) {
    const QRect place = geometry();
    if (orientation_ == Qt::Vertical)
        move(position - place.width() / 2, place.top());
    else
        move(place.left(), position - place.height() / 2);
}

void SplitterBar::ShowTrackingLines(int position) {
    QWidget* parent = parentWidget();
    if (!parent) return;
    if (!trackingLines_) {
        // Two lines one pixel either side of the position, across the bar's length.
        trackingLines_ = new QWidget(parent);
        trackingLines_->setAttribute(Qt::WA_TransparentForMouseEvents);
        trackingLines_->setAutoFillBackground(true);
        QPalette colours = trackingLines_->palette();
        colours.setColor(QPalette::Window, QColor(100, 100, 100));
        trackingLines_->setPalette(colours);
    }
    const QRect place = geometry();
    if (orientation_ == Qt::Vertical)
        trackingLines_->setGeometry(position - 1, place.top(), 3, place.height());
    else
        trackingLines_->setGeometry(place.left(), position - 1, place.width(), 3);
    trackingLines_->raise();
    trackingLines_->show();
}

void SplitterBar::Report() {
    const int distance = position_ - reported_;
    reported_ = position_;
    if (distance != 0) emit Moved(distance);
}

}  // namespace halvex
