// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A draggable bar between two parts of a page. It moves only along one axis, within a range
// its owner sets, and reports every move as a distance; the owner resizes the parts.
#include <QWidget>

namespace halvex {

class SplitterBar : public QWidget {
    Q_OBJECT

public:
    // Vertical bars drag left and right, horizontal bars up and down. The bar takes `place`
    // (in its parent's coordinates); until SetRange it cannot move.
    SplitterBar(Qt::Orientation orientation, const QRect& place, QWidget* parent);
    ~SplitterBar() override;

    // Allowed positions of the bar's centre, in the parent's coordinates along the bar's axis.
    void SetRange(int minimum, int maximum);
    int RangeMinimum() const { return minimum_; }
    int RangeMaximum() const { return maximum_; }
    // Live bars move and report while dragged; others show tracking lines and report once at
    // the end.
    void SetLive(bool live) { live_ = live; }
    bool IsTracking() const { return tracking_; }
    Qt::Orientation Orientation() const { return orientation_; }
    // The bar's centre along its axis, in the parent's coordinates.
    int Centre() const;

signals:
    // The bar moved by this many pixels (right or down positive) since the last report.
    void Moved(int distance);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int PositionOf(QMouseEvent* event) const;
    void MoveCentreTo(int position);
    void ShowTrackingLines(int position);
    void Report();

    Qt::Orientation orientation_;
    bool tracking_ = false;
    bool live_ = false;
    int position_ = 0;  // where the bar's centre is meant to be
    int reported_ = 0;  // the position last reported
    int minimum_ = 0;
    int maximum_ = 0;
    QWidget* trackingLines_ = nullptr;
};

}  // namespace halvex
