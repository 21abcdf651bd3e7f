// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Window templates are laid out in dialog units: a quarter of the dialog font's average
// character width across and an eighth of its height down.
#include <QFont>
#include <QRect>
#include <QSize>

namespace halvex {

class DialogUnits {
public:
    // The average width is that of the 52 Latin letters, as the template fonts were measured;
    // the height is the font's ascent plus descent.
    explicit DialogUnits(const QFont& font);

    double AverageCharWidth() const { return averageWidth_; }
    int CharHeight() const { return height_; }

    // Pixels for a horizontal or vertical count of dialog units, rounded to the nearest.
    int X(int units) const;
    int Y(int units) const;
    // A template rectangle: each edge is converted on its own, so controls that touch in the
    // template still touch in pixels.
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    double averageWidth_;
    int height_;
};

}  // namespace halvex
