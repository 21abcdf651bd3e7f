// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ui/job_selection_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "common/ui/dialog_units.h"
#include "common/ui/fit_control_to_text.h"
#include "common/ui/program_icons.h"
#include "platform/local_time.h"

namespace halvex {
namespace {

// Places of each job's row, in pixels: the first row, and the step to the next.
constexpr int kRowTop = 28;
constexpr int kRowHeight = 18;
constexpr int kRowStep = 25;
constexpr int kCheckBoxLeft = 27;
constexpr int kCheckBoxRight = 230;
constexpr int kLabelLeft = 240;
constexpr int kLabelRight = 340;

}  // namespace

JobSelectionDialog::JobSelectionDialog(JobConfig& config, BackupRequest onBackup, QWidget* parent)
    : QDialog(parent), config_(config), onBackup_(std::move(onBackup)) {
    // A main window of its own: caption, system menu, minimize box and a taskbar button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Halvex Backup"));
    setWindowIcon(BackupProgramIcon());

    CreateTemplateControls();
    CreateJobControls();
    PlaceControls();

    // The jobs come first when moving through the dialog with Tab.
    QWidget* previous = nullptr;
    for (QWidget* next : std::vector<QWidget*>(jobBoxes_.begin(), jobBoxes_.end())) {
        if (previous) setTabOrder(previous, next);
        previous = next;
    }
    for (QWidget* next : {static_cast<QWidget*>(brandNew_), static_cast<QWidget*>(backupButton_),
                          static_cast<QWidget*>(cancelButton_)}) {
        if (previous) setTabOrder(previous, next);
        previous = next;
    }
    UpdateBackupEnabled();
}

JobSelectionDialog::~JobSelectionDialog() = default;

QString JobSelectionDialog::LastBackupText(const platform::SystemTime& lastBackup) {
    if (lastBackup.IsZero()) return QStringLiteral("Never");
    // strftime follows the user's locale, which the application object has set up.
    return QString::fromLocal8Bit(platform::FormatLocalTime("%b-%d, %Y", lastBackup));
}

void JobSelectionDialog::CreateTemplateControls() {
    jobsGroup_ = new QGroupBox(QStringLiteral("Select Jobs To Backup"), this);
    optionsGroup_ = new QGroupBox(this);
    // The heading sits on the group box's top line and hides it, as a second title.
    lastBackupHeading_ = new QLabel(QStringLiteral("Last Backup"), this);
    lastBackupHeading_->setAutoFillBackground(true);
    brandNew_ = new QCheckBox(QStringLiteral("Start brand new archives"), this);
    brandNew_->setToolTip(QStringLiteral("The next backup starts a new set of archives with every file, "
                                         "instead of adding only what changed to the present set."));
    backupButton_ = new QPushButton(QStringLiteral("&Backup"), this);
    backupButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("&Cancel"), this);

    connect(brandNew_, &QCheckBox::toggled, this, [this] { UpdateBackupEnabled(); });
    connect(backupButton_, &QPushButton::clicked, this, [this] { StartBackup(); });
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

void JobSelectionDialog::CreateJobControls() {
    for (int j = 0; j < config_.JobCount(); ++j) {
        const Job& job = config_.jobs[static_cast<std::size_t>(j)];
        auto* box = new QCheckBox(QString::fromStdString(job.name), this);
        box->setChecked(true);
        box->setGeometry(kCheckBoxLeft, kRowTop + j * kRowStep, kCheckBoxRight - kCheckBoxLeft, kRowHeight);
        // The box has a fixed width: a long job name shows whole in its tooltip.
        box->setToolTip(QString::fromStdString(job.name));
        connect(box, &QCheckBox::toggled, this, [this] { UpdateBackupEnabled(); });
        jobBoxes_.push_back(box);

        auto* label = new QLabel(LastBackupText(config_.LastBackupLocal(j)), this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(kLabelLeft, kRowTop + j * kRowStep, kLabelRight - kLabelLeft, kRowHeight);
        lastBackupLabels_.push_back(label);
    }
}

void JobSelectionDialog::PlaceControls() {
    const DialogUnits units(font());
    // The rows are placed in pixels, the rest in dialog units. With a font shorter than the
    // template's, the first row would reach into the options box: what lies below the rows
    // then moves down by that much, for any number of jobs.
    const int lowered = std::max(0, kRowTop + kRowHeight - units.Y(23));
    // Every row after the first pushes what lies below the jobs further down.
    const int extra = std::max(JobCount() - 1, 0) * kRowStep;
    const int down = lowered + extra;

    QRect jobs = units.Rect(7, 3, 169, 64);
    jobs.setHeight(jobs.height() + down + 1);
    QRect options = units.Rect(7, 23, 169, 44).translated(0, down);
    QSize window = units.Size(183, 74) + QSize(0, down);

    // A narrow font would leave the date column, placed in pixels, sticking out of the group
    // boxes: they and the window then widen just enough to hold it.
    const int rightMargin = units.X(176) - units.X(170);
    const int widen = std::max(0, kLabelRight + rightMargin - (jobs.right() + 1));
    jobs.setWidth(jobs.width() + widen);
    options.setWidth(options.width() + widen);
    window.setWidth(window.width() + widen);

    jobsGroup_->setGeometry(jobs);
    optionsGroup_->setGeometry(options);
    lastBackupHeading_->setGeometry(units.Rect(121, 3, 49, 10));
    brandNew_->setGeometry(units.Rect(50, 31, 84, 8).translated(0, down));
    backupButton_->setGeometry(units.Rect(40, 45, 50, 14).translated(0, down));
    cancelButton_->setGeometry(units.Rect(95, 45, 50, 14).translated(0, down));
    WidenToFitText(*lastBackupHeading_, jobs.right() - units.X(2));
    WidenToFitText(*brandNew_, options.right() - units.X(2));
    setFixedSize(window);

    // Centred on the screen, where the eye looks first.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void JobSelectionDialog::UpdateBackupEnabled() {
    bool anyTicked = std::any_of(jobBoxes_.begin(), jobBoxes_.end(), [](QCheckBox* box) { return box->isChecked(); });
    backupButton_->setEnabled(anyTicked);
}

void JobSelectionDialog::StartBackup() {
    if (!backupButton_->isEnabled()) return;
    hide();
    for (int j = 0; j < JobCount(); ++j) {
        config_.SetJobFlags(j, JobCheckBox(j)->isChecked() ? (JobSelected | JobCopyToCd) : 0);
    }
    if (onBackup_) onBackup_(brandNew_->isChecked());
    accept();
}

}  // namespace halvex
