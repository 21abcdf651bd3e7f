// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/list_columns.h"

#include <QEvent>
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

}  // namespace

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
