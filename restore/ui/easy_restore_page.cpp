// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/easy_restore_page.h"

#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>

#include "common/ui/dialog_units.h"
#include "common/ui/qt_message_box.h"
#include "restore/archive_set.h"
#include "restore/restore_selection.h"
#include "restore/ui/restore_status_bar.h"
#include "restore/ui/styled_label.h"

namespace halvex {
namespace {

const QColor kNavy(0, 0, 128);
constexpr int kNameColumnWidth = 150;
constexpr int kRestoreToColumnWidth = 400;

// The page's template, in dialog units.
constexpr int kTemplateWidth = 239;
constexpr int kTemplateHeight = 196;

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A destination the restore can write to: a folder of this system, named from its root.
bool IsLocalFolder(const std::string& folder) { return !folder.empty() && folder.front() == '/'; }

}  // namespace

EasyRestorePage::EasyRestorePage(const RestorePageContext& context, QWidget* parent)
    : AnchoredPage(parent), context_(context), alternateFolder_(DefaultAlternateFolder()) {
    CreateControls();
}

EasyRestorePage::~EasyRestorePage() = default;

void EasyRestorePage::CreateControls() {
    const DialogUnits units(font());
    const QSize templateSize = units.Size(kTemplateWidth, kTemplateHeight);
    resize(templateSize);
    // The headings are 18 pixels high with the template's font; a larger font makes them larger.
    const int headingPixels =
        static_cast<int>(std::lround(18.0 * std::max(1.0, units.CharHeight() / 13.0)));

    auto addLabel = [this](const QString& text) {
        auto* label = new StyledLabel(text, this);
        labels_.push_back(label);
        return label;
    };
    StyledLabel* firstNote = addLabel(QStringLiteral("Note:"));
    firstNote->TakeFont(font()).SetBold(true);
    StyledLabel* firstText = addLabel(QStringLiteral(
        "If you want to restore files that were backed up on a specific date, you can select the date from the "
        "menu above."));
    firstText->TakeFont(font());
    StyledLabel* secondNote = addLabel(QStringLiteral("Note:"));
    secondNote->SetBold(true);
    StyledLabel* secondText = addLabel(QStringLiteral(
        "It is recommended that you select 'Rename destination directory' if prompted in order to easily be able "
        "to undo a restore."));
    StyledLabel* heading = addLabel(QStringLiteral("Select which items to restore"));
    heading->TakeFont(font()).SetCharHeight(headingPixels).SetUnderline(true).SetTextColour(kNavy);
    StyledLabel* restoration = addLabel(QStringLiteral("Restoration"));
    restoration->TakeFont(font()).SetCharHeight(headingPixels).SetTextColour(kNavy);
    StyledLabel* separator = addLabel(QString());
    separator->SetBackgroundColour(kNavy);

    list_ = new QTreeWidget(this);
    list_->setColumnCount(2);
    list_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Restore To")});
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->header()->setSectionsMovable(false);
    // "Restore To" takes the width the list has beyond "Name".
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, kNameColumnWidth);
    list_->setColumnWidth(1, kRestoreToColumnWidth);
    list_->installEventFilter(this);

    restoreButton_ = new QPushButton(QStringLiteral("Restore"), this);
    restoreButton_->setEnabled(false);
    alternateBox_ = new QCheckBox(QStringLiteral("Restore to alternate directory"), this);
    alternateBox_->setEnabled(false);

    // Places from the template; texts that need more room than it gives get it.
    const int noteLeft = units.X(7), textLeft = std::max(units.X(30), firstNote->sizeHint().width() + units.X(9));
    const int right = units.X(232);
    for (StyledLabel* text : {firstText, secondText}) {
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    // The notes only grow wider than this: the lines they need here are the most they need.
    auto noteHeight = [&](StyledLabel* text) { return std::max(units.Y(16), text->heightForWidth(right - textLeft)); };
    firstNote->setGeometry(noteLeft, units.Y(6), textLeft - noteLeft, firstNote->sizeHint().height());
    firstText->setGeometry(textLeft, units.Y(6), right - textLeft, noteHeight(firstText));
    const int secondTop = firstText->geometry().bottom() + 1 + units.Y(4);
    secondNote->setGeometry(noteLeft, secondTop, textLeft - noteLeft, secondNote->sizeHint().height());
    secondText->setGeometry(textLeft, secondTop, right - textLeft, noteHeight(secondText));
    for (StyledLabel* note : {firstNote, secondNote}) note->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    const int headingHeight = std::max(18, heading->sizeHint().height());
    const int headingTop = secondText->geometry().bottom() + 1 + units.Y(3);
    heading->setGeometry(noteLeft, headingTop, right - noteLeft, headingHeight);

    // From the bottom up: the check box, the button, the line and "Restoration".
    const int pageWidth = templateSize.width(), pageHeight = templateSize.height();
    const QSize boxSize(std::max(units.X(115), alternateBox_->sizeHint().width()),
                        std::max(units.Y(10), alternateBox_->sizeHint().height()));
    const int boxTop = pageHeight - units.Y(3) - boxSize.height();
    alternateBox_->setGeometry((pageWidth - boxSize.width()) / 2, boxTop, boxSize.width(), boxSize.height());
    const QSize buttonSize(std::max(units.X(50), restoreButton_->sizeHint().width()),
                           std::max(units.Y(14), restoreButton_->sizeHint().height()));
    const int buttonTop = boxTop - units.Y(3) - buttonSize.height();
    restoreButton_->setGeometry((pageWidth - buttonSize.width()) / 2, buttonTop, buttonSize.width(),
                                buttonSize.height());
    const int separatorTop = buttonTop - units.Y(4);
    separator->setGeometry(noteLeft, separatorTop, right - noteLeft, std::max(1, units.Y(1)));
    const int restorationTop = separatorTop - headingHeight;
    restoration->setGeometry(noteLeft, restorationTop, std::max(units.X(80), restoration->sizeHint().width()),
                             headingHeight);
    const int listTop = heading->geometry().bottom() + 1 + units.Y(2);
    list_->setGeometry(noteLeft, listTop, right - noteLeft, std::max(units.Y(30), restorationTop - units.Y(3) - listTop));

    // A larger font than the template's needs a larger page: what is below the list moves down.
    const int listFloor = units.Y(30);
    if (list_->height() < listFloor + 1) {
        const int down = listFloor - list_->height();
        for (QWidget* below : std::initializer_list<QWidget*>{restoration, separator, restoreButton_, alternateBox_})
            below->move(below->x(), below->y() + down);
        list_->resize(list_->width(), listFloor);
        resize(width(), height() + down);
    }

    InitialiseAnchors();
    SetMinimumLayoutSize(size().expandedTo(QSize(465, 320)));
    RegisterAnchor(firstText, Anchor::Stretch, Anchor::Fixed);
    RegisterAnchor(secondText, Anchor::Stretch, Anchor::Fixed);
    RegisterAnchor(list_, Anchor::Stretch, Anchor::Stretch);
    RegisterAnchor(restoration, Anchor::Fixed, Anchor::Move);
    RegisterAnchor(separator, Anchor::Stretch, Anchor::Move);
    RegisterAnchor(restoreButton_, Anchor::Centre, Anchor::Move);
    RegisterAnchor(alternateBox_, Anchor::Centre, Anchor::Move);

    connect(list_, &QTreeWidget::itemChanged, this, [this] { UpdateRestoreEnabled(); });
    connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { Toggle(item); });
    connect(alternateBox_, &QCheckBox::clicked, this, [this] { FillRestoreTo(); });
    connect(restoreButton_, &QPushButton::clicked, this, [this] { Restore(); });
}

void EasyRestorePage::SetAlternateFolder(std::string folder) {
    alternateFolder_ = std::move(folder);
    FillRestoreTo();
}

void EasyRestorePage::FillPage() {
    list_->clear();
    for (int i = 0; i < context_.set.TargetCount(); ++i) {
        auto* item = new QTreeWidgetItem({FromUtf8(context_.set.GetTargetName(i)), QString()});
        // The row toggles on any click, its check box included, once; the list does not toggle
        // it a second time.
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setCheckState(0, Qt::Unchecked);
        list_->addTopLevelItem(item);
    }
    alternateBox_->setEnabled(true);
    alternateBox_->setChecked(false);
    FillRestoreTo();
    UpdateRestoreEnabled();
}

void EasyRestorePage::ClearPage() {
    list_->clear();
    alternateBox_->setChecked(false);
    alternateBox_->setEnabled(false);
    UpdateRestoreEnabled();
}

void EasyRestorePage::PageShown() {
    context_.status.SetText(1, QString());
    context_.status.SetText(2, QString());
}

void EasyRestorePage::FillRestoreTo() {
    const std::string alternate = alternateBox_->isChecked() ? alternateFolder_ : std::string();
    for (int row = 0; row < list_->topLevelItemCount() && row < context_.set.TargetCount(); ++row)
        list_->topLevelItem(row)->setText(1, FromUtf8(TargetDestination(context_.set, row, alternate)));
}

std::vector<int> EasyRestorePage::CheckedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < list_->topLevelItemCount(); ++row)
        if (list_->topLevelItem(row)->checkState(0) == Qt::Checked) rows.push_back(row);
    return rows;
}

void EasyRestorePage::UpdateRestoreEnabled() { restoreButton_->setEnabled(!CheckedRows().empty()); }

void EasyRestorePage::Toggle(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

bool EasyRestorePage::eventFilter(QObject* watched, QEvent* event) {
    // Space toggles the current row, as a click does.
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            Toggle(list_->currentItem());
            return true;
        }
    }
    return AnchoredPage::eventFilter(watched, event);
}

std::optional<RestoreOutcome> EasyRestorePage::Restore() {
    const std::vector<int> rows = CheckedRows();
    if (rows.empty()) return std::nullopt;
    ArchiveSet& set = context_.set;
    const std::string alternate = alternateBox_->isChecked() ? alternateFolder_ : std::string();
    bool anyTree = false;
    for (int row : rows) {
        if (set.GetTargetTree(row) != nullptr) anyTree = true;
        // A set made on another system names folders this one does not have.
        const std::string destination = TargetDestination(set, row, alternate);
        if (set.GetTargetTree(row) != nullptr && !IsLocalFolder(destination)) {
            ShowMessageBox(context_.mainWindow,
                           "The folder " + destination + " of " + set.GetTargetName(row) +
                               " is not a folder of this system. Select 'Restore to alternate directory'.",
                           "Error", MessageButtons::Ok);
            return std::nullopt;
        }
    }
    if (!anyTree) {
        ShowMessageBox(context_.mainWindow, "The selected items were not backed up on or before the selected date.",
                       "Error", MessageButtons::Ok);
        return std::nullopt;
    }
    // The set must outlive the restore: the window waits for this before it closes.
    BusyCount::Scope busy(context_.busy);
    return RestoreTargets(set, rows, alternate);
}

}  // namespace halvex
