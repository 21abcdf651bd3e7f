// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Versions": every stored version of one file, newest first (date, archive, size, modified
// time); the chosen one is restored to the file's own folder or a chosen one, or opened.
#include <QDialog>

#include <string>
#include <vector>

#include "restore/file_versions.h"

class QPushButton;
class QTreeWidget;

namespace halvex {

class EntryActions;

class VersionsDialog : public QDialog {
    Q_OBJECT

public:
    VersionsDialog(EntryActions& actions, std::string entryPath, QWidget* parent = nullptr);

    const std::vector<FileVersion>& Versions() const { return versions_; }
    QTreeWidget* List() const { return list_; }
    QPushButton* RestoreButton() const { return restore_; }
    QPushButton* RestoreToButton() const { return restoreTo_; }
    QPushButton* OpenButton() const { return open_; }

    // The chosen version (the first while none is), restored to the file's own folder or a
    // folder asked for, or opened.
    void RestoreChosen(bool askFolder);
    void OpenChosen();

private:
    const FileVersion* Chosen() const;

    EntryActions& actions_;
    std::string entryPath_;
    std::vector<FileVersion> versions_;
    QTreeWidget* list_ = nullptr;
    QPushButton* restore_ = nullptr;
    QPushButton* restoreTo_ = nullptr;
    QPushButton* open_ = nullptr;
};

}  // namespace halvex
