// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/list_columns.h"

#include <QEvent>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>
#include <QHeaderView>
#include <QObject>
#include <QTreeView>

#include <algorithm>

namespace halvex {
namespace {

class ColumnFiller : public QObject {
public:
    ColumnFiller(QTreeView& list, int column) : QObject(&list), list_(list), column_(column) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && watched == list_.viewport()) FillColumn(list_, column_);
        return false;
    }

private:
    QTreeView& list_;
    int column_;
};

class CutTextToolTips : public QObject {
public:
    explicit CutTextToolTips(QTreeView& list) : QObject(&list), list_(list) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ToolTip || watched != list_.viewport()) return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = list_.indexAt(help->pos());
        if (!index.isValid() || index.data(Qt::ToolTipRole).isValid()) return false;
        const QString text = index.data(Qt::DisplayRole).toString();
        const QRect cell = list_.visualRect(index);
        int room = cell.width() - 2 * (list_.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list_) + 1);
        if (index.data(Qt::DecorationRole).isValid()) room -= list_.iconSize().isValid() ? list_.iconSize().width() : 16;
        if (text.isEmpty() || list_.fontMetrics().horizontalAdvance(text) <= room) {
            QToolTip::hideText();
            return true;
        }
        QToolTip::showText(help->globalPos(), text, list_.viewport(), cell);
        return true;
    }

private:
    QTreeView& list_;
};

}  // namespace

void ShowCutTextsInToolTips(QTreeView& list) { list.viewport()->installEventFilter(new CutTextToolTips(list)); }

void FillColumn(QTreeView& list, int column) {
    QHeaderView* header = list.header();
    int others = 0;
    for (int i = 0; i < header->count(); ++i)
        if (i != column) others += header->sectionSize(i);
    // A few letters of a name stay readable; narrower lists scroll sideways.
    const int least = list.fontMetrics().averageCharWidth() * 8;
    header->resizeSection(column, std::max(least, list.viewport()->width() - others));
}

void KeepColumnFilling(QTreeView& list, int column) {
    list.viewport()->installEventFilter(new ColumnFiller(list, column));
    FillColumn(list, column);
}

}  // namespace halvex
