// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/versions_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/text_format.h"
#include "restore/archive_dates.h"
#include "restore/archive_set.h"
#include "restore/page_texts.h"
#include "restore/ui/entry_actions.h"

namespace halvex {
namespace {

QString Text(const std::string& text) { return QString::fromUtf8(text); }

// Stored paths are shown with '/', as everywhere in the window.
QString ShownPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return Text(path);
}

}  // namespace

VersionsDialog::VersionsDialog(EntryActions& actions, std::string entryPath, QWidget* parent)
    : QDialog(parent), actions_(actions), entryPath_(std::move(entryPath)) {
    ArchiveSet& set = actions_.Context().set;
    setWindowTitle(QStringLiteral("Versions of ") + Text(entryPath_.substr(entryPath_.rfind('\\') + 1)));
    std::string error;
    versions_ = ListFileVersions(set, entryPath_, error);
    if (versions_.empty()) actions_.Context().set.Ui().ShowMessage(error, "Error", MessageButtons::Ok, MessageOwner::MainWindow);

    auto* layout = new QVBoxLayout(this);
    auto* path = new QLabel(ShownPath(entryPath_), this);
    path->setTextFormat(Qt::PlainText);
    layout->addWidget(path);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Archive"), QStringLiteral("File Size"),
                            QStringLiteral("File Date")});
    const std::vector<std::string> dates = ArchiveDateTexts(set.GetBackupDates());
    for (const FileVersion& version : versions_) {
        const std::string* archive = set.GetArchiveName(version.archiveNumber);
        auto* item = new QTreeWidgetItem(
            QStringList{Text(dates.at(static_cast<std::size_t>(version.dateIndex))), archive ? Text(*archive) : QString(),
                        Text(FormatByteSize(version.size)), Text(FormatListDate(version.lastWriteTime))});
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        list_->addTopLevelItem(item);
    }
    // Room beside each column's widest text, so that the right-aligned sizes keep clear of the next column.
    const int gap = list_->fontMetrics().averageCharWidth() * 2;
    for (int column = 0; column < list_->columnCount(); ++column) {
        list_->resizeColumnToContents(column);
        list_->setColumnWidth(column, list_->columnWidth(column) + gap);
    }
    if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    layout->addWidget(list_);

    auto* buttons = new QDialogButtonBox(this);
    restore_ = buttons->addButton(QStringLiteral("Restore"), QDialogButtonBox::ActionRole);
    restoreTo_ = buttons->addButton(QStringLiteral("Restore To..."), QDialogButtonBox::ActionRole);
    open_ = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(buttons);
    for (QPushButton* button : {restore_, restoreTo_, open_}) button->setEnabled(!versions_.empty());
    connect(restore_, &QPushButton::clicked, this, [this] { RestoreChosen(false); });
    connect(restoreTo_, &QPushButton::clicked, this, [this] { RestoreChosen(true); });
    connect(open_, &QPushButton::clicked, this, [this] { OpenChosen(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OpenChosen(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const int width = list_->header()->length() + list_->frameWidth() * 2 + layout->contentsMargins().left() * 2;
    resize(std::max(width, 420), 300);
}

const FileVersion* VersionsDialog::Chosen() const {
    const int row = list_->currentItem() != nullptr ? list_->indexOfTopLevelItem(list_->currentItem()) : 0;
    if (row < 0 || row >= static_cast<int>(versions_.size())) return nullptr;
    return &versions_[static_cast<std::size_t>(row)];
}

void VersionsDialog::RestoreChosen(bool askFolder) {
    const FileVersion* version = Chosen();
    if (version == nullptr) return;
    FileTreeFile file;
    const CatalogSelection selection = VersionSelection(*version, file);
    const ActionItem item{selection.sourcePath, &file, nullptr, version->archiveNumber};
    if (askFolder)
        actions_.RestoreTo({item}, false);
    else
        actions_.RestoreToOriginal({item});
}

void VersionsDialog::OpenChosen() {
    const FileVersion* version = Chosen();
    if (version == nullptr) return;
    FileTreeFile file;
    actions_.OpenSelection(VersionSelection(*version, file));
}

}  // namespace halvex
