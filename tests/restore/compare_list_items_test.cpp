// SPDX-License-Identifier: GPL-3.0-or-later
// The order of the file lists' rows: "<..>" and folders first in both directions, each
// criterion's chain of tie-breaks, and a stable sort.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/compare_list_items.h"

namespace halvex {
namespace {

struct Row {
    std::string label;
    FileTreeNode folder;
    FileTreeFile file;
    bool isFolder = false;
    bool isUp = false;
    std::string text;  // the sorted column's text
};

Row File(const std::string& name, std::uint64_t size, std::uint16_t archive, std::uint64_t time,
         const std::string& text = "") {
    Row row;
    row.label = name + "/" + std::to_string(archive) + "/" + std::to_string(time);
    row.file.size = size;
    row.file.archiveNumber = archive;
    row.file.lastWriteTime = time;
    row.text = text;
    return row;
}

Row Folder(const std::string& name, std::uint64_t size, std::uint16_t archive) {
    Row row;
    row.label = name;
    row.isFolder = true;
    row.folder.totalSize = size;
    row.folder.archiveNumber = archive;
    return row;
}

Row Up() {
    Row row;
    row.label = "<..>";
    row.isUp = true;
    return row;
}

// Names live in the rows' labels up to the first '/'; the nodes point into a stable copy.
std::vector<std::string> Sorted(std::vector<Row> rows, int sortKey) {
    std::vector<std::string> names;
    names.reserve(rows.size());
    for (Row& row : rows) names.push_back(row.label.substr(0, row.label.find('/')));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].folder.name = names[i].data();
        rows[i].file.name = names[i].data();
    }
    SortListRows(rows, sortKey, [](const Row& row) {
        ListItem item;
        if (row.isFolder) item.folder = &row.folder;
        else if (!row.isUp) item.file = &row.file;
        item.sortText = row.text;
        return item;
    });
    std::vector<std::string> labels;
    for (const Row& row : rows) labels.push_back(row.label);
    return labels;
}

struct Case {
    const char* what;
    int sortKey;
    std::vector<std::string> expected;
};

TEST(CompareListItemsTest, EachCriterionInBothDirections) {
    const std::vector<Row> rows = {
        File("b.TXT", 10, 2, 300, "docs\\x"), File("a.doc", 10, 1, 100, "Docs\\a"), Folder("Zeta", 50, 1),
        File("c", 5, 3, 200, "zed"),          Up(),                                 Folder("alpha", 70, 2),
        File("A.txt", 10, 1, 100, "docs\\x"), File("a.doc", 10, 1, 50, "docs\\a"),
    };
    const Case cases[] = {
        {"name ascending: folders first, then name, archive, date",
         3,
         {"<..>", "alpha", "Zeta", "a.doc/1/50", "a.doc/1/100", "A.txt/1/100", "b.TXT/2/300", "c/3/200"}},
        {"name descending keeps <..> and folders first",
         -3,
         {"<..>", "Zeta", "alpha", "c/3/200", "b.TXT/2/300", "A.txt/1/100", "a.doc/1/100", "a.doc/1/50"}},
        {"type: extension ignoring case, files without one last",
         2,
         {"<..>", "alpha", "Zeta", "a.doc/1/50", "a.doc/1/100", "A.txt/1/100", "b.TXT/2/300", "c/3/200"}},
        {"type descending", -2, {"<..>", "Zeta", "alpha", "c/3/200", "b.TXT/2/300", "A.txt/1/100", "a.doc/1/100", "a.doc/1/50"}},
        {"size, then name, archive, date",
         5,
         {"<..>", "Zeta", "alpha", "c/3/200", "a.doc/1/50", "a.doc/1/100", "A.txt/1/100", "b.TXT/2/300"}},
        {"date, then size, then name; folders have no date: by size",
         4,
         {"<..>", "Zeta", "alpha", "a.doc/1/50", "a.doc/1/100", "A.txt/1/100", "c/3/200", "b.TXT/2/300"}},
        {"archive, then date, size, name",
         6,
         {"<..>", "Zeta", "alpha", "a.doc/1/50", "a.doc/1/100", "A.txt/1/100", "b.TXT/2/300", "c/3/200"}},
        {"column text ignoring case, then name",
         1,
         {"<..>", "alpha", "Zeta", "a.doc/1/50", "a.doc/1/100", "A.txt/1/100", "b.TXT/2/300", "c/3/200"}},
        {"column text descending", -1, {"<..>", "Zeta", "alpha", "c/3/200", "b.TXT/2/300", "A.txt/1/100", "a.doc/1/100", "a.doc/1/50"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Sorted(rows, c.sortKey), c.expected) << c.what;
}

TEST(CompareListItemsTest, ColumnsGiveTheirCriteria) {
    const int search[] = {2, 3, 1, 4, 5, 6};
    const int browser[] = {2, 3, 4, 5, 6};
    for (int column = 0; column < 6; ++column) EXPECT_EQ(SortCriterionOfColumn(6, column), search[column]);
    for (int column = 0; column < 5; ++column) EXPECT_EQ(SortCriterionOfColumn(5, column), browser[column]);
    EXPECT_EQ(SortCriterionOfColumn(5, 5), 0);
    EXPECT_EQ(SortCriterionOfColumn(6, -1), 0);
}

}  // namespace
}  // namespace halvex
