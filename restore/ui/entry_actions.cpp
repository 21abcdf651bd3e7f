// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/entry_actions.h"

#include <QAbstractItemView>
#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "restore/archive_set.h"
#include "restore/browser_rows.h"
#include "restore/ui/folder_browser.h"
#include "restore/ui/versions_dialog.h"

namespace halvex {
namespace {

// Where an entry folder ("Data\\letters") was backed up from, as "Restore To:" would say.
std::string OriginalFolder(const ArchiveSet& set, const std::string& folderPath) {
    const std::vector<std::string> parts = SplitEntryPath(folderPath);
    BrowserPlace place;
    place.target = FindTargetByName(set, parts.front());
    if (place.target < 0) return {};
    place.folders.assign(parts.begin() + 1, parts.end());
    return DefaultRestoreTo(set, place);
}

std::string JoinBelow(const std::string& folder, std::string entryPath) {
    std::replace(entryPath.begin(), entryPath.end(), '\\', '/');
    if (entryPath.empty()) return folder;
    return folder.back() == '/' ? folder + entryPath : folder + "/" + entryPath;
}

// What an action needs to be enabled, kept as its data.
enum Needs { kAnyItems = 0, kOneFile = 1, kOneItem = 2 };

bool IsTarget(const ActionItem& item) { return item.folder != nullptr && item.folderPath.empty(); }

}  // namespace

std::string ActionItem::EntryPath() const {
    const char* name = file != nullptr ? file->name : folder != nullptr ? folder->name : "";
    return folderPath.empty() ? std::string(name) : folderPath + '\\' + name;
}

EntryActions::EntryActions(const RestorePageContext& context, QObject* parent)
    : QObject(parent),
      context_(context),
      opener_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      chooser_([this](const std::string& initial) {
          return BrowseForFolder(context_.mainWindow, "Select destination for files.", initial);
      }) {}

EntryActions::~EntryActions() {
    // The copies were for viewing only; a viewer still holding one keeps its open file.
    for (const std::string& folder : privateFolders_) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

void EntryActions::ShowError(const std::string& text) {
    context_.set.Ui().ShowMessage(text, "Error", MessageButtons::Ok, MessageOwner::MainWindow);
}

std::vector<PlannedRestore> EntryActions::Plan(const std::vector<ActionItem>& items,
                                               const std::function<std::string(const ActionItem&)>& destination) const {
    // One restore per folder of the catalog, in the order the folders first come.
    std::vector<PlannedRestore> plan;
    for (const ActionItem& item : items) {
        if (IsTarget(item)) continue;
        auto same = std::find_if(plan.begin(), plan.end(),
                                 [&](const PlannedRestore& p) { return p.selection.sourcePath == item.folderPath; });
        if (same == plan.end()) {
            plan.push_back({CatalogSelection{item.folderPath, {}, {}, 0}, destination(item)});
            same = plan.end() - 1;
        }
        if (item.file != nullptr) same->selection.files.push_back(item.file);
        if (item.folder != nullptr) same->selection.folders.push_back(item.folder);
        same->selection.newestArchive = std::max(same->selection.newestArchive, item.newestArchive);
    }
    return plan;
}

RestoreOutcome EntryActions::RestoreToOriginal(const std::vector<ActionItem>& items) {
    BusyCount::Scope busy(context_.busy);
    ArchiveSet& set = context_.set;
    std::vector<int> targets;
    for (const ActionItem& item : items)
        if (IsTarget(item)) targets.push_back(FindTargetByName(set, item.folder->name));
    if (!targets.empty()) return RestoreTargets(set, targets, {});
    return RestoreSelections(set, Plan(items, [&](const ActionItem& item) { return OriginalFolder(set, item.folderPath); }));
}

std::optional<RestoreOutcome> EntryActions::RestoreTo(const std::vector<ActionItem>& items, bool keepPaths) {
    if (items.empty()) return std::nullopt;
    const std::string start = items.front().folderPath.empty() ? DefaultAlternateFolder()
                                                               : OriginalFolder(context_.set, items.front().folderPath);
    const std::optional<std::string> folder = chooser_(start);
    if (!folder) return std::nullopt;
    return RestoreUnder(items, *folder, keepPaths);
}

RestoreOutcome EntryActions::RestoreUnder(const std::vector<ActionItem>& items, const std::string& folder,
                                          bool keepPaths) {
    BusyCount::Scope busy(context_.busy);
    ArchiveSet& set = context_.set;
    std::vector<int> targets;
    for (const ActionItem& item : items)
        if (IsTarget(item)) targets.push_back(FindTargetByName(set, item.folder->name));
    // Whole targets always go below the folder, each in a folder of its name.
    if (!targets.empty()) return RestoreTargets(set, targets, folder);
    return RestoreSelections(set, Plan(items, [&](const ActionItem& item) {
                                 return keepPaths ? JoinBelow(folder, item.folderPath) : folder;
                             }));
}

bool EntryActions::Open(const ActionItem& item) {
    if (item.file == nullptr) return false;
    return OpenSelection(CatalogSelection{item.folderPath, {}, {item.file}, item.newestArchive});
}

bool EntryActions::OpenSelection(const CatalogSelection& selection) {
    std::string folder;
    std::string error;
    std::string copy;
    {
        BusyCount::Scope busy(context_.busy);
        copy = ExtractPrivateCopy(context_.set, selection, QDir::tempPath().toStdString(), folder, error);
    }
    if (!folder.empty()) privateFolders_.push_back(folder);
    if (copy.empty()) {
        if (!error.empty()) ShowError(error);
        return false;
    }
    lastCopy_ = copy;
    if (!opener_(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(copy))))) {
        ShowError("No application could open " + copy + ".");
        return false;
    }
    return true;
}

void EntryActions::ShowVersions(const ActionItem& item) {
    if (item.file == nullptr) return;
    VersionsDialog dialog(*this, item.EntryPath(), context_.mainWindow);
    if (!dialog.Versions().empty()) dialog.exec();
}

std::vector<QAction*> EntryActions::MakeActions(QWidget* owner, const MenuHooks& hooks) {
    std::vector<QAction*> actions;
    const auto add = [&](const QString& text, const QKeySequence& key, Needs needs, std::function<void()> run) {
        auto* action = new QAction(text, owner);
        action->setData(static_cast<int>(needs));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, owner, std::move(run));
        owner->addAction(action);
        actions.push_back(action);
    };
    const auto items = hooks.items;
    add(QStringLiteral("Restore"), QKeySequence(Qt::CTRL | Qt::Key_R), kAnyItems, [this, items] {
        const std::vector<ActionItem> chosen = items();
        if (!chosen.empty()) RestoreToOriginal(chosen);
    });
    add(QStringLiteral("Restore To..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R), kAnyItems,
        [this, items, keep = hooks.keepPaths] { RestoreTo(items(), keep); });
    add(QStringLiteral("Open"), QKeySequence(Qt::CTRL | Qt::Key_Return), kOneFile, [this, items] {
        const std::vector<ActionItem> chosen = items();
        if (chosen.size() == 1) Open(chosen.front());
    });
    if (hooks.showInBrowser)
        add(QStringLiteral("Show in File Browser"), QKeySequence(Qt::CTRL | Qt::Key_B), kOneItem, hooks.showInBrowser);
    add(QStringLiteral("Versions..."), QKeySequence(Qt::CTRL | Qt::Key_H), kOneFile, [this, items] {
        const std::vector<ActionItem> chosen = items();
        if (chosen.size() == 1) ShowVersions(chosen.front());
    });
    return actions;
}

void EntryActions::ShowMenu(QAbstractItemView* view, const QPoint& position, const std::vector<QAction*>& actions,
                            const std::function<std::vector<ActionItem>()>& selected) {
    const QModelIndex index = view->indexAt(position);
    if (index.isValid() && !view->selectionModel()->isRowSelected(index.row(), {}))
        view->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const std::vector<ActionItem> items = selected();
    if (items.empty()) return;
    UpdateActions(actions, items);
    QMenu menu(view);
    for (QAction* action : actions) menu.addAction(action);
    menu.exec(view->viewport()->mapToGlobal(position));
}

void EntryActions::UpdateActions(const std::vector<QAction*>& actions, const std::vector<ActionItem>& items) {
    const bool oneFile = items.size() == 1 && items.front().file != nullptr;
    for (QAction* action : actions) {
        switch (action->data().toInt()) {
        case kOneFile: action->setEnabled(oneFile); break;
        case kOneItem: action->setEnabled(items.size() == 1); break;
        default: action->setEnabled(!items.empty()); break;
        }
    }
}

}  // namespace halvex
