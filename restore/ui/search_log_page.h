// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "File Search && Log Viewer": the upper half finds archived files by a wildcard name pattern,
// optionally within folders matching a "Look In:" pattern, at the selected date or across every
// backup; the lower half shows the backup log stored in each archive and pages through them. A
// bar between the halves shares the height between them.
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "restore/archive_set_catalog.h"
#include "restore/page_texts.h"
#include "restore/ui/anchored_page.h"
#include "restore/ui/page_scale.h"
#include "restore/ui/restore_page.h"

class QAction;
class QCheckBox;
class QPoint;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeView;

namespace halvex {

struct ActionItem;
class EntryActions;
struct FileTreeFile;
class SearchResultsModel;
class SortHeader;
class SplitterBar;
class StyledLabel;

class SearchLogPage : public AnchoredPage, public RestorePage {
    Q_OBJECT

public:
    SearchLogPage(const RestorePageContext& context, QWidget* parent = nullptr);
    ~SearchLogPage() override;

    // After each date selection: the "Look In:" choices, the selected date's log, every
    // control enabled. Earlier results are gone: they named files of the old date's trees.
    void FillPage();
    void ClearPage() override;

    QWidget* Widget() override { return this; }
    void BeforeDateChange() override;
    void DateChanged() override { FillPage(); }
    void PageShown() override;
    void PageHidden() override { shown_ = false; }
    void StopWork() override { stopRequested_ = true; }
    QSize MinimumPageSize() const override { return MinimumLayoutSize(); }

    // "Search" (also Enter in either pattern). Refused while a search runs already.
    void Search();
    bool IsSearching() const { return searching_; }
    // Shows the log of archive index + 1 and pages to it.
    void ShowLog(int index);
    int LogIndex() const { return pager_.index; }

    // The log's bytes as text: UTF-8 when they are valid UTF-8, else Latin-1 (every byte a
    // character); line ends as the viewer needs them; nothing after a 0 byte.
    static QString LogText(const std::string& bytes);

    // How often a running search shows its rows and lets the window's events through
    // (milliseconds; 0: after every file found).
    void SetRefreshInterval(std::uint32_t milliseconds) { refreshInterval_ = milliseconds; }

    // The pixel measures (column widths, sizes and the splitter's range), across and down,
    // grown for the page's font.
    int Px(int pixels) const { return scale_.X(pixels); }
    int Py(int pixels) const { return scale_.Y(pixels); }

    QLineEdit* PatternEdit() const { return pattern_; }
    QComboBox* LookInCombo() const { return lookIn_; }
    QCheckBox* CurrentArchiveOnly() const { return currentOnly_; }
    QPushButton* SearchButton() const { return search_; }
    // "Restore Selected": its menu restores the selected hits to their own folders, or below
    // a chosen folder keeping their paths.
    QPushButton* RestoreSelectedButton() const { return restoreSelected_; }
    // The selected hits as the actions take them.
    std::vector<ActionItem> SelectedItems() const;
    EntryActions& Actions() const { return *actions_; }
    // The hits' context menu actions (Restore, Restore To..., Open, Show in File Browser,
    // Versions...).
    const std::vector<QAction*>& HitActions() const { return hitActions_; }
    // "Show in File Browser" for the selected hit.
    void ShowSelectedInBrowser();

signals:
    // The File Browser is asked to show the file `name` in the folder at entry path `folderPath`.
    void ShowInBrowserRequested(const QString& folderPath, const QString& name);

public:
    QTreeView* Results() const { return results_; }
    SearchResultsModel* ResultsModel() const { return model_; }
    SortHeader* Header() const { return header_; }
    QGroupBox* SearchGroup() const { return searchGroup_; }
    QGroupBox* LogGroup() const { return logGroup_; }
    QPlainTextEdit* Log() const { return log_; }
    QLineEdit* ArchiveNumber() const { return archiveNumber_; }
    QPushButton* PrevButton() const { return prev_; }
    QPushButton* NextButton() const { return next_; }
    SplitterBar* Splitter() const { return splitter_; }
    // Where the splitter stands, as a share of the page's height: kept as the page grows, so
    // that the log grows with the list, and remembered between runs.
    double SplitterShare() const { return splitterShare_; }
    void SetSplitterShare(double share);
    // Ctrl+F: the cursor into the file name pattern.
    void FocusPattern();

protected:
    void AfterLayout() override;

private:
    static SearchStep OnHit(void* page, const FileTreeFile* file, const char* folderPath, void*);
    SearchStep Hit(const FileTreeFile* file, const char* folderPath);
    void RefreshStatus();
    void MoveSplitter(int distance);
    void KeepSplitterShare();
    void ShowPaging();
    void ShowHitMenu(const QPoint& position);
    void RefreshActions();

    RestorePageContext context_;
    ArchiveSet& set_;
    PageScale scale_;
    QGroupBox* searchGroup_ = nullptr;
    QLineEdit* pattern_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* restoreSelected_ = nullptr;
    EntryActions* actions_ = nullptr;
    std::vector<QAction*> hitActions_;
    QComboBox* lookIn_ = nullptr;
    QCheckBox* currentOnly_ = nullptr;
    QTreeView* results_ = nullptr;
    SearchResultsModel* model_ = nullptr;
    SortHeader* header_ = nullptr;
    QGroupBox* logGroup_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QPushButton* prev_ = nullptr;
    QLineEdit* archiveNumber_ = nullptr;
    QPushButton* next_ = nullptr;
    SplitterBar* splitter_ = nullptr;
    double splitterShare_ = 0;  // 0 until the page is laid out
    int designHeight_ = 0;      // below it the controls keep their designed places

    LogPager pager_;
    bool searching_ = false;
    bool stopRequested_ = false;
    bool shown_ = false;
    std::uint32_t lastUpdate_ = 0;  // tick of the last "Searching" text
    std::uint32_t refreshInterval_;
};

}  // namespace halvex
