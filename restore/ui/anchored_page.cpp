// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/anchored_page.h"

#include <QResizeEvent>

#include <algorithm>

namespace halvex {
namespace {

QRect Doubled(const QRect& place) {
    return QRect(QPoint(place.left() * 2, place.top() * 2), QSize(place.width() * 2, place.height() * 2));
}

QRect Halved(const QRect& doubled) {
    return QRect(QPoint(doubled.left() / 2, doubled.top() / 2), QSize(doubled.width() / 2, doubled.height() / 2));
}

// Applies one axis's mode to the near and far edges (half pixels); `extent` is the page's new
// extent on that axis in half pixels.
void ApplyMode(Anchor mode, int delta, double ratio, int extent, int& nearEdge, int& size) {
    switch (mode) {
    case Anchor::Fixed: break;
    case Anchor::Stretch: size += delta; break;
    case Anchor::Move: nearEdge += delta; break;
    case Anchor::Proportional: nearEdge = static_cast<int>(ratio * extent); break;
    case Anchor::Centre: nearEdge += delta / 2; break;
    }
}

}  // namespace

AnchoredPage::AnchoredPage(QWidget* parent) : QWidget(parent) {}

AnchoredPage::~AnchoredPage() = default;

void AnchoredPage::InitialiseAnchors() {
    previous_ = size();
    initialised_ = true;
}

void AnchoredPage::RegisterAnchor(QWidget* control, Anchor horizontal, Anchor vertical) {
    const QRect place = control->geometry();
    const double width = std::max(1, previous_.width()), height = std::max(1, previous_.height());
    anchors_.push_back({control, horizontal, vertical, Doubled(place), place.left() / width, place.top() / height});
}

void AnchoredPage::SetControlsEnabled(bool enabled) {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setEnabled(enabled);
}

void AnchoredPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (initialised_) Layout(event->size());
    AfterLayout();
}

void AnchoredPage::Layout(QSize size) {
    const QSize clamped = size.expandedTo(minimumLayoutSize_);
    const int dx = 2 * (clamped.width() - previous_.width());
    const int dy = 2 * (clamped.height() - previous_.height());
    for (ControlAnchor& anchor : anchors_) {
        // Centred controls start from their stored place: halving on every layout would lose
        // half a pixel each time.
        const bool fromStored = anchor.horizontal == Anchor::Centre || anchor.vertical == Anchor::Centre;
        QRect place = fromStored ? anchor.doubled : Doubled(anchor.control->geometry());
        int left = place.left(), top = place.top(), width = place.width(), height = place.height();
        ApplyMode(anchor.horizontal, dx, anchor.ratioX, 2 * clamped.width(), left, width);
        ApplyMode(anchor.vertical, dy, anchor.ratioY, 2 * clamped.height(), top, height);
        const QRect moved(QPoint(left, top), QSize(std::max(0, width), std::max(0, height)));
        if (moved != anchor.doubled || Doubled(anchor.control->geometry()) != moved) {
            anchor.control->setGeometry(Halved(moved));
            anchor.doubled = moved;
        }
    }
    previous_ = clamped;
}

}  // namespace halvex
