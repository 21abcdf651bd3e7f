// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the restore window and its three pages meet. Each page is a plain QWidget that also
// implements RestorePage; the window creates the pages (restore_pages.h), shows the page of the
// selected tab and calls these hooks as the set is opened, dated and closed. The pages reach
// the set, the status bar and the icons through RestorePageContext.
#include <QSize>

#include <functional>

class QWidget;

namespace halvex {

class ArchiveSet;
class IconCache;
class RestoreStatusBar;

// Counts the long operations in progress (a restore, a search) that run inside a page's
// handler and let window events through. While one runs the window must not free the set:
// Quit and the close box wait for the count to drop to zero.
class BusyCount {
public:
    class Scope {
    public:
        explicit Scope(BusyCount& count) : count_(&count) {
            if (++count_->count_ == 1 && count_->onChange_) count_->onChange_(true);
        }
        ~Scope() {
            if (--count_->count_ == 0 && count_->onChange_) count_->onChange_(false);
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        BusyCount* count_;
    };

    bool IsBusy() const { return count_ > 0; }
    // Called with true when the first operation starts and with false when the last one ends.
    void SetOnChange(std::function<void(bool busy)> onChange) { onChange_ = std::move(onChange); }

private:
    int count_ = 0;
    std::function<void(bool)> onChange_;
};

struct RestorePageContext {
    ArchiveSet& set;
    // Part 0 shows the selected date; parts 1 and 2 belong to the page shown.
    RestoreStatusBar& status;
    // The small icons: the five fixed images and the icons of file types.
    IconCache& icons;
    // The main window: owner of the pages' message boxes and dialogs.
    QWidget* mainWindow;
    // A page holds a BusyCount::Scope for as long as a restore or search it runs.
    BusyCount& busy;
};

class RestorePage {
public:
    virtual ~RestorePage() = default;

    virtual QWidget* Widget() = 0;

    // A set was opened and its newest date selected.
    virtual void SetOpened() {}
    // The selected date is about to change: the trees of the old date are freed next, so a
    // page that shows them lets go of them here.
    virtual void BeforeDateChange() {}
    // A date was selected (also right after an open): the set's trees are the new date's.
    virtual void DateChanged() {}
    // The set is being closed (before an open, on Quit): the page empties itself.
    virtual void ClearPage() {}
    // The page became the visible one, or stopped being it.
    virtual void PageShown() {}
    virtual void PageHidden() {}
    // The window wants to end while the page's operation runs: stop it soon (a search stops;
    // a restore is asked to stop through its progress window by the main window itself).
    virtual void StopWork() {}
    // The smallest size at which the page's controls still fit.
    virtual QSize MinimumPageSize() const { return {}; }
};

}  // namespace halvex
