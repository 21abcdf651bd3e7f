// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The File Search page's results: one row per file found, six columns, filled while the search
// runs and sorted when it ends. Texts are made only for the rows on show.
#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

#include "restore/search_results.h"

namespace halvex {

class ArchiveSet;
class IconCache;

class SearchResultsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { IconColumn, NameColumn, PathColumn, ModifiedColumn, SizeColumn, ArchiveColumn, ColumnCount };

    SearchResultsModel(const ArchiveSet& set, IconCache& icons, QObject* parent = nullptr);

    // Where the search puts what it finds; the rows show it once Show is called.
    SearchResults& Results() { return results_; }
    // Shows the hits added since the last call, after the rows already there.
    void ShowNewHits();
    void Clear();
    const SearchResults::Hit& Hit(int row) const { return results_[order_.at(static_cast<std::size_t>(row))]; }

    // Stable sort by a sort key (criterion, negative for descending) and the sorted column.
    void SortRows(int sortKey, int sortColumn);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    QString Text(int row, int column) const;

private:
    const ArchiveSet& set_;
    IconCache& icons_;
    SearchResults results_;
    std::vector<std::uint32_t> order_;  // row -> hit
};

}  // namespace halvex
