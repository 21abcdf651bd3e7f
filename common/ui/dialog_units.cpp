// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui/dialog_units.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QString>
#include <cmath>

namespace halvex {

DialogUnits::DialogUnits(const QFont& font) {
    QFontMetricsF metrics(font);
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    averageWidth_ = metrics.horizontalAdvance(letters) / letters.size();
    height_ = QFontMetrics(font).height();
    if (averageWidth_ <= 0) averageWidth_ = 1;
    if (height_ <= 0) height_ = 1;
}

int DialogUnits::X(int units) const { return static_cast<int>(std::lround(units * averageWidth_ / 4.0)); }

int DialogUnits::Y(int units) const { return static_cast<int>(std::lround(units * height_ / 8.0)); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    int left = X(x), top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

}  // namespace halvex
