// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore_selection.h"

#include <algorithm>
#include <memory>

#include "platform/home_folder.h"
#include "platform/nocase.h"
#include "restore/archive_set.h"

namespace halvex {

namespace {

struct SelectionDeleter {
    void operator()(FileTreeNode* root) const { ArchiveSet::FreeRestoreSelection(root); }
};
using SelectionRoot = std::unique_ptr<FileTreeNode, SelectionDeleter>;

void ShowOutcome(ArchiveSet& set, const RestoreOutcome& outcome) {
    RestoreUi& ui = set.Ui();
    if (!outcome.Completed())
        ui.ShowMessage("Restoration Aborted", "Aborted", MessageButtons::Ok, MessageOwner::MainWindow);
    else if (set.SkippedEntries() > 0)
        ui.ShowMessage(IncompleteText(set.SkippedEntries()), "Incomplete", MessageButtons::Ok, MessageOwner::MainWindow);
    else
        ui.ShowMessage("Restoration Complete", "Success", MessageButtons::Ok, MessageOwner::MainWindow);
}

// The element of a chain named `name`: the exact name, or the only one equal ignoring case.
template <class Item, class Next>
const Item* FindByName(const Item* first, const std::string& name, Next next) {
    const Item* folded = nullptr;
    int foldedCount = 0;
    for (const Item* item = first; item != nullptr; item = next(item)) {
        if (name == item->name) return item;
        if (platform::EqualNoCase(name, item->name)) {
            folded = item;
            ++foldedCount;
        }
    }
    return foldedCount == 1 ? folded : nullptr;
}

const FileTreeNode* FindFolder(const FileTreeNode* parent, const std::string& name) {
    return FindByName(parent->firstChild, name, [](const FileTreeNode* n) { return n->nextSibling; });
}

const FileTreeFile* FindFileIn(const FileTreeNode* parent, const std::string& name) {
    return FindByName(parent->files, name, [](const FileTreeFile* f) { return f->next; });
}

}  // namespace

std::vector<std::string> SplitEntryPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('\\', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

int FindTargetByName(const ArchiveSet& set, const std::string& name) {
    for (int i = 0; i < set.TargetCount(); ++i)
        if (name == set.GetTargetName(i)) return i;
    // Target names are unique ignoring case.
    for (int i = 0; i < set.TargetCount(); ++i)
        if (platform::EqualNoCase(name, set.GetTargetName(i))) return i;
    return -1;
}

const FileTreeFile* FindFileBelow(const FileTreeNode* top, const std::vector<std::string>& parts, std::size_t first,
                                  std::string* storedPath) {
    if (top == nullptr || first >= parts.size()) return nullptr;
    std::string path;
    const FileTreeNode* folder = top;
    for (std::size_t i = first; folder != nullptr && i + 1 < parts.size(); ++i) {
        folder = FindFolder(folder, parts[i]);
        if (folder != nullptr) path += std::string("\\") + folder->name;
    }
    const FileTreeFile* file = folder != nullptr ? FindFileIn(folder, parts.back()) : nullptr;
    if (file != nullptr && storedPath != nullptr) *storedPath += path + "\\" + file->name;
    return file;
}

std::string IncompleteText(int notRestored) {
    return "Restoration Incomplete: " + std::to_string(notRestored) + (notRestored == 1 ? " item" : " items") +
           " could not be restored";
}

std::string DefaultAlternateFolder() { return platform::HomeFolder() + "/Halvex Restored"; }

std::string TargetDestination(const ArchiveSet& set, int target, const std::string& alternateFolder) {
    if (alternateFolder.empty()) return set.GetSourceFolder(target);
    std::string destination = alternateFolder;
    if (destination.back() != '/') destination += '/';
    return destination + set.GetTargetName(target);
}

RestoreOutcome RestoreTargets(ArchiveSet& set, const std::vector<int>& targets, const std::string& alternateFolder) {
    set.ResetSkippedEntries();
    // A target checked but not backed up by the date is named: it is not restored.
    for (int target : targets) {
        if (set.GetTargetTree(target) != nullptr) continue;
        set.AddSkippedEntries(1);
        set.Ui().ShowMessage(set.GetTargetName(target) + " has no backup on or before the selected date: it was not restored to " +
                                 TargetDestination(set, target, alternateFolder) + ".",
                             "Error", MessageButtons::Ok, MessageOwner::MainWindow);
    }
    // The selection root holds a shallow copy of each target's top folder, in row order.
    SelectionRoot root(new FileTreeNode{});
    std::vector<int> order;  // target index of each copy, in chain order
    for (auto it = targets.rbegin(); it != targets.rend(); ++it) {
        const FileTreeNode* tree = set.GetTargetTree(*it);
        if (tree == nullptr) continue;
        auto* copy = new FileTreeNode(*tree);
        copy->nextSibling = root->firstChild;
        root->firstChild = copy;
        root->totalSize += tree->totalSize;
        order.insert(order.begin(), *it);
    }
    RestoreOutcome outcome;
    std::uint64_t restored = 0;
    std::size_t row = 0;
    for (FileTreeNode* copy = root->firstChild; copy != nullptr; copy = copy->nextSibling, ++row) {
        const int target = order[row];
        set.destinationPath = TargetDestination(set, target, alternateFolder);
        set.sourcePath = set.GetTargetName(target);
        outcome.destination = set.PrepareDestination();
        if (outcome.destination != DestinationResult::Ready) break;
        // The progress window measures against the sum of all the targets.
        const std::uint64_t own = copy->totalSize;
        copy->totalSize = root->totalSize;
        set.bytesDone = restored;
        outcome.restore = set.RestoreTree(copy);
        if (outcome.restore != RestoreResult::Completed) break;
        restored += own;
    }
    root.reset();
    ShowOutcome(set, outcome);
    return outcome;
}

std::optional<CatalogSelection> ResolveSelection(const ArchiveSet& set, const std::vector<std::string>& entryPaths,
                                                 std::string& error) {
    CatalogSelection selection;
    bool first = true;
    const FileTreeNode* commonParent = nullptr;  // null: the targets themselves
    for (const std::string& path : entryPaths) {
        const std::vector<std::string> parts = SplitEntryPath(path);
        const int target = FindTargetByName(set, parts[0]);
        const FileTreeNode* tree = target >= 0 ? set.GetTargetTree(target) : nullptr;
        if (tree == nullptr) {
            error = path + " is not in the catalog at that date";
            return std::nullopt;
        }
        const FileTreeNode* parent = nullptr;
        std::string parentPath;
        const FileTreeNode* folder = nullptr;
        const FileTreeFile* file = nullptr;
        if (parts.size() == 1) {
            folder = tree;
        } else {
            parent = tree;
            parentPath = set.GetTargetName(target);
            for (std::size_t i = 1; parent != nullptr && i + 1 < parts.size(); ++i) {
                parent = FindFolder(parent, parts[i]);
                if (parent != nullptr) parentPath += std::string("\\") + parent->name;
            }
            if (parent != nullptr) {
                file = FindFileIn(parent, parts.back());
                if (file == nullptr) folder = FindFolder(parent, parts.back());
            }
            if (file == nullptr && folder == nullptr) {
                error = path + " is not in the catalog at that date";
                return std::nullopt;
            }
        }
        if (!first && parent != commonParent) {
            error = "the entries to restore must all lie in one folder";
            return std::nullopt;
        }
        first = false;
        commonParent = parent;
        selection.sourcePath = parentPath;
        if (file != nullptr) {
            if (std::find(selection.files.begin(), selection.files.end(), file) == selection.files.end())
                selection.files.push_back(file);
        } else if (std::find(selection.folders.begin(), selection.folders.end(), folder) == selection.folders.end()) {
            selection.folders.push_back(folder);
        }
    }
    if (first) {
        error = "nothing to restore";
        return std::nullopt;
    }
    return selection;
}

namespace {

// Restores one selection into `destination` without resetting the count of skipped entries
// or showing the outcome.
RestoreOutcome RestoreOne(ArchiveSet& set, const CatalogSelection& selection, const std::string& destination) {
    if (destination.empty() || destination.front() != '/') {
        // A relative name would land wherever the program happens to run.
        set.Ui().ShowMessage(destination.empty() ? std::string("Choose the folder to restore to.")
                                                 : "'" + destination + "' is not a full path: choose the folder to restore to.",
                             "Error", MessageButtons::Ok, MessageOwner::MainWindow);
        return {DestinationResult::NotCreated};
    }
    SelectionRoot root(new FileTreeNode{});
    for (const FileTreeNode* folder : selection.folders) {
        auto* copy = new FileTreeNode(*folder);
        copy->nextSibling = root->firstChild;
        root->firstChild = copy;
        root->totalSize += folder->totalSize;
    }
    for (const FileTreeFile* file : selection.files) {
        auto* copy = new FileTreeFile(*file);
        copy->next = root->files;
        root->files = copy;
        root->totalSize += file->size;
    }
    set.sourcePath = selection.sourcePath;
    set.destinationPath = destination;
    RestoreOutcome outcome{set.PrepareDestination(root.get())};
    if (outcome.destination != DestinationResult::Ready) return outcome;
    set.bytesDone = 0;
    set.newestArchive = selection.newestArchive;
    outcome.restore = set.RestoreTree(root.get());
    set.newestArchive = 0;
    return outcome;
}

}  // namespace

RestoreOutcome RestoreSelection(ArchiveSet& set, const CatalogSelection& selection, const std::string& destination,
                                bool announce) {
    set.ResetSkippedEntries();
    const RestoreOutcome outcome = RestoreOne(set, selection, destination);
    if (announce && outcome.destination == DestinationResult::Ready) ShowOutcome(set, outcome);
    return outcome;
}

RestoreOutcome RestoreSelections(ArchiveSet& set, const std::vector<PlannedRestore>& restores) {
    set.ResetSkippedEntries();
    RestoreOutcome outcome;
    bool restored = false;
    for (const PlannedRestore& planned : restores) {
        outcome = RestoreOne(set, planned.selection, planned.destination);
        if (outcome.destination != DestinationResult::Ready) break;
        restored = true;
        if (outcome.restore != RestoreResult::Completed) break;
    }
    if (restored) ShowOutcome(set, outcome);
    return outcome;
}

}  // namespace halvex
