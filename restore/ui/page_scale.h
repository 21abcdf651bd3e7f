// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pages' measures in pixels (column widths, hand-made layouts) were made for the template's
// font: letters 6 pixels wide on average and 13 high. A larger font grows them alike, so texts
// keep fitting; a smaller one leaves them as they are.
#include <QFont>

namespace halvex {

class PageScale {
public:
    explicit PageScale(const QFont& font);

    int X(int pixels) const;  // across
    int Y(int pixels) const;  // down
    double XFactor() const { return x_; }
    double YFactor() const { return y_; }

private:
    double x_ = 1.0;
    double y_ = 1.0;
};

// Just wide enough for a date of the file lists ("Sep-28 2024 23:58:58" in the user's locale)
// in this font.
int DateColumnWidth(const QFont& font);

}  // namespace halvex
