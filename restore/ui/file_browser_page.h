// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "File Browser": the open set as of the selected date like a file manager. On the left the
// tree of the set, its targets and their folders; on the right the selected folder's files,
// "<..>" and sub-folders with date, size and archive. The selected rows are restored into the
// folder named under "Restore To:". The page lays itself out by hand.
#include <QIcon>
#include <QWidget>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "restore/browser_rows.h"
#include "restore/ui/page_scale.h"
#include "restore/ui/restore_page.h"

class QAction;
class QLabel;
class QPoint;
class QLineEdit;
class QPushButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace halvex {

class BrowserListModel;
class EntryActions;
class SortHeader;
struct ActionItem;

class FileBrowserPage : public QWidget, public RestorePage {
    Q_OBJECT

public:
    FileBrowserPage(const RestorePageContext& context, QWidget* parent = nullptr);
    ~FileBrowserPage() override;

    // Builds the tree of the selected date's catalog and shows the set's targets.
    void FillPage();
    // Forgets every row and tree item (before the catalog changes) and empties "Restore To:".
    void ClearPage() override;

    QWidget* Widget() override { return this; }
    // The folder on show is kept across a date change: the same place when the new date has
    // it, else its nearest ancestor that it has.
    void BeforeDateChange() override;
    void DateChanged() override;
    void PageShown() override;
    // Rows do not stay selected on a page out of sight.
    void PageHidden() override;
    QSize MinimumPageSize() const override;

    // The tree item of a folder of the catalog (a target's top folder or a folder below it);
    // null while no item was made for it (items are made as folders come into view).
    QTreeWidgetItem* ItemOfFolder(const FileTreeNode* folder) const;
    // Where the tree's selected item lies.
    BrowserPlace SelectedPlace() const;
    // Rows with an item that are selected, and their bytes.
    int SelectedCount() const { return selectedCount_; }
    std::uint64_t SelectedBytes() const { return selectedBytes_; }

    // The pixel measures of the layout, across and down, grown for the page's font.
    int Px(int pixels) const { return scale_.X(pixels); }
    int Py(int pixels) const { return scale_.Y(pixels); }

    QTreeWidget* Tree() const { return tree_; }
    QTreeView* List() const { return list_; }
    BrowserListModel* ListModel() const { return model_; }
    SortHeader* Header() const { return header_; }
    QLabel* RestoreToLabel() const { return restoreToLabel_; }
    QLineEdit* RestoreToEdit() const { return restoreTo_; }
    QPushButton* BrowseButton() const { return browse_; }
    QPushButton* RestoreButton() const { return restore_; }
    // Narrows the folder's rows to names containing its text, ignoring case.
    QLineEdit* FilterEdit() const { return filter_; }

    // Selects the tree item of `place`, or of its nearest ancestor present in the tree.
    void SelectPlace(const BrowserPlace& place);
    // Backspace: the parent folder of the one on show.
    void GoUp();

    // The list's double click on a folder or target goes into it, on "<..>" up (a file's
    // opens it through the actions).
    void OpenRow(int row);
    // Goes to the folder at entry path `folderPath` and selects its row named `name`. False
    // when the selected date has no such folder or row.
    bool ShowEntry(const std::string& folderPath, const std::string& name);
    // The selected rows as the actions take them.
    std::vector<ActionItem> SelectedItems() const;
    EntryActions& Actions() const { return *actions_; }
    // The rows' context menu actions (Restore, Restore To..., Open, Versions...).
    const std::vector<QAction*>& RowActions() const { return rowActions_; }
    // "Restore Selected".
    void RestoreSelected();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Gives `parent` an item for each of its folder's sub-folders, sorted, unless it has them.
    void MakeChildItems(QTreeWidgetItem* parent);
    void ShowSelectedFolder();
    // Puts the folder's rows that pass the filter into the list, sorted.
    void ApplyFilter();
    // Orders the tree's folders as the list orders its folder rows.
    void SortTree();
    void RefreshSummary();
    void Browse();
    void Layout();
    void ShowRowMenu(const QPoint& position);

    RestorePageContext context_;
    ArchiveSet& set_;
    QTreeWidget* tree_ = nullptr;
    QTreeView* list_ = nullptr;
    BrowserListModel* model_ = nullptr;
    SortHeader* header_ = nullptr;
    QLabel* restoreToLabel_ = nullptr;
    QLineEdit* restoreTo_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* restore_ = nullptr;
    EntryActions* actions_ = nullptr;
    std::vector<QAction*> rowActions_;
    QLineEdit* filter_ = nullptr;
    // Every row of the folder on show, before the filter.
    std::vector<BrowserRow> folderRows_;
    std::string folderEntryPath_;
    BrowserPlace placeBeforeDateChange_;
    // Which tree item shows a folder: found again by a double click on its row. Only folders
    // whose parent was expanded or selected have items.
    std::unordered_map<const FileTreeNode*, QTreeWidgetItem*> itemOfFolder_;
    QTreeWidgetItem* setItem_ = nullptr;
    QIcon folderIcon_;
    bool filling_ = false;
    bool shown_ = false;  // the visible page: status parts 1 and 2 are its own
    int selectedCount_ = 0;
    std::uint64_t selectedBytes_ = 0;
    PageScale scale_;
};

}  // namespace halvex
