// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Halvex Backup": the backup program's one dialog, where the user ticks the jobs to run and
// may ask for brand-new archives.
#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

#include "backup/job_config.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace halvex {

class JobSelectionDialog : public QDialog {
    Q_OBJECT

public:
    // Runs the backup under its progress window and returns when the run has ended.
    using BackupRequest = std::function<void(bool startBrandNew)>;

    // One ticked check box and one last-backup label per job of config, in its order.
    JobSelectionDialog(JobConfig& config, BackupRequest onBackup, QWidget* parent = nullptr);
    ~JobSelectionDialog() override;

    // "Never" for a job never saved, otherwise the local date as "%b-%d, %Y" ("Oct-06, 2004").
    static QString LastBackupText(const platform::SystemTime& lastBackup);

    int JobCount() const { return static_cast<int>(jobBoxes_.size()); }
    QCheckBox* JobCheckBox(int index) const { return jobBoxes_.at(static_cast<std::size_t>(index)); }
    QLabel* LastBackupLabel(int index) const { return lastBackupLabels_.at(static_cast<std::size_t>(index)); }
    QGroupBox* JobsGroupBox() const { return jobsGroup_; }
    QGroupBox* OptionsGroupBox() const { return optionsGroup_; }
    QLabel* LastBackupHeading() const { return lastBackupHeading_; }
    QCheckBox* BrandNewCheckBox() const { return brandNew_; }
    QPushButton* BackupButton() const { return backupButton_; }
    QPushButton* CancelButton() const { return cancelButton_; }

private:
    void CreateTemplateControls();
    void CreateJobControls();
    void PlaceControls();
    void UpdateBackupEnabled();
    void StartBackup();

    JobConfig& config_;
    BackupRequest onBackup_;
    QGroupBox* jobsGroup_ = nullptr;
    QGroupBox* optionsGroup_ = nullptr;
    QLabel* lastBackupHeading_ = nullptr;
    QCheckBox* brandNew_ = nullptr;
    QPushButton* backupButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::vector<QCheckBox*> jobBoxes_;
    std::vector<QLabel*> lastBackupLabels_;
};

}  // namespace halvex
