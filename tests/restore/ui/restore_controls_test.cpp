// SPDX-License-Identifier: GPL-3.0-or-later
// The pages' shared controls: anchored layout, the sort header, the splitter bar, styled
// labels and the icon cache.
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

#include "restore/ui/anchored_page.h"
#include "restore/ui/icon_cache.h"
#include "restore/ui/sort_header.h"
#include "restore/ui/splitter_bar.h"
#include "restore/ui/styled_label.h"

using namespace halvex;

class RestoreControlsTest : public QObject {
    Q_OBJECT

private slots:
    void AnchorsFollowThePage();
    void SortHeaderClicksAndLocks();
    void SplitterStopsAtItsRange();
    void StyledLabelChains();
    void IconsByExtension();
};

void RestoreControlsTest::AnchorsFollowThePage() {
    AnchoredPage page;
    page.resize(400, 300);
    struct Control {
        Anchor horizontal, vertical;
        QRect start;
        QRect grownBy100;  // the page 100 wider and 100 higher
    };
    const Control controls[] = {
        {Anchor::Fixed, Anchor::Fixed, {10, 10, 50, 20}, {10, 10, 50, 20}},
        {Anchor::Stretch, Anchor::Stretch, {10, 40, 380, 100}, {10, 40, 480, 200}},
        {Anchor::Move, Anchor::Move, {300, 250, 80, 20}, {400, 350, 80, 20}},
        {Anchor::Centre, Anchor::Move, {175, 270, 51, 20}, {225, 370, 51, 20}},
        {Anchor::Proportional, Anchor::Proportional, {100, 150, 20, 10}, {125, 200, 20, 10}},
    };
    std::vector<QWidget*> widgets;
    page.InitialiseAnchors();
    page.SetMinimumLayoutSize(QSize(300, 200));
    for (const Control& control : controls) {
        auto* widget = new QWidget(&page);
        widget->setGeometry(control.start);
        page.RegisterAnchor(widget, control.horizontal, control.vertical);
        widgets.push_back(widget);
    }
    page.show();
    page.resize(500, 400);
    QCoreApplication::processEvents();
    for (std::size_t i = 0; i < widgets.size(); ++i) QCOMPARE(widgets[i]->geometry(), controls[i].grownBy100);

    // Centring by odd steps loses nothing: back at the start size every control is home.
    for (int width : {433, 401, 377, 400}) page.resize(width, 300);
    QCoreApplication::processEvents();
    for (std::size_t i = 0; i < widgets.size(); ++i) QCOMPARE(widgets[i]->geometry(), controls[i].start);

    // Below the minimum the controls stay where they are at the minimum.
    page.resize(300, 200);
    QCoreApplication::processEvents();
    std::vector<QRect> atMinimum;
    for (QWidget* widget : widgets) atMinimum.push_back(widget->geometry());
    page.resize(120, 90);
    QCoreApplication::processEvents();
    for (std::size_t i = 0; i < widgets.size(); ++i) QCOMPARE(widgets[i]->geometry(), atMinimum[i]);
    QCOMPARE(atMinimum[3].left(), 125);  // the centred control moved by half the 100 lost
}

void RestoreControlsTest::SortHeaderClicksAndLocks() {
    QStandardItemModel model(0, 5);
    QTreeView view;
    view.setModel(&model);
    SortHeader* header = SortHeader::AttachTo(view);
    header->SetLockedColumns({0});
    header->SetLockEnabled(true);
    QList<int> keys;
    connect(header, &SortHeader::SortRequested, this, [&](int key, int) { keys.push_back(key); });

    // At the start: "File Name" ascending.
    QCOMPARE(header->SortColumn(), 1);
    QVERIFY(header->Ascending());
    QCOMPARE(header->SortKey(), 3);
    view.resize(500, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto clickCaption = [&](int column) {
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    clickCaption(1);  // the same column: descending
    clickCaption(3);  // "File Size": by size, ascending
    clickCaption(3);
    clickCaption(0);
    QCOMPARE(keys, (QList<int>{-3, 5, -5, 2}));
    QCOMPARE(header->SortColumn(), 0);

    // The icon column keeps its width; the others can be resized.
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(header->sectionResizeMode(1), QHeaderView::Interactive);
    header->SetLockEnabled(false);
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Interactive);
    // Criteria of the six columns of the search results.
    QStandardItemModel results(0, 6);
    view.setModel(&results);
    keys.clear();
    header->ClickColumn(2);
    QCOMPARE(keys, QList<int>{1});
}

void RestoreControlsTest::SplitterStopsAtItsRange() {
    QWidget parent;
    parent.resize(400, 400);
    SplitterBar bar(Qt::Horizontal, QRect(0, 199, 400, 4), &parent);  // centre at 201
    QCOMPARE(bar.Centre(), 201);
    // A new bar cannot move until it gets a range.
    QCOMPARE(bar.RangeMinimum(), 201);
    QCOMPARE(bar.RangeMaximum(), 201);
    bar.SetRange(150, 300);
    bar.SetLive(true);
    QList<int> moves;
    connect(&bar, &SplitterBar::Moved, this, [&](int distance) { moves.push_back(distance); });
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(10, 2));
    QTest::mouseMove(&bar, QPoint(10, 42));    // to 241
    QTest::mouseMove(&bar, QPoint(10, 400));   // far beyond: held at 300
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(10, 2));  // the bar's centre is at 300 now
    QCOMPARE(bar.Centre(), 300);
    int total = 0;
    for (int move : moves) total += move;
    QCOMPARE(total, 99);
    QCOMPARE(moves.first(), 40);
    QVERIFY(!bar.IsTracking());
}

void RestoreControlsTest::StyledLabelChains() {
    QWidget page;
    StyledLabel label(QStringLiteral("Restoration"), &page);
    QFont base = page.font();
    base.setItalic(true);
    label.TakeFont(base).SetCharHeight(18).SetBold(true).SetUnderline(true).SetTextColour(QColor(0, 0, 128));
    QCOMPARE(label.font().pixelSize(), 18);
    QVERIFY(label.font().italic());
    QVERIFY(label.font().bold());
    QVERIFY(label.font().underline());
    QCOMPARE(label.TextColour(), QColor(0, 0, 128));
    label.SetBold(false);
    QCOMPARE(label.font().weight(), QFont::Normal);
    QVERIFY(!label.autoFillBackground());
    label.SetBackgroundColour(QColor(0, 0, 128));
    QVERIFY(label.autoFillBackground());
    QCOMPARE(label.palette().color(QPalette::Window), QColor(0, 0, 128));
}

void RestoreControlsTest::IconsByExtension() {
    IconCache icons;
    QCOMPARE(icons.Count(), 6);  // the fixed images
    const int doc = icons.GetIconIndexForFile("letter.DOC");
    QCOMPARE(doc, 6);
    QCOMPARE(icons.GetIconIndexForFile("other.doc"), doc);
    QCOMPARE(icons.GetIconIndexForFile("archive.tar.Doc"), doc);
    const int none = icons.GetIconIndexForFile("Makefile");
    QVERIFY(none != doc);
    QCOMPARE(icons.GetIconIndexForFile("README"), none);
    QVERIFY(icons.GetIconIndexForFile("photo.jpg") != doc);
    QCOMPARE(icons.Count(), 9);
    QVERIFY(!icons.Icon(doc).isNull());
    QVERIFY(icons.Icon(99).isNull());
}

QTEST_MAIN(RestoreControlsTest)
#include "restore_controls_test.moc"
