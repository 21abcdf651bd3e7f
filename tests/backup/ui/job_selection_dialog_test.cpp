// SPDX-License-Identifier: GPL-3.0-or-later
// "Halvex Backup": ticking jobs, the layout for any number of jobs, the last-backup texts,
// and what "&Backup" and "&Cancel" do.
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <ctime>
#include <optional>

#include "backup/ui/job_selection_dialog.h"
#include "common/ui/dialog_units.h"

using namespace halvex;

namespace {

JobConfig MakeJobs(int count) {
    JobConfig config;
    for (int i = 0; i < count; ++i) {
        Job job;
        job.name = "Job " + std::to_string(i + 1);
        config.jobs.push_back(job);
    }
    return config;
}

// The places of the controls that move with the number of jobs.
struct Layout {
    QRect jobs, options, brandNew, backup, cancel;
    QSize window;
};

Layout LayoutOf(const JobSelectionDialog& dialog) {
    return {dialog.JobsGroupBox()->geometry(), dialog.OptionsGroupBox()->geometry(),
            dialog.BrandNewCheckBox()->geometry(), dialog.BackupButton()->geometry(),
            dialog.CancelButton()->geometry(), dialog.size()};
}

// A click on a check box's indicator, as a user ticks it.
void ClickBox(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); }

// Uses font as the dialog font while it lives.
class DialogFont {
public:
    explicit DialogFont(const QFont& font) : saved_(QApplication::font()) { QApplication::setFont(font); }
    ~DialogFont() { QApplication::setFont(saved_); }

private:
    QFont saved_;
};

}  // namespace

class JobSelectionDialogTest : public QObject {
    Q_OBJECT

private slots:
    void IconPlaceAndWholeTexts();
    void EveryJobStartsTicked();
    void BackupIsEnabledExactlyWhileAJobIsTicked();
    void JobRowsSitAtTheirPixelPlaces();
    void TenJobsPushTheLowerPartDown();
    void TemplatePlacesWithATallFont();
    void RowsNeverReachIntoTheOptionsBox();
    void LastBackupTexts();
    void BackupSetsTheFlagsThenRunsThenAccepts();
    void CancelAndCloseRunNothing();
};

void JobSelectionDialogTest::IconPlaceAndWholeTexts() {
    JobConfig config = MakeJobs(2);
    JobSelectionDialog dialog(config, nullptr);
    QVERIFY(!dialog.windowIcon().isNull());
    QVERIFY(dialog.BackupButton()->isDefault());
    QVERIFY(!dialog.BrandNewCheckBox()->isChecked());
    // Centred on the screen; the tooltip explains starting afresh.
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY((dialog.frameGeometry().center() - centre).manhattanLength() <= 2);
    QVERIFY(dialog.BrandNewCheckBox()->toolTip().contains(QStringLiteral("new set")));
    // Fixed texts are shown whole.
    for (QWidget* control : {static_cast<QWidget*>(dialog.LastBackupHeading()),
                             static_cast<QWidget*>(dialog.BrandNewCheckBox())}) {
        QVERIFY(control->sizeHint().width() <= control->width());
    }
}

void JobSelectionDialogTest::EveryJobStartsTicked() {
    JobConfig config = MakeJobs(3);
    config.jobs[1].name = "Pictures & <Music>";
    JobSelectionDialog dialog(config, nullptr);
    QCOMPARE(dialog.JobCount(), 3);
    for (int j = 0; j < 3; ++j) {
        QVERIFY(dialog.JobCheckBox(j)->isChecked());
        QCOMPARE(dialog.JobCheckBox(j)->text().toStdString(), config.jobs[static_cast<std::size_t>(j)].name);
    }
}

void JobSelectionDialogTest::BackupIsEnabledExactlyWhileAJobIsTicked() {
    JobConfig config = MakeJobs(3);
    JobSelectionDialog dialog(config, nullptr);
    dialog.show();
    QVERIFY(dialog.BackupButton()->isEnabled());
    ClickBox(dialog.JobCheckBox(0));
    dialog.JobCheckBox(2)->setChecked(false);
    QVERIFY(dialog.BackupButton()->isEnabled());
    ClickBox(dialog.JobCheckBox(1));
    QVERIFY(!dialog.BackupButton()->isEnabled());
    // The other check box does not count as a job.
    dialog.BrandNewCheckBox()->setChecked(true);
    QVERIFY(!dialog.BackupButton()->isEnabled());
    ClickBox(dialog.JobCheckBox(2));
    QVERIFY(dialog.BackupButton()->isEnabled());
    QVERIFY(!dialog.JobCheckBox(0)->isChecked());
}

void JobSelectionDialogTest::JobRowsSitAtTheirPixelPlaces() {
    JobConfig config = MakeJobs(4);
    JobSelectionDialog dialog(config, nullptr);
    for (int j = 0; j < 4; ++j) {
        QCOMPARE(dialog.JobCheckBox(j)->geometry(), QRect(QPoint(27, 28 + 25 * j), QPoint(229, 45 + 25 * j)));
        QCOMPARE(dialog.LastBackupLabel(j)->geometry(), QRect(QPoint(240, 28 + 25 * j), QPoint(339, 45 + 25 * j)));
        QVERIFY(dialog.LastBackupLabel(j)->alignment() & Qt::AlignHCenter);
        // The date column lies inside the group box and the window.
        QVERIFY(dialog.LastBackupLabel(j)->geometry().right() < dialog.JobsGroupBox()->geometry().right());
        QVERIFY(dialog.LastBackupLabel(j)->geometry().right() < dialog.width());
    }
}

void JobSelectionDialogTest::TenJobsPushTheLowerPartDown() {
    JobConfig one = MakeJobs(1), ten = MakeJobs(10);
    JobSelectionDialog dialogOne(one, nullptr), dialogTen(ten, nullptr);
    Layout a = LayoutOf(dialogOne), b = LayoutOf(dialogTen);
    QCOMPARE(b.jobs.height() - a.jobs.height(), 225);
    QCOMPARE(b.jobs.topLeft(), a.jobs.topLeft());
    QCOMPARE(b.jobs.width(), a.jobs.width());
    for (auto [before, after] : {std::pair{a.options, b.options}, std::pair{a.brandNew, b.brandNew},
                                 std::pair{a.backup, b.backup}, std::pair{a.cancel, b.cancel}}) {
        QCOMPARE(after, before.translated(0, 225));
    }
    QCOMPARE(b.window, a.window + QSize(0, 225));
    QCOMPARE(dialogTen.JobCheckBox(9)->geometry().top(), 28 + 9 * 25);
}

void JobSelectionDialogTest::TemplatePlacesWithATallFont() {
    // A dialog font whose dialog units are at least as tall as the template's own: every
    // template control sits at its converted place, and the group box is 1 pixel taller.
    DialogFont font(QFont(QStringLiteral("DejaVu Sans"), 14));
    const DialogUnits units(QApplication::font());
    QVERIFY(units.Y(23) >= 46);
    for (int count : {1, 10}) {
        JobConfig config = MakeJobs(count);
        JobSelectionDialog dialog(config, nullptr);
        const int extra = (count - 1) * 25;
        QRect jobs = units.Rect(7, 3, 169, 64);
        QCOMPARE(dialog.JobsGroupBox()->geometry(), QRect(jobs.topLeft(), jobs.size() + QSize(0, extra + 1)));
        QCOMPARE(dialog.OptionsGroupBox()->geometry(), units.Rect(7, 23, 169, 44).translated(0, extra));
        QCOMPARE(dialog.BackupButton()->geometry(), units.Rect(40, 45, 50, 14).translated(0, extra));
        QCOMPARE(dialog.CancelButton()->geometry(), units.Rect(95, 45, 50, 14).translated(0, extra));
        QCOMPARE(dialog.BrandNewCheckBox()->geometry().topLeft(), units.Rect(50, 31, 84, 8).translated(0, extra).topLeft());
        QCOMPARE(dialog.size(), units.Size(183, 74) + QSize(0, extra));
    }
}

void JobSelectionDialogTest::RowsNeverReachIntoTheOptionsBox() {
    for (int points : {7, 9, 12}) {
        DialogFont font(QFont(QStringLiteral("DejaVu Sans"), points));
        for (int count : {1, 3}) {
            JobConfig config = MakeJobs(count);
            JobSelectionDialog dialog(config, nullptr);
            QRect lastRow = dialog.JobCheckBox(count - 1)->geometry();
            QVERIFY2(lastRow.bottom() < dialog.OptionsGroupBox()->geometry().top(), qPrintable(QString::number(points)));
            QVERIFY(dialog.CancelButton()->geometry().bottom() < dialog.height());
            QVERIFY(dialog.OptionsGroupBox()->geometry().bottom() <= dialog.JobsGroupBox()->geometry().bottom());
        }
    }
}

void JobSelectionDialogTest::LastBackupTexts() {
    QCOMPARE(JobSelectionDialog::LastBackupText(platform::SystemTime{}), QStringLiteral("Never"));
    // The locale's own abbreviation of October, then the day with two digits and the year.
    std::tm october{};
    october.tm_year = 2004 - 1900;
    october.tm_mon = 9;
    october.tm_mday = 6;
    char month[64];
    std::size_t length = std::strftime(month, sizeof month, "%b", &october);
    QVERIFY(length > 0);
    platform::SystemTime saved{2004, 10, 3, 6, 21, 15, 30, 0};
    QCOMPARE(JobSelectionDialog::LastBackupText(saved), QString::fromLocal8Bit(month) + QStringLiteral("-06, 2004"));

    JobConfig config = MakeJobs(2);
    config.jobs[1].lastBackup = saved;
    JobSelectionDialog dialog(config, nullptr);
    QCOMPARE(dialog.LastBackupLabel(0)->text(), QStringLiteral("Never"));
    QCOMPARE(dialog.LastBackupLabel(1)->text(), JobSelectionDialog::LastBackupText(saved));
}

void JobSelectionDialogTest::BackupSetsTheFlagsThenRunsThenAccepts() {
    for (bool brandNew : {false, true}) {
        JobConfig config = MakeJobs(3);
        config.jobs[0].cdName = "DISC";
        config.jobs[2].cdName = "DISC2";
        config.jobs[2].flags = JobSelected | JobCopyToCd;
        std::optional<bool> runWith;
        bool hiddenDuringRun = false;
        std::vector<int> flagsDuringRun;
        JobSelectionDialog* seen = nullptr;
        JobSelectionDialog dialog(config, [&](bool startBrandNew) {
            runWith = startBrandNew;
            hiddenDuringRun = !seen->isVisible();
            for (const Job& job : config.jobs) flagsDuringRun.push_back(job.flags);
        });
        seen = &dialog;
        dialog.show();
        dialog.JobCheckBox(2)->setChecked(false);
        dialog.BrandNewCheckBox()->setChecked(brandNew);
        QTest::mouseClick(dialog.BackupButton(), Qt::LeftButton);
        QCOMPARE(runWith, std::optional<bool>(brandNew));
        QVERIFY(hiddenDuringRun);
        // Ticked with a CD label: both bits; ticked without: selected only; not ticked: none.
        QCOMPARE(flagsDuringRun, (std::vector<int>{JobSelected | JobCopyToCd, JobSelected, 0}));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
    }
}

void JobSelectionDialogTest::CancelAndCloseRunNothing() {
    for (bool useClose : {false, true}) {
        JobConfig config = MakeJobs(2);
        config.jobs[0].flags = JobSelected;
        bool ran = false;
        JobSelectionDialog dialog(config, [&](bool) { ran = true; });
        dialog.show();
        if (useClose) {
            dialog.close();
        } else {
            QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        }
        QVERIFY(!ran);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(config.jobs[0].flags, JobSelected);
    }
}

QTEST_MAIN(JobSelectionDialogTest)
#include "job_selection_dialog_test.moc"
