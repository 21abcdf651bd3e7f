// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What can be done with files and folders found in the File Browser or by a search: restore
// them to where they came from or to a chosen folder, open a private read-only copy of a file
// with the desktop's application, and list a file's versions. Both pages build their context
// menus, keys and double-clicks from one EntryActions.
#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "restore/file_versions.h"
#include "restore/ui/restore_page.h"

class QAbstractItemView;
class QAction;
class QMenu;
class QPoint;
class QUrl;
class QWidget;

namespace halvex {

// One item of the catalog an action applies to.
struct ActionItem {
    std::string folderPath;                // entry path of its folder; "" for a whole target
    const FileTreeFile* file = nullptr;    // a file, or
    const FileTreeNode* folder = nullptr;  // a folder (a target's top folder when folderPath is "")
    int newestArchive = 0;                 // 0: of the selected date; else the archive holding it

    // The entry path of the item itself ("Data\\letters\\a.txt").
    std::string EntryPath() const;
};

class EntryActions : public QObject {
    Q_OBJECT

public:
    using Opener = std::function<bool(const QUrl&)>;
    using FolderChooser = std::function<std::optional<std::string>(const std::string& initialFolder)>;

    EntryActions(const RestorePageContext& context, QObject* parent = nullptr);
    // Removes the private copies made for viewing.
    ~EntryActions() override;

    // What opens a copy (the desktop's application by default) and what asks for a folder
    // (the folder dialog by default).
    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    void SetFolderChooser(FolderChooser chooser) { chooser_ = std::move(chooser); }

    // "Restore": each item to the folder it was backed up from, only the items moved aside.
    RestoreOutcome RestoreToOriginal(const std::vector<ActionItem>& items);
    // "Restore To...": asks for a folder, then RestoreUnder. Nothing when the user cancels.
    std::optional<RestoreOutcome> RestoreTo(const std::vector<ActionItem>& items, bool keepPaths);
    // Into `folder` (keepPaths false), or below it each under its entry path
    // ("folder/Data/letters/a.txt").
    RestoreOutcome RestoreUnder(const std::vector<ActionItem>& items, const std::string& folder, bool keepPaths);
    // "Open": a copy of the file in a private folder, read-only, handed to the opener. False
    // (after a message) when it could not be made or opened.
    bool Open(const ActionItem& item);
    bool OpenSelection(const CatalogSelection& selection);
    // "Versions...": the dialog of the file's versions.
    void ShowVersions(const ActionItem& item);

    // The folders made for opened copies, oldest first.
    const std::vector<std::string>& PrivateFolders() const { return privateFolders_; }
    // The path of the last copy opened.
    const std::string& LastOpenedCopy() const { return lastCopy_; }

    // The menu's actions in order, each with its key; `showInBrowser` (a search hit's "Show in
    // File Browser") is left out when empty. The actions apply to what `items` gives when they
    // are triggered; those that need one file are disabled for anything else.
    struct MenuHooks {
        std::function<std::vector<ActionItem>()> items;
        std::function<void()> showInBrowser;
        bool keepPaths = false;  // "Restore To..." keeps the items' paths below the folder
    };
    // Makes the actions as children of `owner`, active while it has the focus.
    std::vector<QAction*> MakeActions(QWidget* owner, const MenuHooks& hooks);
    // Enables the actions for what is selected now.
    static void UpdateActions(const std::vector<QAction*>& actions, const std::vector<ActionItem>& items);
    // The context menu of `view` at `position`: a click beside the rows, or on one outside the
    // selection, acts on that row alone; nothing shows when nothing is selected.
    static void ShowMenu(QAbstractItemView* view, const QPoint& position, const std::vector<QAction*>& actions,
                         const std::function<std::vector<ActionItem>()>& selected);

    const RestorePageContext& Context() const { return context_; }

private:
    void ShowError(const std::string& text);
    std::vector<PlannedRestore> Plan(const std::vector<ActionItem>& items,
                                     const std::function<std::string(const ActionItem&)>& destination) const;

    RestorePageContext context_;
    Opener opener_;
    FolderChooser chooser_;
    std::vector<std::string> privateFolders_;
    std::string lastCopy_;
};

}  // namespace halvex
