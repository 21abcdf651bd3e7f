// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/page_scale.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>

#include "common/ui/dialog_units.h"
#include "restore/page_texts.h"

namespace halvex {

namespace {

constexpr double kTemplateLetterWidth = 6.0;
constexpr double kTemplateCharHeight = 13.0;

// 2024-01-28 23:58:58 UTC as a file time, and one month (31 days) in file-time units.
constexpr std::uint64_t kSampleDate = 133509599380000000ULL;
constexpr std::uint64_t kMonth = 31ULL * 864000000000ULL;

}  // namespace

PageScale::PageScale(const QFont& font) {
    const DialogUnits units(font);
    x_ = std::max(1.0, units.AverageCharWidth() / kTemplateLetterWidth);
    y_ = std::max(1.0, units.CharHeight() / kTemplateCharHeight);
}

int PageScale::X(int pixels) const { return static_cast<int>(std::lround(pixels * x_)); }

int PageScale::Y(int pixels) const { return static_cast<int>(std::lround(pixels * y_)); }

int DateColumnWidth(const QFont& font) {
    const QFontMetrics metrics(font);
    int widest = 0;
    // Month names differ in width: take the widest of the year's.
    for (int month = 0; month < 12; ++month) {
        const QString text = QString::fromStdString(FormatListDate(kSampleDate + month * kMonth));
        widest = std::max(widest, metrics.horizontalAdvance(text));
    }
    return widest + 2 * metrics.averageCharWidth();
}

}  // namespace halvex
