// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/search_log_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/ui/dialog_units.h"
#include "common/ui/pump_messages.h"
#include "platform/nocase.h"
#include "platform/tick.h"
#include "restore/archive_dates.h"
#include "restore/archive_set.h"
#include "restore/archive_set_catalog.h"
#include "restore/ui/entry_actions.h"
#include "restore/ui/list_columns.h"
#include "restore/ui/restore_status_bar.h"
#include "restore/ui/search_results_model.h"
#include "restore/ui/sort_header.h"
#include "restore/ui/splitter_bar.h"
#include "restore/ui/styled_label.h"

namespace halvex {
namespace {

// Result columns at the template's font: icon, name, path (takes the rest), modified, size,
// archive. They grow with the font's height, as the File Browser's do; dates get what a date
// needs.
constexpr int kColumnWidths[] = {18, 120, 160, 80, 80, 100};

// While a search runs, the rows found so far, the "Searching" text and the window's events are
// let through this often (milliseconds). Doing it for every file found would cost more than
// the search itself.
constexpr std::uint32_t kSearchRefreshMs = 40;

const QString kAllDirs = QStringLiteral("<All Dirs>");

QLabel* NewLabel(const QString& text, const QRect& place, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    return label;
}

QPushButton* NewButton(const QString& text, const QRect& place, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(place);
    return button;
}

// Ends the "searching" state however the search ends.
class SearchingFlag {
public:
    explicit SearchingFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~SearchingFlag() { flag_ = false; }
    SearchingFlag(const SearchingFlag&) = delete;
    SearchingFlag& operator=(const SearchingFlag&) = delete;

private:
    bool& flag_;
};

}  // namespace

SearchLogPage::SearchLogPage(const RestorePageContext& context, QWidget* parent)
    : AnchoredPage(parent), context_(context), set_(context.set), scale_(font()), refreshInterval_(kSearchRefreshMs) {
    const DialogUnits units(font());
    resize(units.Size(282, 237));

    // The frames first, so the controls inside lie above them.
    searchGroup_ = new QGroupBox(QStringLiteral("Search For File"), this);
    searchGroup_->setGeometry(units.Rect(7, 3, 268, 139));
    logGroup_ = new QGroupBox(QStringLiteral("Backup Log"), this);
    logGroup_->setGeometry(units.Rect(7, 147, 268, 86));

    NewLabel(QStringLiteral("Search For:"), units.Rect(14, 17, 42, 8), this);
    pattern_ = new QLineEdit(this);
    pattern_->setGeometry(units.Rect(58, 15, 150, 12));
    search_ = NewButton(QStringLiteral("Search"), units.Rect(214, 14, 50, 14), this);
    NewLabel(QStringLiteral("Look In:"), units.Rect(14, 33, 42, 8), this);
    lookIn_ = new QComboBox(this);
    lookIn_->setEditable(true);
    lookIn_->setInsertPolicy(QComboBox::NoInsert);
    lookIn_->setGeometry(units.Rect(58, 31, 128, 12));
    lookIn_->setMaxVisibleItems(std::max(1, Py(300) / std::max(1, lookIn_->fontMetrics().height() + 4)));
    currentOnly_ = new QCheckBox(QStringLiteral("Only search in current archive"), this);
    currentOnly_->setGeometry(units.Rect(58, 46, 150, 10));
    currentOnly_->setChecked(true);
    auto* note = new StyledLabel(QStringLiteral("Note:"), this);
    note->TakeFont(font()).SetTextColour(QColor(0, 0, 128)).SetBold(true);
    note->setGeometry(units.Rect(14, 61, 22, 8));
    QLabel* wildcards =
        NewLabel(QStringLiteral("You may use wildcards * in either search fields."), units.Rect(38, 61, 226, 8), this);

    results_ = new QTreeView(this);
    results_->setGeometry(units.Rect(14, 73, 254, 63));
    model_ = new SearchResultsModel(set_, context_.icons, results_);
    results_->setModel(model_);
    results_->setRootIsDecorated(false);
    results_->setItemsExpandable(false);
    results_->setUniformRowHeights(true);
    results_->setAllColumnsShowFocus(true);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    header_ = SortHeader::AttachTo(*results_);
    header_->setStretchLastSection(false);
    for (int column = 0; column < SearchResultsModel::ColumnCount; ++column)
        header_->resizeSection(column, Py(kColumnWidths[column]));
    header_->resizeSection(SearchResultsModel::ModifiedColumn, DateColumnWidth(results_->font()));
    header_->SetLockedColumns({SearchResultsModel::IconColumn});
    header_->SetLockEnabled(true);
    KeepColumnFilling(*results_, SearchResultsModel::PathColumn);
    ShowCutTextsInToolTips(*results_);

    log_ = new QPlainTextEdit(this);
    log_->setGeometry(units.Rect(14, 159, 254, 50));
    log_->setReadOnly(true);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(Py(13));
    log_->setFont(fixed);
    QPalette white = log_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        white.setColor(group, QPalette::Base, Qt::white);
        white.setColor(group, QPalette::Text, Qt::black);
    }
    log_->setPalette(white);

    prev_ = NewButton(QStringLiteral("Prev."), units.Rect(75, 214, 40, 14), this);
    archiveNumber_ = new QLineEdit(this);
    archiveNumber_->setGeometry(units.Rect(119, 215, 44, 12));
    archiveNumber_->setReadOnly(true);
    archiveNumber_->setAlignment(Qt::AlignCenter);
    archiveNumber_->setFocusPolicy(Qt::NoFocus);
    next_ = NewButton(QStringLiteral("Next"), units.Rect(167, 214, 40, 14), this);

    splitter_ = new SplitterBar(Qt::Horizontal, units.Rect(7, 143, 268, 3), this);
    splitter_->SetLive(true);

    InitialiseAnchors();
    designHeight_ = height();
    splitterShare_ = static_cast<double>(splitter_->Centre()) / std::max(1, designHeight_);
    SetMinimumLayoutSize(QSize(Px(525), Py(370)));
    RegisterAnchor(searchGroup_, Anchor::Stretch, Anchor::Stretch);
    RegisterAnchor(results_, Anchor::Stretch, Anchor::Stretch);
    RegisterAnchor(wildcards, Anchor::Stretch, Anchor::Fixed);
    RegisterAnchor(logGroup_, Anchor::Stretch, Anchor::Move);
    RegisterAnchor(log_, Anchor::Stretch, Anchor::Move);
    RegisterAnchor(next_, Anchor::Centre, Anchor::Move);
    RegisterAnchor(prev_, Anchor::Centre, Anchor::Move);
    RegisterAnchor(archiveNumber_, Anchor::Centre, Anchor::Move);
    RegisterAnchor(splitter_, Anchor::Stretch, Anchor::Move);

    restoreSelected_ = NewButton(QStringLiteral("Restore Selected"), units.Rect(190, 30, 74, 14), this);
    actions_ = new EntryActions(context_, this);
    auto* restoreMenu = new QMenu(restoreSelected_);
    restoreMenu->addAction(QStringLiteral("To Their Original Folders"), this, [this] {
        const std::vector<ActionItem> items = SelectedItems();
        if (!items.empty()) actions_->RestoreToOriginal(items);
    });
    restoreMenu->addAction(QStringLiteral("Below a Folder, Keeping Their Paths..."), this,
                           [this] { actions_->RestoreTo(SelectedItems(), true); });
    restoreSelected_->setMenu(restoreMenu);
    hitActions_ = actions_->MakeActions(
        results_, {[this] { return SelectedItems(); }, [this] { ShowSelectedInBrowser(); }, true});
    results_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(results_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ShowHitMenu(at); });
    connect(results_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!index.isValid()) return;
        const SearchResults::Hit& hit = model_->Hit(index.row());
        actions_->Open({model_->Results().FolderPath(hit), hit.file, nullptr, hit.file->archiveNumber});
    });
    connect(results_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { RefreshActions(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { RefreshActions(); });

    connect(search_, &QPushButton::clicked, this, [this] { Search(); });
    connect(pattern_, &QLineEdit::returnPressed, this, [this] { Search(); });
    connect(lookIn_->lineEdit(), &QLineEdit::returnPressed, this, [this] { Search(); });
    connect(prev_, &QPushButton::clicked, this, [this] {
        if (pager_.CanGoBack()) ShowLog(pager_.index - 1);
    });
    connect(next_, &QPushButton::clicked, this, [this] {
        if (pager_.CanGoForward()) ShowLog(pager_.index + 1);
    });
    connect(header_, &SortHeader::SortRequested, this,
            [this](int sortKey, int sortColumn) { model_->SortRows(sortKey, sortColumn); });
    connect(splitter_, &SplitterBar::Moved, this, [this](int distance) {
        MoveSplitter(distance);
        splitterShare_ = static_cast<double>(splitter_->Centre()) / std::max(1, height());
    });

    SetControlsEnabled(false);
    AfterLayout();
}

SearchLogPage::~SearchLogPage() = default;

void SearchLogPage::FillPage() {
    model_->Clear();
    std::vector<QString> choices{kAllDirs};
    for (int i = 0; i < set_.TargetCount(); ++i) choices.push_back(QString::fromUtf8(set_.GetTargetName(i)));
    std::stable_sort(choices.begin(), choices.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    lookIn_->clear();
    for (const QString& choice : choices) lookIn_->addItem(choice);
    lookIn_->setEditText(kAllDirs);
    SetControlsEnabled(true);
    // After enabling: the pager's buttons follow the archive shown.
    pager_ = LogPager{};
    ShowLog(set_.CurrentArchiveIndex());
    ShowPaging();
    RefreshStatus();
    RefreshActions();
}

void SearchLogPage::ClearPage() {
    model_->Clear();
    log_->clear();
    archiveNumber_->clear();
    logGroup_->setTitle(QStringLiteral("Backup Log"));
    pager_ = LogPager{};
    SetControlsEnabled(false);
    RefreshStatus();
    RefreshActions();
}

void SearchLogPage::BeforeDateChange() {
    // The results name files of the trees that the new date replaces.
    model_->Clear();
    RefreshStatus();
}

void SearchLogPage::PageShown() {
    shown_ = true;
    RefreshStatus();
}

void SearchLogPage::Search() {
    if (searching_) return;  // one search at a time: another asked for meanwhile is refused
    BusyCount::Scope busy(context_.busy);
    const SearchingFlag searching(searching_);
    stopRequested_ = false;
    model_->Clear();
    const std::string pattern = pattern_->text().toUtf8().toStdString();
    // Folder paths in the catalog are joined by '\'; a path typed with '/' means the same (no
    // name of this platform holds either).
    QString lookIn = lookIn_->currentText();
    lookIn.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const std::string filter = LookInFilter(lookIn.toUtf8().toStdString());
    lastUpdate_ = platform::TickCountMs();
    set_.Search(pattern.c_str(), filter.c_str(), !currentOnly_->isChecked(), &SearchLogPage::OnHit, this);
    model_->ShowNewHits();
    model_->SortRows(header_->SortKey(), header_->SortColumn());
    RefreshStatus();
}

SearchStep SearchLogPage::OnHit(void* page, const FileTreeFile* file, const char* folderPath, void*) {
    return static_cast<SearchLogPage*>(page)->Hit(file, folderPath);
}

SearchStep SearchLogPage::Hit(const FileTreeFile* file, const char* folderPath) {
    model_->Results().Add(file, folderPath);
    const std::uint32_t now = platform::TickCountMs();
    if (now - lastUpdate_ >= refreshInterval_) {
        if (shown_) context_.status.SetText(1, QString::fromStdString(SearchingText(lastUpdate_)));
        lastUpdate_ = now;
        model_->ShowNewHits();
        if (PumpMessages()) stopRequested_ = true;
    }
    return stopRequested_ ? SearchStep::Stop : SearchStep::GoOn;
}

std::vector<ActionItem> SearchLogPage::SelectedItems() const {
    std::vector<ActionItem> items;
    QModelIndexList indexes = results_->selectionModel()->selectedRows();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : indexes) {
        if (index.row() >= model_->rowCount()) continue;
        const SearchResults::Hit& hit = model_->Hit(index.row());
        // A hit of every backup may lie in an archive newer than the selected date's.
        items.push_back({model_->Results().FolderPath(hit), hit.file, nullptr, hit.file->archiveNumber});
    }
    return items;
}

void SearchLogPage::RefreshActions() {
    const std::vector<ActionItem> items = SelectedItems();
    EntryActions::UpdateActions(hitActions_, items);
    restoreSelected_->setEnabled(!items.empty());
}

void SearchLogPage::ShowHitMenu(const QPoint& position) {
    EntryActions::ShowMenu(results_, position, hitActions_, [this] { return SelectedItems(); });
}

void SearchLogPage::ShowSelectedInBrowser() {
    const std::vector<ActionItem> items = SelectedItems();
    if (items.size() != 1) return;
    emit ShowInBrowserRequested(QString::fromUtf8(items.front().folderPath), QString::fromUtf8(items.front().file->name));
}

void SearchLogPage::RefreshStatus() {
    if (!shown_) return;
    context_.status.SetText(1, QString::fromStdString(SearchCountText(model_->rowCount())));
    context_.status.SetText(2, QString());
}

void SearchLogPage::ShowLog(int index) {
    if (index < 0 || index >= set_.ArchiveCount()) return;
    pager_ = LogPager{index, set_.ArchiveCount()};
    const std::string* text = set_.RetrieveLog(index);
    log_->setPlainText(text != nullptr ? LogText(*text) : QString::fromLatin1(kNoLogText));
    archiveNumber_->setText(QString::fromStdString(pager_.Text()));
    // The archive's date, in the words of the date menu, so that a log can be matched to it.
    QString title = QStringLiteral("Backup Log");
    if (const std::optional<int> date = DateIndexFromLabel(set_.ArchiveCount(), set_.DateCount(), index))
        title += QStringLiteral(" - ") +
                 QString::fromStdString(ArchiveDateTexts(set_.GetBackupDates())[static_cast<std::size_t>(*date)]);
    logGroup_->setTitle(title);
    ShowPaging();
}

void SearchLogPage::ShowPaging() {
    prev_->setEnabled(pager_.CanGoBack());
    next_->setEnabled(pager_.CanGoForward());
}

QString SearchLogPage::LogText(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromStdString(bytes.substr(0, bytes.find('\0')));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (utf8.hasError()) text = QString::fromLatin1(raw);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void SearchLogPage::AfterLayout() {
    if (splitter_ == nullptr) return;
    splitter_->SetRange(Py(150), height() - Py(100));
    KeepSplitterShare();
    splitter_->update();
}

void SearchLogPage::KeepSplitterShare() {
    // The anchors give all new height to the list; the splitter takes its share back, so
    // the log pane grows too. Smaller pages keep the designed places.
    if (splitter_ == nullptr || splitterShare_ <= 0 || height() < designHeight_) return;
    const int wanted = std::clamp(static_cast<int>(splitterShare_ * height() + 0.5), splitter_->RangeMinimum(),
                                  std::max(splitter_->RangeMinimum(), splitter_->RangeMaximum()));
    if (wanted != splitter_->Centre()) {
        const int distance = wanted - splitter_->Centre();
        splitter_->move(splitter_->x(), splitter_->y() + distance);
        MoveSplitter(distance);
    }
}

void SearchLogPage::SetSplitterShare(double share) {
    if (!(share > 0 && share < 1)) return;
    splitterShare_ = share;
    KeepSplitterShare();
}

void SearchLogPage::FocusPattern() {
    pattern_->setFocus(Qt::ShortcutFocusReason);
    pattern_->selectAll();
}

void SearchLogPage::MoveSplitter(int distance) {
    for (QWidget* upper : {static_cast<QWidget*>(searchGroup_), static_cast<QWidget*>(results_)}) {
        QRect place = upper->geometry();
        place.setBottom(place.bottom() + distance);
        upper->setGeometry(place);
    }
    for (QWidget* lower : {static_cast<QWidget*>(logGroup_), static_cast<QWidget*>(log_)}) {
        QRect place = lower->geometry();
        place.setTop(place.top() + distance);
        lower->setGeometry(place);
    }
    // The list keeps a few rows' height when the page shrinks.
    SetMinimumLayoutSize(QSize(MinimumLayoutSize().width(), height() - results_->height() + Py(38)));
}

}  // namespace halvex
