// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The order of the rows of the file lists (the File Browser's folder contents and the search
// results): what a click on a column header sorts by. Plain C++ so the rule is written once for
// every list model and tested without windows.
#include <algorithm>
#include <string_view>
#include <vector>

#include "common/file_tree.h"

namespace halvex {

// One row as the comparison sees it: a folder, a file, or neither (the "<..>" row).
struct ListItem {
    const FileTreeNode* folder = nullptr;
    const FileTreeFile* file = nullptr;
    // The row's text in the sorted column; only criterion 1 reads it.
    std::string_view sortText;
};

// Sort criteria; a sort key is a criterion, negated for descending order.
enum ListSortCriterion : int {
    kSortByColumnText = 1,  // the sorted column's text, then as kSortByName
    kSortByType = 2,        // the extension (files with one first), then name, archive, date, size
    kSortByName = 3,        // name, archive, date, size
    kSortByDate = 4,        // date, size, then as kSortByName
    kSortBySize = 5,        // size, then as kSortByName
    kSortByArchive = 6,     // archive, date, size, then as kSortByName
};

// <0, 0 or >0. The row without an item comes first and folders come before files whatever the
// direction; the chain of the key's criterion decides the rest, in its direction. Names and
// texts compare ignoring case; folders have no date (the step is skipped for them).
int CompareListItems(const ListItem& a, const ListItem& b, int sortKey);

// The criterion of a column of a list of `columnCount` columns: the search results (6
// columns: icon, name, path, modified, size, archive) or the File Browser's list (5 columns:
// icon, name, date, size, archive). 0 for a column that has none.
int SortCriterionOfColumn(int columnCount, int column);

// Sorts rows in place without disturbing rows that compare equal; `item` gives a row's ListItem.
template <class Row, class ItemOf>
void SortListRows(std::vector<Row>& rows, int sortKey, ItemOf item) {
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Row& a, const Row& b) { return CompareListItems(item(a), item(b), sortKey) < 0; });
}

}  // namespace halvex
