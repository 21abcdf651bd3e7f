// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/sort_header.h"

#include <QPainter>
#include <QPolygon>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QTreeView>

#include <algorithm>

#include "restore/compare_list_items.h"

namespace halvex {

SortHeader::SortHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setSortIndicatorShown(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(this, &QHeaderView::sectionClicked, this, &SortHeader::ClickColumn);
    connect(this, &QHeaderView::sectionCountChanged, this, [this] { ApplyLocks(); });
}

SortHeader::~SortHeader() = default;

SortHeader* SortHeader::AttachTo(QTreeView& view) {
    auto* header = new SortHeader(&view);
    view.setHeader(header);
    // The header sorts, with its own order; the view's sorting would also make the captions
    // unclickable.
    view.setSortingEnabled(false);
    header->setSectionsClickable(true);
    return header;
}

SortHeader* SortHeader::AttachTo(QTableView& view) {
    auto* header = new SortHeader(&view);
    view.setHorizontalHeader(header);
    view.setSortingEnabled(false);
    header->setSectionsClickable(true);
    return header;
}

void SortHeader::SetLockedColumns(std::vector<int> columns) {
    lockedColumns_ = std::move(columns);
    ApplyLocks();
}

void SortHeader::SetLockEnabled(bool enabled) {
    lockEnabled_ = enabled;
    ApplyLocks();
}

bool SortHeader::IsLocked(int column) const {
    return lockEnabled_ && std::find(lockedColumns_.begin(), lockedColumns_.end(), column) != lockedColumns_.end();
}

void SortHeader::ApplyLocks() {
    // A fixed section refuses the user's width changes, and the header then offers no resize
    // cursor on the divider that belongs to it (its right edge, on either side of the divider).
    for (int column = 0; column < count(); ++column)
        setSectionResizeMode(column, IsLocked(column) ? QHeaderView::Fixed : QHeaderView::Interactive);
}

void SortHeader::ClickColumn(int column) {
    const int criterion = SortCriterionOfColumn(count(), column);
    if (criterion == 0) return;
    if (column == sortColumn_) {
        ascending_ = !ascending_;
    } else {
        sortColumn_ = column;
        ascending_ = true;
    }
    sortKey_ = ascending_ ? criterion : -criterion;
    viewport()->update();
    emit SortRequested(sortKey_, sortColumn_);
}

void SortHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    QStyleOptionHeader option;
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const QString caption = option.text;
    const Qt::Alignment alignment = option.textAlignment;
    // The style draws the section itself; the caption and the arrow are placed here.
    option.text.clear();
    option.icon = QIcon();
    option.sortIndicator = QStyleOptionHeader::None;
    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);

    const int quarter = rect.height() / 4;
    const bool sorted = logicalIndex == sortColumn_;
    QRect textRect = rect.adjusted(quarter, 0, -quarter - (sorted ? 3 * quarter : 0), 0);
    if (option.state & QStyle::State_Sunken) textRect.translate(1, 2);
    if (textRect.width() > 0) {
        const QString shown = fontMetrics().elidedText(caption, Qt::ElideRight, textRect.width());
        painter->setPen(palette().color(QPalette::ButtonText));
        painter->drawText(textRect, static_cast<int>((alignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter |
                                                     Qt::TextSingleLine),
                          shown);
    }
    if (sorted && rect.width() > 4 * quarter) DrawArrow(*painter, rect, quarter);
    painter->restore();
}

void SortHeader::DrawArrow(QPainter& painter, const QRect& rect, int quarter) const {
    // A triangle in the button's light and shadow colours, raised like the header itself:
    // apex up for ascending, down for descending.
    const int right = rect.right() + 1;
    const int top = rect.top() + quarter;
    const int bottom = rect.bottom() - quarter;
    const QPoint apex(right - 2 * quarter, ascending_ ? top : bottom);
    const QPoint baseLeft(right - 3 * quarter, ascending_ ? bottom : top);
    const QPoint baseRight(right - quarter, ascending_ ? bottom : top);
    // Filled so that it shows on any header colour; the light and dark edges raise it.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Mid));
    painter.drawPolygon(QPolygon({apex, baseLeft, baseRight}));
    const QPen light(palette().color(QPalette::Light));
    const QPen shadow(palette().color(QPalette::Shadow));
    painter.setPen(ascending_ ? shadow : light);
    painter.drawLine(baseLeft, apex);
    painter.setPen(ascending_ ? light : shadow);
    painter.drawLine(apex, baseRight);
    painter.setPen(ascending_ ? light : shadow);
    painter.drawLine(baseLeft, baseRight);
}

}  // namespace halvex
