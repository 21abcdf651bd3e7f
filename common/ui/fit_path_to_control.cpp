#include "common/ui/fit_path_to_control.h"

#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

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
    auto measure = [&metrics](std::string_view part) {
        return metrics.horizontalAdvance(QString::fromUtf8(part.data(), static_cast<qsizetype>(part.size())));
    };
    return FitPathToWidth(text, TextWidthOf(control), measure);
}

}  // namespace halvex
