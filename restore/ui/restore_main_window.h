// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "Halvex Restore": the restore program's one window. A menu opens an archive set, chooses its
// backup date and quits; three tabs show the pages (Easy Restore, File Browser, File Search &
// Log Viewer) over a three-part status bar. The window owns the one ArchiveSet.
#include <QMainWindow>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "restore/archive_set.h"
#include "restore/ui/icon_cache.h"
#include "restore/ui/qt_restore_ui.h"
#include "restore/ui/restore_progress_dialog.h"
#include "restore/ui/restore_page.h"

class QAction;
class QActionGroup;
class QMenu;
class QTabBar;

namespace halvex {

class RestoreStatusBar;

class RestoreMainWindow : public QMainWindow {
    Q_OBJECT

public:
    enum PageIndex { kEasyRestorePage = 0, kFileBrowserPage = 1, kSearchLogPage = 2 };

    explicit RestoreMainWindow(QWidget* parent = nullptr);
    ~RestoreMainWindow() override;

    // What Open does once a file is chosen: closes the open set, opens the one `path` ends
    // and shows it (title, date menu, the newest date, the pages). False, after "Error
    // opening archive: REASON.", when it cannot be opened; no set is open then.
    bool ShowSet(const std::string& path);
    // Selects date `index` (0 = oldest) as its menu item does; nothing for the date already
    // selected or an index the set does not have.
    void SelectDate(int index);
    // Open: the file dialog, then ShowSet.
    void Open();
    // Where the file dialogs start before any set has been opened ("": the process's folder).
    void SetStartFolder(const std::string& folder) { lastFolder_ = folder; }
    // Quit and the close box: the set is closed and the window ends; while a restore or a search
    // runs, it is first asked to stop and the window ends once it has.
    void Quit();

    // Size, place and the search page's splitter, kept in the user's settings between runs.
    // The program restores them before showing the window and saves them as it closes;
    // windows that never restored them (the tests') save nothing.
    void RestoreSettings();
    void SaveSettings() const;
    // Ctrl+F: the search page, the cursor in its file name pattern.
    void GoToSearch();
    // Help > About: name, version and licence.
    static QString AboutText();
    QAction* AboutAction() const { return aboutAction_; }

    // The file dialog's filter: "Halvex Backup Archives (*.TQBak)".
    static QString OpenFilter();
    // Caption of the window's own message boxes: the program's name.
    static std::string MessageCaption();
    // "Error opening archive: REASON." after a failed open of `set`, with the detail, if any.
    static std::string OpenErrorText(const ArchiveSet& set);

    ArchiveSet& Set() { return set_; }
    QtRestoreUi& Ui() { return ui_; }
    IconCache& Icons() { return icons_; }
    RestoreStatusBar* StatusBar() const { return status_; }
    QTabBar* Tabs() const { return tabs_; }
    RestorePage* Page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    QAction* OpenAction() const { return openAction_; }
    QAction* QuitAction() const { return quitAction_; }
    QMenu* DateMenu() const { return dateMenu_; }
    bool QuitPending() const { return quitPending_; }
    // The selected date's index, -1 while none is selected.
    int SelectedDate() const { return selectedDate_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenu();
    void CreatePages();
    void LayoutClientArea();
    void ShowPage(int index);
    void CloseSet();
    void FillDateMenu();
    void OnBusyChanged(bool busy);
    void UpdateMinimumSize();
    // The open set's folder; else the last set's, or the start folder.
    QString BrowseFolder() const;

    std::optional<std::string> password_;  // an encrypted set's, once given
    ArchiveSet set_;
    QtRestoreUi ui_;
    IconCache icons_;
    BusyCount busy_;
    QWidget* client_ = nullptr;
    QTabBar* tabs_ = nullptr;
    RestoreStatusBar* status_ = nullptr;
    std::array<RestorePage*, 3> pages_{};
    QAction* openAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    bool keepsSettings_ = false;
    QMenu* dateMenu_ = nullptr;
    QActionGroup* dateGroup_ = nullptr;
    int shownPage_ = -1;
    int selectedDate_ = -1;  // the date index checked in the menu; -1 while none is
    bool quitPending_ = false;
    std::string lastFolder_;
};

}  // namespace halvex
