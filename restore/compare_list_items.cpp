// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/compare_list_items.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/nocase.h"

namespace halvex {
namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

template <class T>
int Order(T a, T b) {
    return (a > b) - (a < b);
}

std::string_view NameOf(const ListItem& item) {
    const char* name = item.folder != nullptr ? item.folder->name : item.file->name;
    return name != nullptr ? std::string_view(name) : std::string_view();
}

std::uint16_t ArchiveOf(const ListItem& item) {
    return item.folder != nullptr ? item.folder->archiveNumber : item.file->archiveNumber;
}

std::uint64_t SizeOf(const ListItem& item) { return item.folder != nullptr ? item.folder->totalSize : item.file->size; }

// Folders have no date: the step says "equal" for them.
int CompareDates(const ListItem& a, const ListItem& b) {
    if (a.file == nullptr || b.file == nullptr) return 0;
    return Order(a.file->lastWriteTime, b.file->lastWriteTime);
}

// The text after the last '.', or nothing.
bool ExtensionOf(std::string_view name, std::string_view& extension) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    extension = name.substr(dot + 1);
    return true;
}

// Name, archive, date, size: the chain every other criterion ends with.
int CompareByName(const ListItem& a, const ListItem& b) {
    if (int c = Sign(platform::CompareNoCase(NameOf(a), NameOf(b)))) return c;
    if (int c = Order(ArchiveOf(a), ArchiveOf(b))) return c;
    if (int c = CompareDates(a, b)) return c;
    return Order(SizeOf(a), SizeOf(b));
}

int CompareByCriterion(const ListItem& a, const ListItem& b, int criterion) {
    switch (criterion) {
    case kSortByColumnText:
        if (int c = Sign(platform::CompareNoCase(a.sortText, b.sortText))) return c;
        return CompareByName(a, b);
    case kSortByType:
        // Both are of one kind here; only files have extensions.
        if (a.file != nullptr) {
            std::string_view extensionA, extensionB;
            const bool hasA = ExtensionOf(NameOf(a), extensionA);
            const bool hasB = ExtensionOf(NameOf(b), extensionB);
            if (hasA != hasB) return hasA ? -1 : 1;
            if (hasA) {
                if (int c = Sign(platform::CompareNoCase(extensionA, extensionB))) return c;
            }
        }
        return CompareByName(a, b);
    case kSortByDate:
        if (int c = CompareDates(a, b)) return c;
        if (int c = Order(SizeOf(a), SizeOf(b))) return c;
        return CompareByName(a, b);
    case kSortBySize:
        if (int c = Order(SizeOf(a), SizeOf(b))) return c;
        return CompareByName(a, b);
    case kSortByArchive:
        if (int c = Order(ArchiveOf(a), ArchiveOf(b))) return c;
        if (int c = CompareDates(a, b)) return c;
        if (int c = Order(SizeOf(a), SizeOf(b))) return c;
        return CompareByName(a, b);
    default:
        return CompareByName(a, b);
    }
}

}  // namespace

int CompareListItems(const ListItem& a, const ListItem& b, int sortKey) {
    const bool itemA = a.folder != nullptr || a.file != nullptr;
    const bool itemB = b.folder != nullptr || b.file != nullptr;
    if (!itemA || !itemB) return Order(itemA, itemB);
    const bool folderA = a.folder != nullptr, folderB = b.folder != nullptr;
    if (folderA != folderB) return folderA ? -1 : 1;
    const int direction = sortKey > 0 ? 1 : -1;
    return direction * CompareByCriterion(a, b, std::abs(sortKey));
}

int SortCriterionOfColumn(int columnCount, int column) {
    static constexpr int kSearchColumns[] = {kSortByType, kSortByName, kSortByColumnText,
                                             kSortByDate, kSortBySize, kSortByArchive};
    static constexpr int kBrowserColumns[] = {kSortByType, kSortByName, kSortByDate, kSortBySize, kSortByArchive};
    if (column < 0) return 0;
    if (columnCount == 6) return column < 6 ? kSearchColumns[column] : 0;
    return column < 5 ? kBrowserColumns[column] : 0;
}

}  // namespace halvex
