// SPDX-License-Identifier: GPL-3.0-or-later
// The File Browser and the File Search & Log Viewer pages in the restore window: browsing a
// set's folders, restoring a selection of a set written by the backup program, the search with
// its "Look In:" filter over several dates, the log pager at both ends, and what waits while a
// search lets the window's events through.
#include <QComboBox>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <string>

#include "common/text_format.h"
#include "platform/file_attributes.h"
#include "restore/restore_selection.h"
#include "restore/ui/browser_list_model.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/restore_main_window.h"
#include "restore/ui/restore_status_bar.h"
#include "restore/ui/search_log_page.h"
#include "restore/ui/search_results_model.h"
#include "restore/ui/sort_header.h"
#include "restore/ui/splitter_bar.h"
#include "tests/restore/scripted_restore_ui.h"
#include "tests/restore/set_builder.h"
#include "tests/support/modal_windows.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

using namespace halvex;

namespace {

// Every row of a list as "name|column 2|...", the icon column left out.
template <class Model>
QStringList RowTexts(const Model& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 1; column < model.columnCount(); ++column) cells << model.Text(row, column);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

int RowNamed(const BrowserListModel& model, const QString& name) {
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.Text(row, BrowserListModel::NameColumn) == name) return row;
    return -1;
}

void SelectRows(QTreeView& list, std::initializer_list<int> rows) {
    list.clearSelection();
    for (int row : rows)
        list.selectionModel()->select(list.model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

}  // namespace

class RestorePagesTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void BrowserNavigatesByTreeAndDoubleClicks();
    void BrowserTreeIsSortedAsTheList();
    void BrowserLayoutFollowsThePageSize();
    void BrowserTreeItemsFollowWhatIsShown();
    void BrowserRestoresASelectionOfARealSet();
    void SearchLooksInFoldersOverSeveralDates();
    void LogPagerStopsAtBothEnds();
    void LogBytesAreShownAsUtf8OrLatin1();
    void SplitterSharesTheHeightWithinItsRange();
    void WhileASearchRunsTheWindowWaits();

private:
    FileBrowserPage* Browser() { return dynamic_cast<FileBrowserPage*>(window_->Page(RestoreMainWindow::kFileBrowserPage)); }
    SearchLogPage* Search() { return dynamic_cast<SearchLogPage*>(window_->Page(RestoreMainWindow::kSearchLogPage)); }
    QString Status(int part) { return window_->StatusBar()->Text(part); }
    void Show(int page) { window_->Tabs()->setCurrentIndex(page); }

    std::unique_ptr<test::TempFolder> temp_;
    std::unique_ptr<RestoreMainWindow> window_;
};

void RestorePagesTest::init() {
    temp_ = std::make_unique<test::TempFolder>();
    window_ = std::make_unique<RestoreMainWindow>();
    window_->show();
    QVERIFY(Browser() != nullptr);
    QVERIFY(Search() != nullptr);
}

void RestorePagesTest::cleanup() {
    window_.reset();
    temp_.reset();
}

void RestorePagesTest::BrowserNavigatesByTreeAndDoubleClicks() {
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.AddTarget("Late", "/late");
    builder.links["Data\\c"] = "b.doc";
    builder.Run(test::Day(1), {{"Data", "", "(b.doc@1:20,a.txt@1:10,c@1:5)[one(x@1:1)[deep(y@1:2)] two(z@1:3)]"}});
    builder.links.clear();
    builder.Run(test::Day(2), {{"Data", "", "(a.txt@2:11)"}, {"Late", "", "(l@2:4)"}});
    QVERIFY(window_->ShowSet(builder.ArchivePath(2)));
    Show(RestoreMainWindow::kFileBrowserPage);
    FileBrowserPage& page = *Browser();
    const BrowserListModel& model = *page.ListModel();

    // The set (named by its base): its targets, without "<..>", restored below the alternate
    // folder.
    QCOMPARE(page.Tree()->topLevelItemCount(), 1);
    QCOMPARE(page.Tree()->currentItem()->text(0), QStringLiteral("Job.TQBak"));
    QCOMPARE(RowTexts(model), (QStringList{"Data||42 bytes|Job2.TQBak", "Late||4 bytes|Job2.TQBak"}));
    QCOMPARE(page.RestoreToEdit()->text(), QString::fromStdString(DefaultAlternateFolder()));
    QCOMPARE(Status(1), QStringLiteral("2 object(s)"));

    // Into Data: "<..>", the folders, then the files; each names the archive of its version.
    page.OpenRow(RowNamed(model, "Data"));
    QCOMPARE(page.Tree()->currentItem(), page.ItemOfFolder(window_->Set().GetTargetTree(0)));
    QCOMPARE(RowTexts(model), (QStringList{"<..>|||", "one||3 bytes|Job.TQBak", "two||3 bytes|Job.TQBak",
                                           "a.txt|Jan-01 1601 00:00:00|11 bytes|Job2.TQBak",
                                           "b.doc|Jan-01 1601 00:00:00|20 bytes|Job.TQBak",
                                           "c|Jan-01 1601 00:00:00|5 bytes|Job.TQBak"}));
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data"));
    QCOMPARE(Status(1), QStringLiteral("5 object(s)"));
    // A link shows as one, its target in the tooltip; other files have none.
    const auto tip = [&](const char* name) {
        return model.data(model.index(RowNamed(model, name), BrowserListModel::NameColumn), Qt::ToolTipRole).toString();
    };
    QCOMPARE(tip("c"), QStringLiteral("Symbolic link to b.doc"));
    QCOMPARE(tip("a.txt"), QString());
    QCOMPARE(tip("b.doc"), QString());
    QCOMPARE(Status(2), QStringLiteral("0 bytes"));

    // Down two levels, then up one.
    page.OpenRow(RowNamed(model, "one"));
    page.OpenRow(RowNamed(model, "deep"));
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/one/deep"));
    QCOMPARE(RowTexts(model), (QStringList{"<..>|||", "y|Jan-01 1601 00:00:00|2 bytes|Job.TQBak"}));
    page.OpenRow(RowNamed(model, "<..>"));
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/one"));
    page.OpenRow(RowNamed(model, "x"));  // a file: nothing happens
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/one"));
    page.OpenRow(RowNamed(model, "<..>"));

    // "<..>" alone selects nothing; files and folders count with their sizes.
    SelectRows(*page.List(), {RowNamed(model, "<..>")});
    QVERIFY(!page.RestoreButton()->isEnabled());
    QCOMPARE(Status(1), QStringLiteral("5 object(s)"));
    SelectRows(*page.List(), {RowNamed(model, "<..>"), RowNamed(model, "one"), RowNamed(model, "b.doc")});
    QVERIFY(page.RestoreButton()->isEnabled());
    QCOMPARE(Status(1), QStringLiteral("2 object(s) selected"));
    QCOMPARE(Status(2), QStringLiteral("23 bytes"));

    // A page out of sight keeps no selection.
    Show(RestoreMainWindow::kSearchLogPage);
    QVERIFY(!page.List()->selectionModel()->hasSelection());
    QVERIFY(!page.RestoreButton()->isEnabled());

    // The filter narrows the folder's rows as it is typed, "<..>" staying; another folder
    // starts unfiltered.
    Show(RestoreMainWindow::kFileBrowserPage);
    QTest::keyClicks(page.FilterEdit(), "A.");
    QCOMPARE(RowTexts(model), (QStringList{"<..>|||", "a.txt|Jan-01 1601 00:00:00|11 bytes|Job2.TQBak"}));
    QCOMPARE(Status(1), QStringLiteral("1 object(s)"));
    QTest::keyClicks(page.FilterEdit(), "zz");
    QCOMPARE(RowTexts(model), (QStringList{"<..>|||"}));
    // Enter opens the folder row under the cursor, Backspace goes up.
    page.FilterEdit()->clear();
    page.List()->setCurrentIndex(model.index(RowNamed(model, "two"), 0));
    QTest::keyClick(page.List(), Qt::Key_Return);
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/two"));
    QTest::keyClick(page.List(), Qt::Key_Backspace);
    QTest::keyClick(page.List(), Qt::Key_Backspace);
    QCOMPARE(page.Tree()->currentItem()->text(0), QStringLiteral("Job.TQBak"));
    QCOMPARE(page.FilterEdit()->text(), QString());

    // A place the tree lacks falls back to its nearest ancestor.
    page.SelectPlace(BrowserPlace{0, {"one", "gone", "deep"}});
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/one"));
    // The folder on show stays across a date change when the new date has it ...
    window_->SelectDate(0);
    Show(RestoreMainWindow::kFileBrowserPage);
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/one"));
    QCOMPARE(RowTexts(model), (QStringList{"<..>|||", "deep||2 bytes|Job.TQBak", "x|Jan-01 1601 00:00:00|1 bytes|Job.TQBak"}));
    // ... and at the first date Late has no tree yet: the page falls back to the set.
    window_->SelectDate(1);
    page.SelectPlace(BrowserPlace{1, {}});
    QCOMPARE(page.Tree()->currentItem()->text(0), QStringLiteral("Late"));
    window_->SelectDate(0);
    QCOMPARE(page.Tree()->currentItem()->text(0), QStringLiteral("Job.TQBak"));
    QCOMPARE(RowTexts(model), (QStringList{"Data||41 bytes|Job.TQBak"}));
    QCOMPARE(page.Tree()->topLevelItem(0)->childCount(), 1);
}

void RestorePagesTest::BrowserTreeIsSortedAsTheList() {
    // Folders written out of name order, with one that differs only in case.
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Zed", "/zed");
    builder.AddTarget("alpha", "/alpha");
    builder.Run(test::Day(1), {{"Zed", "", "(f@1:1)[b(x@1:9) C(x@1:1) a(x@1:5)]"}, {"alpha", "", "(g@1:1)"}});
    QVERIFY(window_->ShowSet(builder.ArchivePath(1)));
    Show(RestoreMainWindow::kFileBrowserPage);
    FileBrowserPage& page = *Browser();
    const auto treeNames = [](const QTreeWidgetItem* item) {
        QStringList names;
        for (int i = 0; i < item->childCount(); ++i) names << item->child(i)->text(0);
        return names;
    };
    // The list's folder rows, by name ("<..>" has none, files come after).
    const auto listFolders = [&] {
        QStringList names;
        for (const BrowserRow& row : page.ListModel()->Rows())
            if (row.file == nullptr && row.folder != nullptr) names << QString::fromUtf8(row.folder->name);
        return names;
    };
    QTreeWidgetItem* set = page.Tree()->topLevelItem(0);
    struct Case {
        int clicks;  // clicks on a header section before the check
        int column;
        QStringList targets, folders;
    };
    // Name ascending at first; a click on the name reverses it; size orders folders by their totals.
    for (const Case& c : {Case{0, BrowserListModel::NameColumn, {"alpha", "Zed"}, {"a", "b", "C"}},
                          Case{1, BrowserListModel::NameColumn, {"Zed", "alpha"}, {"C", "b", "a"}},
                          Case{1, BrowserListModel::SizeColumn, {"alpha", "Zed"}, {"C", "a", "b"}}}) {
        for (int i = 0; i < c.clicks; ++i)
            QTest::mouseClick(page.Header()->viewport(), Qt::LeftButton, {},
                              QPoint(page.Header()->sectionViewportPosition(c.column) + 5, page.Header()->height() / 2));
        QCOMPARE(treeNames(set), c.targets);
        QTreeWidgetItem* zed = set->child(c.targets.indexOf("Zed"));
        QCOMPARE(treeNames(zed), c.folders);
        page.Tree()->setCurrentItem(zed);
        QCOMPARE(listFolders(), c.folders);
    }
}

void RestorePagesTest::BrowserLayoutFollowsThePageSize() {
    Show(RestoreMainWindow::kFileBrowserPage);
    FileBrowserPage& page = *Browser();
    struct Case {
        int width, height;  // asked for
        int w, y;           // what the layout works with
    };
    // Measures in template pixels, grown for the font (Px across, Py down).
    for (const Case& c : {Case{700, 400, 700, 400 - page.Py(30)}, Case{100, 60, page.Px(260), page.Py(85)}}) {
        page.resize(c.width, c.height);
        const int a = c.w - page.Px(20), b = a / 4;
        QCOMPARE(page.RestoreToLabel()->pos(), QPoint(page.Px(8), c.y));
        QCOMPARE(page.RestoreToEdit()->geometry(), QRect(page.Px(69), c.y, c.w - page.Px(237), page.Py(20)));
        QCOMPARE(page.BrowseButton()->pos(), QPoint(c.w - page.Px(168), c.y));
        QCOMPARE(page.RestoreButton()->pos(), QPoint(c.w - page.Px(117), c.y - page.Py(3)));
        QCOMPARE(page.Tree()->size(), QSize(b, c.y - page.Py(15)));
        // The filter over the list, the list below it down to the same bottom as the tree.
        const QRect filter = page.FilterEdit()->geometry();
        QCOMPARE(filter.topLeft(), QPoint(b + page.Px(12), page.Py(8)));
        QCOMPARE(filter.width(), a - b);
        QCOMPARE(page.List()->geometry(), QRect(b + page.Px(12), filter.bottom() + 1 + page.Py(4), a - b,
                                                c.y - page.Py(7) - (filter.bottom() + 1 + page.Py(4))));
    }
}

void RestorePagesTest::BrowserTreeItemsFollowWhatIsShown() {
    // A generated target three levels deep: f0..f3, each g0..g2, each h0..h1, a file in each.
    std::string layout = "(top@1:1)[";
    for (int f = 0; f < 4; ++f) {
        layout += (f > 0 ? " f" : "f") + std::to_string(f) + "(x@1:1)[";
        for (int g = 0; g < 3; ++g) layout += (g > 0 ? " g" : "g") + std::to_string(g) + "(x@1:1)[h0(x@1:1) h1(x@1:1)]";
        layout += "]";
    }
    layout += "]";
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.Run(test::Day(1), {{"Data", "", layout}});
    QVERIFY(window_->ShowSet(builder.ArchivePath(1)));
    Show(RestoreMainWindow::kFileBrowserPage);
    FileBrowserPage& page = *Browser();
    QTreeWidget& tree = *page.Tree();
    const FileTreeNode* data = window_->Set().GetTargetTree(0);
    QVERIFY(data != nullptr);
    struct Step {
        const char* what;
        std::function<void()> action;
        int items;  // tree items made so far, the set's included
    };
    // Items exist for the folders on show; 1 + 1 + 4 + 12 + 24 in all.
    for (const Step& step : {Step{"opened", [] {}, 6},
                             Step{"Data expanded", [&] { page.ItemOfFolder(data)->setExpanded(true); }, 6},
                             Step{"entry shown", [&] { QVERIFY(page.ShowEntry("Data\\f2\\g1\\h0", "x")); }, 11},
                             Step{"place selected", [&] { page.SelectPlace(BrowserPlace{0, {"f3", "g2", "h1"}}); }, 16},
                             Step{"all expanded", [&] { tree.expandAll(); }, 42}}) {
        step.action();
        // Each folder's item, when made, has its name, items for all of its sub-folders or none
        // (all once expanded), and an arrow exactly when it has sub-folders.
        int items = 1;
        std::vector<const FileTreeNode*> pending{data};
        while (!pending.empty()) {
            const FileTreeNode* folder = pending.back();
            pending.pop_back();
            const QTreeWidgetItem* item = page.ItemOfFolder(folder);
            int subFolders = 0;
            for (const FileTreeNode* child = folder->firstChild; child != nullptr; child = child->nextSibling, ++subFolders)
                pending.push_back(child);
            if (item == nullptr) continue;
            ++items;
            QCOMPARE(item->text(0), QString::fromUtf8(folder->name));
            QVERIFY2(item->childCount() == 0 || item->childCount() == subFolders, step.what);
            if (item->isExpanded()) QVERIFY2(item->childCount() == subFolders, step.what);
            const bool arrow = item->childCount() > 0 || item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
            QVERIFY2(arrow == (subFolders > 0), step.what);
        }
        QVERIFY2(items == step.items, qPrintable(QStringLiteral("%1: %2 items").arg(step.what).arg(items)));
        int inTree = 0;
        for (QTreeWidgetItemIterator it(&tree); *it != nullptr; ++it) ++inTree;
        QCOMPARE(inTree, items);
    }
    QCOMPARE(page.RestoreToEdit()->text(), QStringLiteral("/data/f3/g2/h1"));
}

void RestorePagesTest::BrowserRestoresASelectionOfARealSet() {
    const std::string program = test::BuiltProgram("halvex-backup");
    QVERIFY2(platform::IsRegularFile(program), "halvex-backup is not built");
    const test::TempFolder& temp = *temp_;
    test::MakeFolders(temp / "src/letters/old");
    test::MakeFolders(temp / "program");
    test::WriteFile(temp / "src/letters/one.txt", "first letter");
    test::WriteFile(temp / "src/letters/two.txt", "second letter");
    test::WriteFile(temp / "src/letters/old/three.txt", "third letter");
    test::WriteFile(temp / "src/top.txt", "top");
    test::WriteFile(temp / "program/backup.ini", "[Home]\r\n\tdir:\"" + temp / "src" + "\"\r\n\tto:\"Data\"\r\n\tzip:\"" +
                                                     temp / "sets" + "\"\r\n");
    const test::CommandResult run = test::RunCommand({program, "--run", "--dir", temp / "program"});
    QVERIFY2(run.exitCode == 0, run.errors.c_str());

    QVERIFY(window_->ShowSet(temp / "sets/Home.TQBak"));
    test::ScriptedRestoreUi ui;
    window_->Set().SetUi(&ui);
    Show(RestoreMainWindow::kFileBrowserPage);
    FileBrowserPage& page = *Browser();
    const BrowserListModel& model = *page.ListModel();
    page.OpenRow(RowNamed(model, "Data"));
    page.OpenRow(RowNamed(model, "letters"));
    QCOMPARE(page.RestoreToEdit()->text(), QString::fromStdString(temp / "src/letters"));
    SelectRows(*page.List(), {RowNamed(model, "old"), RowNamed(model, "two.txt")});
    page.RestoreToEdit()->setText(QString::fromStdString(temp / "out/picked"));
    QTest::mouseClick(page.RestoreButton(), Qt::LeftButton);

    // The selected folder and file land directly in the destination; nothing else does.
    QCOMPARE(ui.messages, std::vector<std::string>{"Success: Restoration Complete"});
    QCOMPARE(test::ReadFile(temp / "out/picked/two.txt"), std::string("second letter"));
    QCOMPARE(test::ReadFile(temp / "out/picked/old/three.txt"), std::string("third letter"));
    QVERIFY(!platform::PathExists(temp / "out/picked/one.txt"));
    QVERIFY(!platform::PathExists(temp / "out/picked/top.txt"));
    window_->Set().SetUi(nullptr);
}

void RestorePagesTest::SearchLooksInFoldersOverSeveralDates() {
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.AddTarget("Docs", "/docs");
    builder.Run(test::Day(1), {{"Data", "", "(a.doc@1:1)[sub(b.doc@1:2,n.txt@1:9)]"}, {"Docs", "", "(c.doc@1:3,d.txt@1:4)"}});
    builder.Run(test::Day(2), {{"Data", "", "(a.doc@2:5)"}, {"Docs", "", ""}});
    builder.Run(test::Day(3), {{"Data", "", ""}, {"Docs", "", "(e.doc@3:6)"}});
    QVERIFY(window_->ShowSet(builder.ArchivePath(3)));
    Show(RestoreMainWindow::kSearchLogPage);
    SearchLogPage& page = *Search();
    const SearchResultsModel& model = *page.ResultsModel();
    QVERIFY(page.CurrentArchiveOnly()->isChecked());
    QCOMPARE(page.LookInCombo()->count(), 3);
    QCOMPARE(page.LookInCombo()->currentText(), QStringLiteral("<All Dirs>"));

    auto search = [&](const QString& lookIn, bool currentOnly) {
        page.PatternEdit()->setText(QStringLiteral("*.DOC"));
        page.LookInCombo()->setEditText(lookIn);
        page.CurrentArchiveOnly()->setChecked(currentOnly);
        QTest::mouseClick(page.SearchButton(), Qt::LeftButton);
        return RowTexts(model);
    };
    // Rows sorted by name: the date and archive of the version that counts at the date.
    QCOMPARE(search("<All Dirs>", true),
             (QStringList{"a.doc|Data|Jan-01 1601 00:00:00|5 bytes|Job2.TQBak", "b.doc|Data/sub|Jan-01 1601 00:00:00|2 bytes|Job.TQBak",
                          "c.doc|Docs|Jan-01 1601 00:00:00|3 bytes|Job.TQBak", "e.doc|Docs|Jan-01 1601 00:00:00|6 bytes|Job3.TQBak"}));
    QCOMPARE(Status(1), QStringLiteral("4 object(s)"));
    QCOMPARE(search("Docs", true).size(), 2);
    QCOMPARE(search("docs\\", true).size(), 2);
    QCOMPARE(search("Data\\sub", true), (QStringList{"b.doc|Data/sub|Jan-01 1601 00:00:00|2 bytes|Job.TQBak"}));
    QCOMPARE(search("Data/sub/", true).size(), 1);
    // Across every backup: one row per stored version. "Data" looks in its sub-folders too.
    QCOMPARE(search("Data", false), (QStringList{"a.doc|Data|Jan-01 1601 00:00:00|1 bytes|Job.TQBak",
                                                 "a.doc|Data|Jan-01 1601 00:00:00|5 bytes|Job2.TQBak",
                                                 "b.doc|Data/sub|Jan-01 1601 00:00:00|2 bytes|Job.TQBak"}));
    QCOMPARE(search("<all dirs>", false).size(), 5);
    QCOMPARE(search("Nowhere", true).size(), 0);
    QCOMPARE(Status(1), QString());

    // Another date: the old results go, "Look In:" is filled again without repeats.
    QVERIFY(search("<All Dirs>", true).size() == 4);
    window_->SelectDate(0);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(page.LookInCombo()->count(), 3);
    QCOMPARE(search("<All Dirs>", true),
             (QStringList{"a.doc|Data|Jan-01 1601 00:00:00|1 bytes|Job.TQBak", "b.doc|Data/sub|Jan-01 1601 00:00:00|2 bytes|Job.TQBak",
                          "c.doc|Docs|Jan-01 1601 00:00:00|3 bytes|Job.TQBak"}));

    // Two clicks on "Size" sort by size, largest first; the selection follows its row.
    page.Results()->setCurrentIndex(model.index(0, 0));
    page.Header()->ClickColumn(SearchResultsModel::SizeColumn);
    page.Header()->ClickColumn(SearchResultsModel::SizeColumn);
    QCOMPARE(model.Text(0, SearchResultsModel::NameColumn), QStringLiteral("c.doc"));
    QCOMPARE(page.Results()->currentIndex().row(), 2);
}

void RestorePagesTest::LogPagerStopsAtBothEnds() {
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.Run(test::Day(1), {{"Data", "", "(a@1:1)"}});
    builder.omit = {"tqbackup.log"};
    builder.Run(test::Day(2), {{"Data", "", "(b@2:1)"}});
    builder.omit.clear();
    builder.Run(test::Day(3), {{"Data", "", "(c@3:1)"}});
    QVERIFY(window_->ShowSet(builder.ArchivePath(3)));
    Show(RestoreMainWindow::kSearchLogPage);
    SearchLogPage& page = *Search();

    struct Step {
        QPushButton* click;
        const char* archive;
        const char* log;
        bool prev, next;
    };
    const std::vector<Step> steps{
        {nullptr, "Archive: 3", "Log of archive 3\n", true, false},
        {page.NextButton(), "Archive: 3", "Log of archive 3\n", true, false},  // disabled: no click
        {page.PrevButton(), "Archive: 2", "Unable to retrieve error log.", true, true},
        {page.PrevButton(), "Archive: 1", "Log of archive 1\n", false, true},
        {page.PrevButton(), "Archive: 1", "Log of archive 1\n", false, true},
        {page.NextButton(), "Archive: 2", "Unable to retrieve error log.", true, true},
    };
    for (const Step& step : steps) {
        if (step.click != nullptr) QTest::mouseClick(step.click, Qt::LeftButton);
        QCOMPARE(page.ArchiveNumber()->text(), QString::fromLatin1(step.archive));
        QCOMPARE(page.Log()->toPlainText(), QString::fromLatin1(step.log));
        QCOMPARE(page.PrevButton()->isEnabled(), step.prev);
        QCOMPARE(page.NextButton()->isEnabled(), step.next);
    }
    // A date jumps to its archive; at the oldest the pager still stops.
    window_->SelectDate(0);
    QCOMPARE(page.ArchiveNumber()->text(), QStringLiteral("Archive: 1"));
    QVERIFY(!page.PrevButton()->isEnabled());
    QVERIFY(page.NextButton()->isEnabled());
    QVERIFY(page.PatternEdit()->isEnabled());
    // A failed open leaves no set: the page is empty and disabled.
    test::AnswerNextMessageBox(QMessageBox::Ok);
    QVERIFY(!window_->ShowSet(temp_->path() + "/missing.TQBak"));
    QCOMPARE(page.Log()->toPlainText(), QString());
    QVERIFY(!page.PatternEdit()->isEnabled());
    QVERIFY(!page.PrevButton()->isEnabled());
    QVERIFY(!page.NextButton()->isEnabled());
}

void RestorePagesTest::LogBytesAreShownAsUtf8OrLatin1() {
    QCOMPARE(SearchLogPage::LogText("caf\xc3\xa9\r\nnext\r\n"), QStringLiteral("caf\u00e9\nnext\n"));
    QCOMPARE(SearchLogPage::LogText("caf\xe9 \xff\r\n"), QStringLiteral("caf\u00e9 \u00ff\n"));
    QCOMPARE(SearchLogPage::LogText(std::string("before\0after", 12)), QStringLiteral("before"));
}

void RestorePagesTest::SplitterSharesTheHeightWithinItsRange() {
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Data", "/data");
    QVERIFY(window_->ShowSet(builder.Run(test::Day(1), {{"Data", "", "(a@1:1)"}})));
    Show(RestoreMainWindow::kSearchLogPage);
    window_->resize(800, 700);
    QCoreApplication::processEvents();
    SearchLogPage& page = *Search();
    SplitterBar& bar = *page.Splitter();
    QCOMPARE(bar.RangeMinimum(), page.Py(150));
    QCOMPARE(bar.RangeMaximum(), page.height() - page.Py(100));

    // Drags the bar's centre to `to` (page coordinates) and answers how far it went.
    auto drag = [&](int to) {
        const int from = bar.Centre();
        const QPoint grip(bar.width() / 2, bar.height() / 2);
        QTest::mousePress(&bar, Qt::LeftButton, {}, grip);
        // Where the pointer is, in the bar's coordinates as they are at each event.
        const QPoint target = bar.mapFromParent(QPoint(bar.x() + grip.x(), to));
        QMouseEvent move(QEvent::MouseMove, QPointF(target), bar.mapToGlobal(QPointF(target)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&bar, &move);
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, bar.mapFromParent(QPoint(bar.x() + grip.x(), to)));
        return bar.Centre() - from;
    };
    const QRect list = page.Results()->geometry(), log = page.Log()->geometry();
    const QRect upper = page.SearchGroup()->geometry(), lower = page.LogGroup()->geometry();
    QCOMPARE(drag(bar.Centre() + 40), 40);
    QCOMPARE(page.Results()->geometry(), list.adjusted(0, 0, 0, 40));
    QCOMPARE(page.SearchGroup()->geometry(), upper.adjusted(0, 0, 0, 40));
    QCOMPARE(page.Log()->geometry(), log.adjusted(0, 40, 0, 0));
    QCOMPARE(page.LogGroup()->geometry(), lower.adjusted(0, 40, 0, 0));
    // The list keeps a few rows when the page shrinks.
    QCOMPARE(page.MinimumPageSize().height(), page.height() - page.Results()->height() + page.Py(38));
    // The bar stops at both ends of its range.
    drag(0);
    QCOMPARE(bar.Centre(), page.Py(150));
    drag(page.height());
    QCOMPARE(bar.Centre(), page.height() - page.Py(100));
}

void RestorePagesTest::WhileASearchRunsTheWindowWaits() {
    test::SetBuilder builder(temp_->path(), "Job");
    builder.AddTarget("Data", "/data");
    builder.Run(test::Day(1), {{"Data", "", "(a.doc@1:1,b.doc@1:2,c.doc@1:3)[sub(d.doc@1:4,e.doc@1:5)]"}});
    builder.Run(test::Day(2), {{"Data", "", "(f.doc@2:1)"}});
    QVERIFY(window_->ShowSet(builder.ArchivePath(2)));
    Show(RestoreMainWindow::kSearchLogPage);
    SearchLogPage& page = *Search();
    page.SetRefreshInterval(0);  // events after every file found
    page.PatternEdit()->setText(QStringLiteral("*"));

    int checks = 0;
    QTimer::singleShot(0, &page, [&] {
        ++checks;
        QVERIFY(page.IsSearching());
        const int rows = page.ResultsModel()->rowCount();
        QVERIFY(rows > 0);
        // A second search, a date change and Open wait; the rows found so far stay.
        QTest::mouseClick(page.SearchButton(), Qt::LeftButton);
        QCOMPARE(page.ResultsModel()->rowCount(), rows);
        window_->SelectDate(0);
        QCOMPARE(window_->Set().CurrentDateIndex(), 1);
        QVERIFY(!window_->OpenAction()->isEnabled());
        // Quit waits for the search to stop.
        window_->Quit();
        QVERIFY(window_->Set().IsOpen());
    });
    QTest::mouseClick(page.SearchButton(), Qt::LeftButton);
    QCOMPARE(checks, 1);
    QVERIFY(!page.IsSearching());
    QCoreApplication::processEvents();
    QVERIFY(!window_->Set().IsOpen());
}

QTEST_MAIN(RestorePagesTest)
#include "restore_pages_test.moc"
