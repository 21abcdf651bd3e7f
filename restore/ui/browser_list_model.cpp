// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/browser_list_model.h"

#include <algorithm>
#include <numeric>

#include "common/text_format.h"
#include "restore/compare_list_items.h"
#include "restore/archive_set.h"
#include "restore/page_texts.h"
#include "restore/ui/icon_cache.h"

namespace halvex {

BrowserListModel::BrowserListModel(const ArchiveSet& set, IconCache& icons, QObject* parent)
    : QAbstractTableModel(parent), set_(set), icons_(icons) {}

void BrowserListModel::SetRows(std::vector<BrowserRow> rows, std::string entryFolder) {
    beginResetModel();
    rows_ = std::move(rows);
    entryFolder_ = std::move(entryFolder);
    const std::string setKey = set_.ArchiveBaseName() + '\n' + set_.ArchiveFileToOpen(set_.ArchiveCount());
    if (!links_ || setKey != linksOfSet_) {
        links_ = std::make_unique<LinkTargets>(set_);
        linksOfSet_ = setKey;
    }
    endResetModel();
}

std::optional<std::string> BrowserListModel::LinkTarget(int row) const {
    const BrowserRow& item = Row(row);
    if (item.kind != BrowserRowKind::File || links_ == nullptr || entryFolder_.empty()) return std::nullopt;
    return links_->TargetOf(*item.file, entryFolder_ + '\\' + item.file->name);
}

void BrowserListModel::Clear() { SetRows({}); }

bool BrowserListModel::HasUpRow() const {
    return std::any_of(rows_.begin(), rows_.end(), [](const BrowserRow& row) { return !row.HasItem(); });
}

int BrowserListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BrowserListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString BrowserListModel::Text(int row, int column) const {
    const BrowserRow& item = Row(row);
    switch (column) {
    case NameColumn:
        if (item.file != nullptr) return QString::fromUtf8(item.file->name);
        if (item.folder != nullptr) return QString::fromUtf8(item.folder->name);
        return QStringLiteral("<..>");
    case DateColumn:
        if (item.file != nullptr) return QString::fromStdString(FormatListDate(item.file->lastWriteTime));
        return {};
    case SizeColumn:
        if (item.HasItem()) return QString::fromStdString(FormatByteSize(item.Size()));
        return {};
    case ArchiveColumn: {
        if (!item.HasItem()) return {};
        const int number = item.file != nullptr ? item.file->archiveNumber : item.folder->archiveNumber;
        const std::string* name = set_.GetArchiveName(number);
        return name != nullptr ? QString::fromStdString(*name) : QString();
    }
    default:
        return {};
    }
}

QVariant BrowserListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    if (role == Qt::DisplayRole) return Text(index.row(), index.column());
    if (role == Qt::DecorationRole && index.column() == IconColumn) {
        const BrowserRow& row = Row(index.row());
        switch (row.kind) {
        case BrowserRowKind::File:
            if (LinkTarget(index.row())) return icons_.Icon(IconCache::kLinkImage);
            return icons_.Icon(icons_.GetIconIndexForFile(row.file->name));
        case BrowserRowKind::Up: return icons_.Icon(IconCache::kUpImage);
        case BrowserRowKind::Folder: return icons_.Icon(IconCache::kFolderImage);
        case BrowserRowKind::Target: return icons_.Icon(IconCache::kTargetImage);
        }
    }
    if (role == Qt::ToolTipRole && (index.column() == IconColumn || index.column() == NameColumn)) {
        if (const std::optional<std::string> target = LinkTarget(index.row()))
            return QStringLiteral("Symbolic link to ") + QString::fromUtf8(target->data(), static_cast<qsizetype>(target->size()));
    }
    return {};
}

void BrowserListModel::SortRows(int sortKey, int sortColumn) {
    (void)sortColumn;  // no column of this list sorts by its text
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    SortListRows(order, sortKey, [this](int row) { return ListItem{rows_[row].folder, rows_[row].file, {}}; });
    std::vector<BrowserRow> sorted;
    sorted.reserve(rows_.size());
    std::vector<int> newRowOf(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(rows_[order[i]]);
        newRowOf[order[i]] = static_cast<int>(i);
    }
    rows_ = std::move(sorted);
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) after.push_back(this->index(newRowOf[index.row()], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QVariant BrowserListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case NameColumn: return QStringLiteral("File Name");
    case DateColumn: return QStringLiteral("File Date");
    case SizeColumn: return QStringLiteral("File Size");
    case ArchiveColumn: return QStringLiteral("Archive");
    default: return QString();
    }
}

}  // namespace halvex
