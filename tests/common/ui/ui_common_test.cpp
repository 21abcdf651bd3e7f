// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt pieces both programs share: dialog units, fitting paths to labels, the message pump,
// message boxes and the program icons.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <vector>

#include "common/ui/dialog_units.h"
#include "common/ui/fit_control_to_text.h"
#include "common/ui/fit_path_to_control.h"
#include "common/ui/program_icons.h"
#include "common/ui/pump_messages.h"
#include "common/ui/qt_message_box.h"
#include "tests/support/modal_windows.h"

using namespace halvex;

class UiCommonTest : public QObject {
    Q_OBJECT

private slots:
    void DialogUnitsFollowTheFont();
    void DialogRectanglesThatTouchStillTouch();
    void FittedPathShowsWholeInItsLabel();
    void PathThatFitsIsUnchanged();
    void PumpDeliversPendingEvents();
    void PumpReportsAQuitOnce();
    void MessageBoxShowsExactTextsAndAnswersEachButton_data();
    void MessageBoxShowsExactTextsAndAnswersEachButton();
    void MessageBoxEscapeGivesTheSafeAnswer();
    void AbortRetryIgnoreMustBeAnsweredWithAButton();
    void MessageBoxOfADisabledOwnerTakesInput();
    void ProgramIconsAreBuiltIn();
    void TextsGetRoomWithoutMovingTheLayout();
};

void UiCommonTest::DialogUnitsFollowTheFont() {
    QFont small(QStringLiteral("DejaVu Sans"), 8);
    QFont large(QStringLiteral("DejaVu Sans"), 16);
    DialogUnits smallUnits(small), largeUnits(large);
    QVERIFY(largeUnits.X(100) > smallUnits.X(100) * 3 / 2);
    QVERIFY(largeUnits.Y(100) > smallUnits.Y(100) * 3 / 2);
    // Four units across are one average letter; eight down one line of text.
    QFontMetricsF metrics(large);
    QString text = QStringLiteral("The quick brown fox jumps over the lazy dog THE QUICK BROWN FOX");
    double average = metrics.horizontalAdvance(text) / text.size();
    QVERIFY(qAbs(largeUnits.X(400) - 100 * average) < 0.25 * 100 * average);
    QCOMPARE(largeUnits.Y(8), QFontMetrics(large).ascent() + QFontMetrics(large).descent());
}

void UiCommonTest::DialogRectanglesThatTouchStillTouch() {
    DialogUnits units(QFont(QStringLiteral("DejaVu Serif"), 10));
    for (int x = 0; x < 60; ++x) {
        for (int width = 1; width < 30; width += 7) {
            QRect left = units.Rect(x, x, width, width);
            QRect right = units.Rect(x + width, x + width, 10, 10);
            QCOMPARE(left.right() + 1, right.left());
            QCOMPARE(left.bottom() + 1, right.top());
        }
    }
    QCOMPARE(units.Size(40, 16), units.Rect(0, 0, 40, 16).size());
}

void UiCommonTest::FittedPathShowsWholeInItsLabel() {
    for (bool centred : {true, false}) {
        QLabel label;
        label.setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label.setMargin(3);
        label.setAlignment(centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
        label.setGeometry(0, 0, 160, 24);
        const std::string path = "/home/user/Documents/Letters/2004/To the bank about the new account.doc";
        std::string fitted = FitPathToControl(path, label);
        QVERIFY(fitted != path);
        QVERIFY(fitted.find("...") != std::string::npos);
        label.setText(QString::fromStdString(fitted));
        // The label itself asks for no more room than it has.
        QVERIFY2(label.sizeHint().width() <= label.width(), fitted.c_str());
        // The label's own font counts, not the application's.
        QFont big = label.font();
        big.setPointSize(big.pointSize() * 2);
        label.setFont(big);
        std::string fittedBig = FitPathToControl(path, label);
        QVERIFY(fittedBig.size() < fitted.size());
    }
}

void UiCommonTest::PathThatFitsIsUnchanged() {
    QLabel label;
    label.setGeometry(0, 0, 400, 20);
    QCOMPARE(FitPathToControl("/home/user/a.txt", label), std::string("/home/user/a.txt"));
    QCOMPARE(FitPathToControl("", label), std::string());
}

void UiCommonTest::PumpDeliversPendingEvents() {
    int calls = 0;
    QMetaObject::invokeMethod(qApp, [&calls] { ++calls; }, Qt::QueuedConnection);
    QTimer::singleShot(0, qApp, [&calls] { calls += 10; });
    QCOMPARE(PumpMessages(), false);
    QCOMPARE(calls, 11);
}

void UiCommonTest::PumpReportsAQuitOnce() {
    // A quit only counts while the application's event loop runs, as in the programs, and
    // here it comes from an event the pump delivers.
    std::vector<bool> pumps;
    QTimer::singleShot(0, qApp, [&pumps] {
        pumps.push_back(PumpMessages());
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        pumps.push_back(PumpMessages());
        pumps.push_back(PumpMessages());
    });
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(pumps, (std::vector<bool>{false, true, false}));
}

void UiCommonTest::MessageBoxShowsExactTextsAndAnswersEachButton_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("answer");
    using B = QMessageBox;
    using A = MessageAnswer;
    using M = MessageButtons;
    struct Row {
        const char* name;
        M buttons;
        B::StandardButton press;
        A answer;
    };
    const Row rows[] = {
        {"ok", M::Ok, B::Ok, A::Ok},
        {"ok-cancel ok", M::OkCancel, B::Ok, A::Ok},
        {"ok-cancel cancel", M::OkCancel, B::Cancel, A::Cancel},
        {"yes-no yes", M::YesNo, B::Yes, A::Yes},
        {"yes-no no", M::YesNo, B::No, A::No},
        {"retry-cancel retry", M::RetryCancel, B::Retry, A::Retry},
        {"retry-cancel cancel", M::RetryCancel, B::Cancel, A::Cancel},
        {"abort", M::AbortRetryIgnore, B::Abort, A::Abort},
        {"retry", M::AbortRetryIgnore, B::Retry, A::Retry},
        {"ignore", M::AbortRetryIgnore, B::Ignore, A::Ignore},
    };
    for (const Row& row : rows) {
        QTest::newRow(row.name) << int(row.buttons) << int(row.press) << int(row.answer);
    }
}

void UiCommonTest::MessageBoxShowsExactTextsAndAnswersEachButton() {
    QFETCH(int, buttons);
    QFETCH(int, press);
    QFETCH(int, answer);
    QWidget owner;
    owner.show();
    QString seenTitle, seenText;
    QWidget* seenParent = nullptr;
    int buttonCount = -1;
    Qt::TextFormat format = Qt::AutoText;
    test::WhenModalAppears([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenParent = box->parentWidget();
        format = box->textFormat();
        buttonCount = static_cast<int>(box->buttons().size());
        box->button(static_cast<QMessageBox::StandardButton>(press))->click();
    });
    MessageAnswer got = ShowMessageBox(&owner, "Could not open <b>a & b</b>.txt", "Error", MessageButtons(buttons));
    QCOMPARE(int(got), answer);
    QCOMPARE(seenTitle, QStringLiteral("Error"));
    QCOMPARE(seenText, QStringLiteral("Could not open <b>a & b</b>.txt"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(seenParent, &owner);
    const int expectedCount[] = {1, 2, 2, 2, 3};
    QCOMPARE(buttonCount, expectedCount[buttons]);
}

void UiCommonTest::MessageBoxEscapeGivesTheSafeAnswer() {
    const std::pair<MessageButtons, MessageAnswer> cases[] = {
        {MessageButtons::Ok, MessageAnswer::Ok},
        {MessageButtons::OkCancel, MessageAnswer::Cancel},
        {MessageButtons::YesNo, MessageAnswer::No},
        {MessageButtons::RetryCancel, MessageAnswer::Cancel},
    };
    for (auto [buttons, expected] : cases) {
        test::WhenModalAppears([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        QCOMPARE(ShowMessageBox(nullptr, "Quit?", "Quit??", buttons), expected);
    }
}

void UiCommonTest::AbortRetryIgnoreMustBeAnsweredWithAButton() {
    bool stayedOpen = false;
    test::WhenModalAppears([&](QWidget* modal) {
        QTest::keyClick(modal, Qt::Key_Escape);
        modal->close();
        QCoreApplication::processEvents();
        stayedOpen = modal->isVisible();
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Ignore)->click();
    });
    QCOMPARE(ShowMessageBox(nullptr, "Disk full", "Error", MessageButtons::AbortRetryIgnore), MessageAnswer::Ignore);
    QVERIFY(stayedOpen);
}

void UiCommonTest::MessageBoxOfADisabledOwnerTakesInput() {
    QWidget owner;
    owner.show();
    owner.setEnabled(false);
    bool enabled = false;
    test::WhenModalAppears([&](QWidget* modal) {
        enabled = modal->isEnabled();
        QTest::mouseClick(qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Retry), Qt::LeftButton);
    });
    QCOMPARE(ShowMessageBox(&owner, "Archive unreadable", "Error", MessageButtons::RetryCancel), MessageAnswer::Retry);
    QVERIFY(enabled);
}

void UiCommonTest::ProgramIconsAreBuiltIn() {
    for (const QIcon& icon : {BackupProgramIcon(), RestoreProgramIcon()}) {
        QVERIFY(!icon.isNull());
        QImage small = icon.pixmap(16, 16).toImage();
        QImage large = icon.pixmap(48, 48).toImage();
        QCOMPARE(small.size(), QSize(16, 16));
        QCOMPARE(large.size(), QSize(48, 48));
        // Drawn, not blank: some pixels are opaque.
        int opaque = 0;
        for (int y = 0; y < large.height(); ++y)
            for (int x = 0; x < large.width(); ++x) opaque += qAlpha(large.pixel(x, y)) > 0;
        QVERIFY(opaque > 48 * 48 / 4);
    }
    // The two programs can be told apart.
    QVERIFY(BackupProgramIcon().pixmap(32, 32).toImage() != RestoreProgramIcon().pixmap(32, 32).toImage());
}

void UiCommonTest::TextsGetRoomWithoutMovingTheLayout() {
    QWidget window;
    auto* box = new QCheckBox(QStringLiteral("Start brand new archives"), &window);
    box->setGeometry(50, 60, 40, 16);
    WidenToFitText(*box, 400);
    QCOMPARE(box->geometry().topLeft(), QPoint(50, 60));
    QCOMPARE(box->width(), box->sizeHint().width());
    WidenToFitText(*box, 400);
    QCOMPARE(box->width(), box->sizeHint().width());
    // Never past the limit, never narrower than before.
    box->setGeometry(50, 60, 40, 16);
    WidenToFitText(*box, 70);
    QCOMPARE(box->width(), 40);
    box->setGeometry(50, 60, 40, 16);
    WidenToFitText(*box, 120);
    QCOMPARE(box->geometry().right(), 119);

    auto* caption = new QLabel(QStringLiteral("Time Remaining:"), &window);
    auto* value = new QLabel(QStringLiteral("5 seconds"), &window);
    caption->setGeometry(10, 0, 30, 16);
    value->setGeometry(40, 0, 200, 16);
    KeepCaptionApart(*caption, *value, 4);
    QCOMPARE(value->x(), 10 + caption->fontMetrics().horizontalAdvance(caption->text()) + 4);
    QCOMPARE(value->geometry().right(), 239);
    value->setGeometry(300, 0, 100, 16);
    KeepCaptionApart(*caption, *value, 4);
    QCOMPARE(value->geometry(), QRect(300, 0, 100, 16));
}

QTEST_MAIN(UiCommonTest)
#include "ui_common_test.moc"
