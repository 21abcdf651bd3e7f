// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A page of the restore window whose controls keep their places as the page is resized: each
// registered control follows the page's right and bottom edges by its anchor modes. The Easy
// Restore and Search pages are built on it.
#include <QRect>
#include <QSize>
#include <QWidget>

#include <vector>

namespace halvex {

// What a control does on one axis when the page grows by d pixels.
enum class Anchor {
    Fixed = 0,         // nothing changes
    Stretch = 1,       // the far edge (right or bottom) moves by d
    Move = 2,          // both edges move by d
    Proportional = 3,  // the near edge keeps its share of the page's extent; the size stays
    Centre = 4,        // both edges move by d / 2
};

class AnchoredPage : public QWidget {
    Q_OBJECT

public:
    explicit AnchoredPage(QWidget* parent = nullptr);
    ~AnchoredPage() override;

    // Takes the page's present size as the size the registered places were made for. Call it
    // once the controls are placed, before the first RegisterAnchor.
    void InitialiseAnchors();
    // Below this size the page stops moving its controls: they stay where they were at it.
    void SetMinimumLayoutSize(QSize size) { minimumLayoutSize_ = size; }
    QSize MinimumLayoutSize() const { return minimumLayoutSize_; }
    // Registers a control (a child of the page) at its present place.
    void RegisterAnchor(QWidget* control, Anchor horizontal, Anchor vertical);
    // Enables or disables every control of the page at once.
    void SetControlsEnabled(bool enabled);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Called after each layout, for what the anchors do not cover (column widths and the like).
    virtual void AfterLayout() {}

private:
    struct ControlAnchor {
        QWidget* control;
        Anchor horizontal;
        Anchor vertical;
        QRect doubled;  // the control's place in half pixels, so centring loses nothing
        double ratioX;  // Proportional: near edge / page extent at registration
        double ratioY;
    };
    void Layout(QSize size);

    std::vector<ControlAnchor> anchors_;
    QSize previous_;  // the (clamped) size of the last layout
    QSize minimumLayoutSize_;
    bool initialised_ = false;
};

}  // namespace halvex
