// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The File Browser's list of one folder: its files, "<..>" and its sub-folders (or the targets
// of the set), five columns, sorted in place. The texts are made only for the rows on show, so
// a folder of tens of thousands of files opens at once.
#include <QAbstractTableModel>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "restore/browser_rows.h"
#include "restore/link_targets.h"

namespace halvex {

class ArchiveSet;
class IconCache;

class BrowserListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { IconColumn, NameColumn, DateColumn, SizeColumn, ArchiveColumn, ColumnCount };

    BrowserListModel(const ArchiveSet& set, IconCache& icons, QObject* parent = nullptr);

    // Replaces every row; `entryFolder` is the entry path of the folder listed ("" for the
    // set's targets), which names its files' entries. A file whose entry is a symbolic link
    // shows the link icon and its target as a tooltip.
    void SetRows(std::vector<BrowserRow> rows, std::string entryFolder = {});
    void Clear();
    const BrowserRow& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<BrowserRow>& Rows() const { return rows_; }
    bool HasUpRow() const;

    // Stable sort by a sort key (criterion, negative for descending); the selection follows
    // its rows.
    void SortRows(int sortKey, int sortColumn);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of a cell, as shown.
    QString Text(int row, int column) const;
    // The target of the file on `row` when its entry is a symbolic link.
    std::optional<std::string> LinkTarget(int row) const;

private:
    const ArchiveSet& set_;
    IconCache& icons_;
    std::vector<BrowserRow> rows_;
    std::string entryFolder_;
    // Read once per archive of the set on show; another set starts afresh.
    mutable std::unique_ptr<LinkTargets> links_;
    std::string linksOfSet_;
};

}  // namespace halvex
