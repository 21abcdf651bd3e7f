// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/file_browser_page.h"

#include <QFile>
#include <QKeyEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/text_format.h"
#include "restore/archive_set.h"
#include "restore/compare_list_items.h"
#include "restore/page_texts.h"
#include "restore/ui/browser_list_model.h"
#include "restore/ui/entry_actions.h"
#include "restore/ui/folder_browser.h"
#include "restore/ui/icon_cache.h"
#include "restore/ui/list_columns.h"
#include "restore/ui/restore_status_bar.h"
#include "restore/ui/sort_header.h"

namespace halvex {
namespace {

// What a tree item stands for: its folder node (none for the set) and its target (-1 for the set).
constexpr int kFolderRole = Qt::UserRole;
constexpr int kTargetRole = Qt::UserRole + 1;
// Set once the item's sub-folders have items of their own.
constexpr int kChildrenMadeRole = Qt::UserRole + 2;

const FileTreeNode* FolderOf(const QTreeWidgetItem* item) {
    return item != nullptr ? reinterpret_cast<const FileTreeNode*>(item->data(0, kFolderRole).value<quintptr>())
                           : nullptr;
}

// A folder's item sorts among its siblings as the list sorts folder rows, by the key the
// tree carries in kSortKeyProperty.
constexpr char kSortKeyProperty[] = "halvexSortKey";

class FolderItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        const int key = treeWidget() != nullptr ? treeWidget()->property(kSortKeyProperty).toInt() : kSortByName;
        return CompareListItems(ListItem{FolderOf(this), nullptr, {}}, ListItem{FolderOf(&other), nullptr, {}},
                                key != 0 ? key : kSortByName) < 0;
    }
};

QTreeWidgetItem* NewTreeItem(const FileTreeNode* folder, int target, const QIcon& icon) {
    auto* item = new FolderItem(QStringList(QString::fromUtf8(folder->name)));
    item->setIcon(0, icon);
    item->setData(0, kFolderRole, QVariant::fromValue(reinterpret_cast<quintptr>(folder)));
    item->setData(0, kTargetRole, target);
    // Its sub-folders get items when it is expanded; until then the arrow stands for them.
    if (folder->firstChild != nullptr) item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

// The list's columns at the template's font: the icon, then name (takes the rest), date, size
// and archive. They grow with the font's height: grown by its letter width they would leave
// the name almost no room, and their short texts fit either way. Dates get what a date needs.
constexpr int kColumnWidths[] = {18, 140, 120, 70, 90};

}  // namespace

FileBrowserPage::FileBrowserPage(const RestorePageContext& context, QWidget* parent)
    : QWidget(parent), context_(context), set_(context.set), scale_(font()) {
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setRootIsDecorated(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setDragEnabled(false);
    tree_->setUniformRowHeights(true);
    tree_->setGeometry(Px(8), Py(8), Px(100), Py(100));

    list_ = new QTreeView(this);
    model_ = new BrowserListModel(set_, context_.icons, list_);
    list_->setModel(model_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setTextElideMode(Qt::ElideRight);
    header_ = SortHeader::AttachTo(*list_);
    header_->setStretchLastSection(false);
    for (int column = 0; column < BrowserListModel::ColumnCount; ++column)
        header_->resizeSection(column, Py(kColumnWidths[column]));
    // Dates are shown whole.
    header_->resizeSection(BrowserListModel::DateColumn, DateColumnWidth(list_->font()));
    header_->SetLockedColumns({BrowserListModel::IconColumn});
    header_->SetLockEnabled(true);
    // "File Name" takes what the other columns leave.
    KeepColumnFilling(*list_, BrowserListModel::NameColumn);

    restoreToLabel_ = new QLabel(QStringLiteral("Restore To:"), this);
    restoreTo_ = new QLineEdit(this);
    browse_ = new QPushButton(QStringLiteral("Browse"), this);
    restore_ = new QPushButton(QStringLiteral("Restore Selected"), this);
    restore_->setDefault(true);
    restore_->setEnabled(false);
    filter_ = new QLineEdit(this);
    filter_->setPlaceholderText(QStringLiteral("Filter this folder"));
    filter_->setClearButtonEnabled(true);
    list_->installEventFilter(this);
    tree_->installEventFilter(this);
    ShowCutTextsInToolTips(*list_);

    actions_ = new EntryActions(context_, this);
    rowActions_ = actions_->MakeActions(list_, {[this] { return SelectedItems(); }, {}, false});
    EntryActions::UpdateActions(rowActions_, {});
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ShowRowMenu(at); });

    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { ShowSelectedFolder(); });
    // A folder's sub-folders get their items when it is first expanded.
    connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { MakeChildItems(item); });
    connect(list_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!list_->selectionModel()->hasSelection() || index.row() >= model_->rowCount()) return;
        const BrowserRow& row = model_->Row(index.row());
        // A file opens as a private copy; folders are entered.
        if (row.kind == BrowserRowKind::File)
            actions_->Open({PlaceEntryPath(set_, SelectedPlace()), row.file, nullptr, 0});
        else
            OpenRow(index.row());
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!filling_) RefreshSummary();
        EntryActions::UpdateActions(rowActions_, SelectedItems());
    });
    connect(header_, &SortHeader::SortRequested, this, [this](int sortKey, int sortColumn) {
        model_->SortRows(sortKey, sortColumn);
        SortTree();
    });
    connect(filter_, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
    connect(restore_, &QPushButton::clicked, this, [this] { RestoreSelected(); });
    Layout();
}

FileBrowserPage::~FileBrowserPage() = default;

void FileBrowserPage::FillPage() {
    ClearPage();
    // A folder shows the open folder while it is selected.
    const IconCache& icons = context_.icons;
    QIcon folderIcon;
    folderIcon.addPixmap(icons.Icon(IconCache::kFolderImage).pixmap(16), QIcon::Normal);
    folderIcon.addPixmap(icons.Icon(IconCache::kOpenFolderImage).pixmap(16), QIcon::Selected);
    setItem_ = new QTreeWidgetItem(QStringList(QString::fromStdString(set_.ArchiveBaseName() + ".TQBak")));
    setItem_->setIcon(0, icons.Icon(IconCache::kSetImage));
    setItem_->setData(0, kTargetRole, -1);
    folderIcon_ = folderIcon;
    QList<QTreeWidgetItem*> targets;
    for (int i = 0; i < set_.TargetCount(); ++i) {
        const FileTreeNode* tree = set_.GetTargetTree(i);
        if (tree == nullptr) continue;  // nothing of it on or before this date
        QTreeWidgetItem* item = NewTreeItem(tree, i, icons.Icon(IconCache::kTargetImage));
        itemOfFolder_[tree] = item;
        targets.push_back(item);
    }
    setItem_->addChildren(targets);
    setItem_->setData(0, kChildrenMadeRole, true);
    tree_->addTopLevelItem(setItem_);
    // The targets' own folders come at once: they are what the user turns to first.
    for (QTreeWidgetItem* target : targets) MakeChildItems(target);
    SortTree();
    setItem_->setExpanded(true);
    // Also while the page is out of sight: it then shows the targets when the user turns to it.
    tree_->setCurrentItem(setItem_);
}

void FileBrowserPage::ClearPage() {
    filling_ = true;
    model_->Clear();
    folderRows_.clear();
    folderEntryPath_.clear();
    // The tree's items name folders of the catalog, which is about to change.
    tree_->blockSignals(true);
    tree_->clear();
    tree_->blockSignals(false);
    filling_ = false;
    itemOfFolder_.clear();
    setItem_ = nullptr;
    restoreTo_->clear();
    RefreshSummary();
}

void FileBrowserPage::SortTree() {
    if (setItem_ == nullptr) return;
    tree_->setProperty(kSortKeyProperty, header_->SortKey());
    // Every level at once; the set item stays on top alone.
    tree_->sortItems(0, Qt::AscendingOrder);
}

void FileBrowserPage::MakeChildItems(QTreeWidgetItem* parent) {
    if (parent == nullptr || parent->data(0, kChildrenMadeRole).toBool()) return;
    parent->setData(0, kChildrenMadeRole, true);
    const FileTreeNode* folder = FolderOf(parent);
    if (folder == nullptr) return;
    const int target = parent->data(0, kTargetRole).toInt();
    QList<QTreeWidgetItem*> children;
    for (const FileTreeNode* sub = folder->firstChild; sub != nullptr; sub = sub->nextSibling) {
        QTreeWidgetItem* child = NewTreeItem(sub, target, folderIcon_);
        itemOfFolder_[sub] = child;
        children.push_back(child);
    }
    if (children.isEmpty()) return;
    parent->addChildren(children);
    tree_->setProperty(kSortKeyProperty, header_->SortKey());
    parent->sortChildren(0, Qt::AscendingOrder);
}

void FileBrowserPage::BeforeDateChange() {
    placeBeforeDateChange_ = SelectedPlace();
    ClearPage();
}

void FileBrowserPage::DateChanged() {
    FillPage();
    SelectPlace(placeBeforeDateChange_);
    placeBeforeDateChange_ = {};
}

void FileBrowserPage::SelectPlace(const BrowserPlace& place) {
    if (setItem_ == nullptr) return;
    QTreeWidgetItem* item = setItem_;
    for (int i = 0; i < setItem_->childCount(); ++i)
        if (setItem_->child(i)->data(0, kTargetRole).toInt() == place.target && place.target >= 0) item = setItem_->child(i);
    for (std::size_t depth = 0; item != setItem_ && depth < place.folders.size(); ++depth) {
        MakeChildItems(item);
        QTreeWidgetItem* below = nullptr;
        for (int i = 0; i < item->childCount() && below == nullptr; ++i)
            if (FolderOf(item->child(i))->name == place.folders[depth]) below = item->child(i);
        if (below == nullptr) break;  // gone at this date: its nearest ancestor stays
        item = below;
    }
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
}

void FileBrowserPage::GoUp() {
    QTreeWidgetItem* current = tree_->currentItem();
    if (current == nullptr || current->parent() == nullptr) return;
    tree_->setCurrentItem(current->parent());
    tree_->scrollToItem(current->parent());
}

bool FileBrowserPage::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == list_ || watched == tree_) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace && key->modifiers() == Qt::NoModifier) {
            GoUp();
            return true;
        }
        if (watched == list_ && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            list_->currentIndex().isValid()) {
            const BrowserRow& row = model_->Row(list_->currentIndex().row());
            // Enter on a file is left to the list.
            if (row.kind != BrowserRowKind::File) {
                OpenRow(list_->currentIndex().row());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QTreeWidgetItem* FileBrowserPage::ItemOfFolder(const FileTreeNode* folder) const {
    const auto found = itemOfFolder_.find(folder);
    return found != itemOfFolder_.end() ? found->second : nullptr;
}

BrowserPlace FileBrowserPage::SelectedPlace() const {
    BrowserPlace place;
    const QTreeWidgetItem* item = tree_->currentItem();
    if (item == nullptr || item == setItem_) return place;
    place.target = item->data(0, kTargetRole).toInt();
    // Climb to the target's item, naming each folder on the way.
    for (; item != nullptr && item->parent() != setItem_; item = item->parent())
        place.folders.insert(place.folders.begin(), FolderOf(item)->name);
    return place;
}

void FileBrowserPage::ShowSelectedFolder() {
    filling_ = true;
    QTreeWidgetItem* item = tree_->currentItem();
    // Its folder rows lead to its sub-folders' items.
    MakeChildItems(item);
    restoreTo_->setText(QFile::decodeName(QByteArray::fromStdString(DefaultRestoreTo(set_, SelectedPlace()))));
    folderEntryPath_.clear();
    if (item == nullptr) {
        folderRows_.clear();
    } else if (item == setItem_) {
        folderRows_ = TargetRows(set_);
    } else {
        folderRows_ = FolderRows(*FolderOf(item));
        folderEntryPath_ = PlaceEntryPath(set_, SelectedPlace());
    }
    // Another folder starts unfiltered.
    filter_->blockSignals(true);
    filter_->clear();
    filter_->blockSignals(false);
    filling_ = false;
    ApplyFilter();
}

void FileBrowserPage::ApplyFilter() {
    filling_ = true;
    const QString text = filter_->text();
    if (text.isEmpty()) {
        model_->SetRows(folderRows_, folderEntryPath_);
    } else {
        std::vector<BrowserRow> rows;
        for (const BrowserRow& row : folderRows_) {
            const char* name = row.file != nullptr ? row.file->name : row.folder != nullptr ? row.folder->name : nullptr;
            // "<..>" stays: the way up is never filtered away.
            if (name == nullptr || QString::fromUtf8(name).contains(text, Qt::CaseInsensitive)) rows.push_back(row);
        }
        model_->SetRows(std::move(rows), folderEntryPath_);
    }
    model_->SortRows(header_->SortKey(), header_->SortColumn());
    filling_ = false;
    RefreshSummary();
}

void FileBrowserPage::RefreshSummary() {
    selectedCount_ = 0;
    selectedBytes_ = 0;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        const BrowserRow& row = model_->Row(index.row());
        if (!row.HasItem()) continue;
        ++selectedCount_;
        selectedBytes_ += row.Size();
    }
    restore_->setEnabled(selectedCount_ > 0);
    // Status parts 1 and 2 belong to the page on show.
    if (!shown_) return;
    const bool hasUpRow = tree_->currentItem() != nullptr && tree_->currentItem() != setItem_;
    const std::string count = BrowserCountText(selectedCount_, model_->rowCount(), hasUpRow);
    context_.status.SetText(1, QString::fromStdString(count));
    context_.status.SetText(2, count.empty() ? QString() : QString::fromStdString(FormatByteSize(selectedBytes_)));
}

void FileBrowserPage::OpenRow(int row) {
    if (row < 0 || row >= model_->rowCount()) return;
    const BrowserRow& clicked = model_->Row(row);
    QTreeWidgetItem* target = nullptr;
    if (clicked.kind == BrowserRowKind::Folder || clicked.kind == BrowserRowKind::Target)
        target = ItemOfFolder(clicked.folder);
    else if (clicked.kind == BrowserRowKind::Up && tree_->currentItem() != nullptr)
        target = tree_->currentItem()->parent();
    if (target == nullptr) return;
    tree_->setCurrentItem(target);
    tree_->scrollToItem(target);
    tree_->viewport()->update();
}

std::vector<ActionItem> FileBrowserPage::SelectedItems() const {
    std::vector<ActionItem> items;
    if (model_->rowCount() == 0) return items;
    QModelIndexList indexes = list_->selectionModel()->selectedRows();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const std::string folder = PlaceEntryPath(set_, SelectedPlace());
    for (const QModelIndex& index : indexes) {
        const BrowserRow& row = model_->Row(index.row());
        if (row.HasItem()) items.push_back({folder, row.file, row.folder, 0});
    }
    return items;
}

void FileBrowserPage::ShowRowMenu(const QPoint& position) {
    EntryActions::ShowMenu(list_, position, rowActions_, [this] { return SelectedItems(); });
}

bool FileBrowserPage::ShowEntry(const std::string& folderPath, const std::string& name) {
    const std::vector<std::string> parts = SplitEntryPath(folderPath);
    const int target = FindTargetByName(set_, parts.front());
    QTreeWidgetItem* item = target >= 0 ? ItemOfFolder(set_.GetTargetTree(target)) : nullptr;
    for (std::size_t i = 1; item != nullptr && i < parts.size(); ++i) {
        MakeChildItems(item);
        QTreeWidgetItem* below = nullptr;
        for (int c = 0; c < item->childCount() && below == nullptr; ++c)
            if (FolderOf(item->child(c))->name == parts[i]) below = item->child(c);
        item = below;
    }
    if (item == nullptr) return false;
    tree_->setCurrentItem(item);
    tree_->scrollToItem(item);
    for (int row = 0; row < model_->rowCount(); ++row) {
        const BrowserRow& shown = model_->Row(row);
        if (shown.file == nullptr || name != shown.file->name) continue;
        const QModelIndex index = model_->index(row, BrowserListModel::NameColumn);
        list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list_->scrollTo(index);
        list_->setFocus();
        return true;
    }
    return false;
}

void FileBrowserPage::RestoreSelected() {
    if (selectedCount_ == 0) return;
    QModelIndexList indexes = list_->selectionModel()->selectedRows();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<BrowserRow> rows;
    rows.reserve(indexes.size());
    for (const QModelIndex& index : indexes) rows.push_back(model_->Row(index.row()));
    const CatalogSelection selection = BrowserSelection(set_, SelectedPlace(), rows);
    tree_->viewport()->update();
    {
        // The window keeps the set while the restore lets events through.
        BusyCount::Scope busy(context_.busy);
        RestoreSelection(set_, selection, QFile::encodeName(restoreTo_->text()).toStdString());
    }
    tree_->viewport()->update();
}

void FileBrowserPage::Browse() {
    const std::optional<std::string> chosen = BrowseForFolder(context_.mainWindow, "Select destination for files.",
                                                              QFile::encodeName(restoreTo_->text()).toStdString());
    if (chosen) restoreTo_->setText(QFile::decodeName(QByteArray::fromStdString(*chosen)));
}

void FileBrowserPage::PageShown() {
    shown_ = true;
    RefreshSummary();
}

void FileBrowserPage::PageHidden() {
    list_->clearSelection();
    shown_ = false;
}

QSize FileBrowserPage::MinimumPageSize() const { return {Px(260), Py(115)}; }

void FileBrowserPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void FileBrowserPage::Layout() {
    // Below these the controls stop shrinking.
    const int w = std::max(width(), Px(260));
    const int h = height();
    const int y = h < Py(115) ? Py(85) : h - Py(30);
    const int lineHeight = Py(20);
    restoreToLabel_->setGeometry(Px(8), y, Px(61), lineHeight);
    restoreTo_->setGeometry(Px(69), y, w - Px(237), lineHeight);
    browse_->setGeometry(w - Px(168), y, Px(45), lineHeight);
    restore_->setGeometry(w - Px(117), y - Py(3), Px(109), Py(26));

    // The tree takes a quarter: the list's name column gets what the other columns leave.
    const int a = w - Px(20);
    const int b = a / 4;
    tree_->setGeometry(tree_->x(), tree_->y(), b, y - Py(15));
    // The filter sits over the list.
    const int filterHeight = std::max(lineHeight, filter_->sizeHint().height());
    filter_->setGeometry(b + Px(12), Py(8), a - b, filterHeight);
    const int listTop = Py(8) + filterHeight + Py(4);
    list_->setGeometry(b + Px(12), listTop, a - b, std::max(0, y - Py(7) - listTop));

    restore_->update();
}

}  // namespace halvex
