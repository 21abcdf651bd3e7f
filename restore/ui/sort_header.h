// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The header of the file lists: a click on a column sorts by it (a second click reverses the
// order), the sorted column carries a raised arrow, and locked columns (the icon column) keep
// their width: the divider right of one offers no resizing.
#include <QHeaderView>

#include <vector>

class QTableView;
class QTreeView;

namespace halvex {

class SortHeader : public QHeaderView {
    Q_OBJECT

public:
    explicit SortHeader(QWidget* parent = nullptr);
    ~SortHeader() override;

    // Replaces the view's own header by a new SortHeader and returns it.
    static SortHeader* AttachTo(QTreeView& view);
    static SortHeader* AttachTo(QTableView& view);

    void SetLockedColumns(std::vector<int> columns);
    void SetLockEnabled(bool enabled);
    bool IsLocked(int column) const;

    // The sorted column (1, "File Name", at the start), its direction and the sort key for
    // CompareListItems: the column's criterion, negative for descending (3 at the start).
    int SortColumn() const { return sortColumn_; }
    bool Ascending() const { return ascending_; }
    int SortKey() const { return sortKey_; }

    // What a click on the column's caption does: the same column again reverses the order,
    // another becomes the sorted column, ascending. Then SortRequested is sent.
    void ClickColumn(int column);

signals:
    // The list is to be sorted again with this key (the pages also sort after filling).
    void SortRequested(int sortKey, int sortColumn);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    void ApplyLocks();
    void DrawArrow(QPainter& painter, const QRect& rect, int quarter) const;

    std::vector<int> lockedColumns_;
    bool lockEnabled_ = false;
    int sortColumn_ = 1;
    bool ascending_ = true;
    int sortKey_ = 3;
};

}  // namespace halvex
