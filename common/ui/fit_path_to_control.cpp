// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui/fit_path_to_control.h"

#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

#include <algorithm>

#include "common/fit_path.h"

namespace halvex {
namespace {

int TextWidthOf(const QWidget& control) {
    int width = control.contentsRect().width();
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        width -= 2 * label->margin();
        // A label indents text that is aligned to a side; a framed label does so by default.
        int indent = label->indent();
        if (indent < 0 && label->frameWidth() > 0) indent = control.fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
        if (indent > 0 && !(label->alignment() & Qt::AlignHCenter)) width -= indent;
    }
    return width;
}

}  // namespace

std::string FitPathToControl(const std::string& text, const QWidget& control) {
    QFontMetrics metrics(control.font());
    // A label lays its text out in the bounding rectangle, which can be a pixel wider than
    // the advance where the last glyph overhangs.
    auto measure = [&metrics](std::string_view part) {
        QString text = QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size()));
        return std::max(metrics.horizontalAdvance(text), metrics.boundingRect(QRect(), Qt::TextSingleLine, text).width());
    };
    return FitPathToWidth(text, TextWidthOf(control), measure);
}

}  // namespace halvex
