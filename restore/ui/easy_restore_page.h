// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Easy Restore": every target of the open set with a check box and the folder it goes to;
// "Restore" restores the checked targets as of the selected date, to the folders they were
// backed up from or side by side below the alternate folder.
#include <optional>
#include <string>
#include <vector>

#include "restore/archive_set_restore.h"
#include "restore/ui/anchored_page.h"
#include "restore/ui/restore_page.h"

class QCheckBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace halvex {

class StyledLabel;

class EasyRestorePage : public AnchoredPage, public RestorePage {
    Q_OBJECT

public:
    EasyRestorePage(const RestorePageContext& context, QWidget* parent = nullptr);
    ~EasyRestorePage() override;

    QWidget* Widget() override { return this; }
    void SetOpened() override { FillPage(); }
    void ClearPage() override;
    void PageShown() override;
    QSize MinimumPageSize() const override { return MinimumLayoutSize(); }

    // One row per target, in target order, none checked; the alternate box enabled and clear.
    void FillPage();
    // The checked rows, top to bottom.
    std::vector<int> CheckedRows() const;
    // Restores the checked targets and shows how it ended. Answers RestoreTargets' outcome, or
    // nothing when no restore was started.
    std::optional<RestoreOutcome> Restore();

    // Where targets go when "Restore to alternate directory" is checked ("Halvex Restored" in the
    // home folder unless changed).
    const std::string& AlternateFolder() const { return alternateFolder_; }
    void SetAlternateFolder(std::string folder);

    QTreeWidget* TargetList() const { return list_; }
    QPushButton* RestoreButton() const { return restoreButton_; }
    QCheckBox* AlternateBox() const { return alternateBox_; }
    const std::vector<StyledLabel*>& Labels() const { return labels_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void FillRestoreTo();
    void UpdateRestoreEnabled();
    void Toggle(QTreeWidgetItem* item);

    RestorePageContext context_;
    std::string alternateFolder_;
    std::vector<StyledLabel*> labels_;  // in the order they are shown
    QTreeWidget* list_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QCheckBox* alternateBox_ = nullptr;
};

}  // namespace halvex
