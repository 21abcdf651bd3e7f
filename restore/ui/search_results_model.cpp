// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/search_results_model.h"

#include <algorithm>

#include "common/fit_path.h"
#include "common/text_format.h"
#include "restore/compare_list_items.h"
#include "restore/archive_set.h"
#include "restore/page_texts.h"
#include "restore/ui/icon_cache.h"

namespace halvex {

SearchResultsModel::SearchResultsModel(const ArchiveSet& set, IconCache& icons, QObject* parent)
    : QAbstractTableModel(parent), set_(set), icons_(icons) {}

void SearchResultsModel::ShowNewHits() {
    const std::size_t shown = order_.size();
    const std::size_t total = results_.Size();
    if (total <= shown) return;
    beginInsertRows({}, static_cast<int>(shown), static_cast<int>(total - 1));
    order_.reserve(total);
    for (std::size_t i = shown; i < total; ++i) order_.push_back(static_cast<std::uint32_t>(i));
    endInsertRows();
}

void SearchResultsModel::Clear() {
    beginResetModel();
    order_.clear();
    results_.Clear();
    endResetModel();
}

int SearchResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int SearchResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString SearchResultsModel::Text(int row, int column) const {
    const SearchResults::Hit& hit = Hit(row);
    switch (column) {
    case NameColumn: return QString::fromUtf8(hit.file->name);
    case PathColumn: return QString::fromStdString(ShownPath(results_.FolderPath(hit)));
    case ModifiedColumn: return QString::fromStdString(FormatListDate(hit.file->lastWriteTime));
    case SizeColumn: return QString::fromStdString(FormatByteSize(hit.file->size));
    case ArchiveColumn: {
        const std::string* name = set_.GetArchiveName(hit.file->archiveNumber);
        return name != nullptr ? QString::fromStdString(*name) : QString();
    }
    default: return {};
    }
}

QVariant SearchResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(order_.size())) return {};
    if (role == Qt::DisplayRole) return Text(index.row(), index.column());
    if (role == Qt::DecorationRole && index.column() == IconColumn)
        return icons_.Icon(icons_.GetIconIndexForFile(Hit(index.row()).file->name));
    return {};
}

void SearchResultsModel::SortRows(int sortKey, int sortColumn) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint32_t> hitsBefore;
    hitsBefore.reserve(before.size());
    for (const QModelIndex& index : before) hitsBefore.push_back(order_[index.row()]);
    // Only the path column sorts by its text; the others have criteria of their own.
    const bool byPath = sortColumn == PathColumn;
    SortListRows(order_, sortKey, [this, byPath](std::uint32_t i) {
        const SearchResults::Hit& hit = results_[i];
        return ListItem{nullptr, hit.file, byPath ? std::string_view(results_.FolderPath(hit)) : std::string_view()};
    });
    std::vector<int> rowOfHit(results_.Size(), 0);
    for (std::size_t row = 0; row < order_.size(); ++row) rowOfHit[order_[row]] = static_cast<int>(row);
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i) after.push_back(index(rowOfHit[hitsBefore[i]], before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QVariant SearchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case NameColumn: return QStringLiteral("File Name");
    case PathColumn: return QStringLiteral("Path");
    case ModifiedColumn: return QStringLiteral("Modified");
    case SizeColumn: return QStringLiteral("Size");
    case ArchiveColumn: return QStringLiteral("Archive");
    default: return QString();
    }
}

}  // namespace halvex
