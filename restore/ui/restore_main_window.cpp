// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QTabBar>
#include <QTimer>

#include <algorithm>

#include "common/archive_naming.h"
#include "common/program_names.h"
#include "common/ui/program_icons.h"
#include "common/ui/qt_message_box.h"
#include "platform/file_operations.h"
#include "restore/archive_dates.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/restore_dialog_font.h"
#include "restore/set_password.h"
#include "restore/ui/restore_pages.h"
#include "restore/ui/search_log_page.h"
#include "restore/ui/restore_progress_dialog.h"
#include "restore/ui/restore_status_bar.h"

namespace halvex {
namespace {

constexpr int kStartWidth = 687;
constexpr int kStartHeight = 500;
// The status bar's part edges stand this far from the right edge.
constexpr int kFirstEdgeFromRight = 320;
constexpr int kSecondEdgeFromRight = 150;

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

RestoreMainWindow::RestoreMainWindow(QWidget* parent) : QMainWindow(parent), ui_(this) {
    setWindowTitle(QStringLiteral("Halvex Restore"));
    setWindowIcon(RestoreProgramIcon());
    // Message boxes of the catalog and the engine are owned by this window.
    set_.SetUi(&ui_);
    ui_.SetBrowseFolder([this] { return BrowseFolder(); });
    busy_.SetOnChange([this](bool busy) { OnBusyChanged(busy); });

    CreateMenu();
    client_ = new QWidget(this);
    setCentralWidget(client_);
    client_->installEventFilter(this);
    tabs_ = new QTabBar(client_);
    tabs_->setExpanding(false);
    tabs_->setDrawBase(true);
    tabs_->addTab(QStringLiteral("Easy Restore"));
    tabs_->addTab(QStringLiteral("File Browser"));
    tabs_->addTab(QStringLiteral("File Search && Log Viewer"));
    status_ = new RestoreStatusBar(client_);
    CreatePages();
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) { ShowPage(index); });
    ShowPage(kEasyRestorePage);
    UpdateMinimumSize();
    resize(QSize(kStartWidth, kStartHeight).expandedTo(minimumSizeHint()));
}

RestoreMainWindow::~RestoreMainWindow() {
    // The pages go before the set whose trees they may point into.
    delete client_;
    client_ = nullptr;
}

void RestoreMainWindow::CreateMenu() {
    QMenu* menu = menuBar()->addMenu(QStringLiteral("&Menu"));
    openAction_ = menu->addAction(QStringLiteral("&Open"));
    openAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(openAction_, &QAction::triggered, this, [this] { Open(); });
    menu->addSeparator();
    dateMenu_ = menu->addMenu(QStringLiteral("Select Archive Date"));
    dateMenu_->menuAction()->setEnabled(false);
    menu->addSeparator();
    quitAction_ = menu->addAction(QStringLiteral("&Quit"));
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quitAction_, &QAction::triggered, this, [this] { Quit(); });
    QAction* find = new QAction(QStringLiteral("Find"), this);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] { GoToSearch(); });
    addAction(find);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    aboutAction_ = help->addAction(QStringLiteral("&About Halvex Restore"));
    connect(aboutAction_, &QAction::triggered, this,
            [this] { QMessageBox::about(this, QStringLiteral("About Halvex Restore"), AboutText()); });
    // The window keeps the one check mark itself: an exclusive group would show radio marks.
    dateGroup_ = new QActionGroup(this);
    dateGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
}

void RestoreMainWindow::CreatePages() {
    const RestorePageContext context{set_, *status_, icons_, this, busy_};
    pages_[kEasyRestorePage] = CreateEasyRestorePage(context, client_);
    pages_[kFileBrowserPage] = CreateFileBrowserPage(context, client_);
    pages_[kSearchLogPage] = CreateSearchLogPage(context, client_);
    for (RestorePage* page : pages_) page->Widget()->hide();
    // A search hit's "Show in File Browser".
    auto* search = dynamic_cast<SearchLogPage*>(pages_[kSearchLogPage]);
    auto* browser = dynamic_cast<FileBrowserPage*>(pages_[kFileBrowserPage]);
    if (search != nullptr && browser != nullptr)
        connect(search, &SearchLogPage::ShowInBrowserRequested, this, [this, browser](const QString& folder, const QString& name) {
            tabs_->setCurrentIndex(kFileBrowserPage);
            if (!browser->ShowEntry(folder.toUtf8().toStdString(), name.toUtf8().toStdString()))
                ui_.ShowMessage(name.toUtf8().toStdString() + " is not in the File Browser at the selected date.", "Error",
                                MessageButtons::Ok, MessageOwner::MainWindow);
        });
}

void RestoreMainWindow::UpdateMinimumSize() {
    QSize page;
    for (RestorePage* page_ : pages_) page = page.expandedTo(page_->MinimumPageSize());
    client_->setMinimumSize(page.width(), tabs_->sizeHint().height() + page.height() + status_->sizeHint().height());
}

bool RestoreMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) LayoutClientArea();
    return QMainWindow::eventFilter(watched, event);
}

void RestoreMainWindow::LayoutClientArea() {
    const int width = client_->width(), height = client_->height();
    const int tabHeight = tabs_->sizeHint().height();
    tabs_->setGeometry(0, 0, width, tabHeight);
    const int statusHeight = status_->sizeHint().height();
    status_->setGeometry(0, height - statusHeight, width, statusHeight);
    status_->SetEdges(width - kFirstEdgeFromRight, width - kSecondEdgeFromRight);
    // The pages fill what lies between the tabs and the status bar.
    const int pageTop = tabs_->geometry().bottom() + 1;
    for (RestorePage* page : pages_)
        page->Widget()->setGeometry(0, pageTop, width, std::max(0, status_->y() - pageTop));
}

void RestoreMainWindow::ShowPage(int index) {
    if (index < 0 || index >= static_cast<int>(pages_.size())) return;
    if (shownPage_ == index) return;
    if (shownPage_ >= 0) {
        pages_[static_cast<std::size_t>(shownPage_)]->Widget()->hide();
        pages_[static_cast<std::size_t>(shownPage_)]->PageHidden();
    }
    shownPage_ = index;
    RestorePage* page = pages_[static_cast<std::size_t>(index)];
    page->Widget()->show();
    page->PageShown();
}

QString RestoreMainWindow::OpenFilter() {
    const QString extension = FromUtf8(std::string(kArchiveExtension));
    return QStringLiteral("Halvex Backup Archives (*%1)").arg(extension);
}

QString RestoreMainWindow::AboutText() {
    return QStringLiteral("Halvex Restore\n%1\n\nRestores files from the archive sets of Halvex Backup.\n\n"
                          "Licence: GPL-3.0-or-later (GNU General Public License, version 3 or later).\n"
                          "This program comes with ABSOLUTELY NO WARRANTY.")
        .arg(QString::fromStdString(VersionText(kRestoreProgramName)));
}

void RestoreMainWindow::RestoreSettings() {
    keepsSettings_ = true;
    QSettings settings(QStringLiteral("halvex"), QStringLiteral("halvex-restore"));
    const QByteArray geometry = settings.value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    bool ok = false;
    const double share = settings.value(QStringLiteral("window/searchSplitter")).toDouble(&ok);
    if (auto* search = dynamic_cast<SearchLogPage*>(Page(kSearchLogPage)); search != nullptr && ok)
        search->SetSplitterShare(share);
}

void RestoreMainWindow::SaveSettings() const {
    QSettings settings(QStringLiteral("halvex"), QStringLiteral("halvex-restore"));
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    if (const auto* search = dynamic_cast<const SearchLogPage*>(Page(kSearchLogPage)))
        settings.setValue(QStringLiteral("window/searchSplitter"), search->SplitterShare());
}

void RestoreMainWindow::GoToSearch() {
    tabs_->setCurrentIndex(kSearchLogPage);
    if (auto* search = dynamic_cast<SearchLogPage*>(Page(kSearchLogPage))) search->FocusPattern();
}

std::string RestoreMainWindow::OpenErrorText(const ArchiveSet& set) {
    std::string text = "Error opening archive: " + (set.OpenFailureReason().empty() ? "damaged" : set.OpenFailureReason()) + ".";
    // The path of a file that is not a regular one; what a set too large would need.
    const std::string& detail = set.OpenFailureDetail();
    if (!detail.empty()) text += "\n" + detail;
    return text;
}

std::string RestoreMainWindow::MessageCaption() { return "Halvex Restore"; }

void RestoreMainWindow::Open() {
    if (busy_.IsBusy()) return;
    QFileDialog dialog(this, QStringLiteral("Open"), BrowseFolder(), OpenFilter());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(FromUtf8(std::string(kArchiveExtension)).mid(1));
    FitFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    ShowSet(QFile::encodeName(dialog.selectedFiles().first()).toStdString());
}

QString RestoreMainWindow::BrowseFolder() const {
    const std::string& folder = set_.IsOpen() ? set_.Folder() : lastFolder_;
    return folder.empty() ? QDir::currentPath() : QFile::decodeName(folder.c_str());
}

void RestoreMainWindow::CloseSet() {
    for (RestorePage* page : pages_) page->ClearPage();
    for (QAction* item : dateGroup_->actions()) {
        dateGroup_->removeAction(item);
        delete item;
    }
    dateMenu_->clear();
    dateMenu_->menuAction()->setEnabled(false);
    // The title keeps the set's name, but no longer a date that nothing shows.
    if (set_.IsOpen()) setWindowTitle(FromUtf8(RestoreWindowTitle(*set_.GetArchiveName(set_.ArchiveCount()))));
    set_.Clear();
    status_->SetText(0, QString());
    status_->SetText(1, QString());
    selectedDate_ = -1;
}

bool RestoreMainWindow::ShowSet(const std::string& path) {
    if (busy_.IsBusy()) return false;
    CloseSet();
    // An encrypted set: the password is asked for once, and checked against every archive of
    // the set before anything of it is shown.
    const auto askPassword = [this](const std::string& archive) -> std::optional<std::string> {
        bool given = false;
        const QString text =
            QInputDialog::getText(this, FromUtf8(MessageCaption()),
                                  "Password for " + FromUtf8(platform::NameOfPath(archive)) + ":",
                                  QLineEdit::Password, QString(), &given);
        if (!given || text.isEmpty()) return std::nullopt;
        return text.toStdString();
    };
    const auto tell = [this](const std::string& message) {
        ShowMessageBox(this, message, MessageCaption(), MessageButtons::Ok);
    };
    if (!TakeSetPassword({path}, std::nullopt, password_, askPassword, tell)) return false;
    // One date's trees at a time: each date shown is built from the kept history bytes.
    if (!set_.OpenSetForOneDate(path)) {
        ShowMessageBox(this, OpenErrorText(set_), MessageCaption(), MessageButtons::Ok);
        return false;
    }
    std::vector<std::string> archives;
    for (int n = 1; n < set_.ArchiveCount(); ++n) archives.push_back(set_.ArchiveFileToOpen(n));
    if (!TakeSetPassword(archives, std::nullopt, password_, askPassword, tell)) {
        set_.Clear();
        return false;
    }
    lastFolder_ = set_.Folder();
    setWindowTitle(FromUtf8(RestoreWindowTitle(*set_.GetArchiveName(set_.ArchiveCount()))));
    FillDateMenu();
    // A set whose targets have no backup record has no dates: nothing is selected then.
    if (set_.DateCount() > 0) SelectDate(set_.DateCount() - 1);
    for (RestorePage* page : pages_) page->SetOpened();
    return true;
}

void RestoreMainWindow::FillDateMenu() {
    for (const DateMenuItem& item : BuildDateMenu(set_)) {
        QAction* action = dateMenu_->addAction(FromUtf8(item.text));
        action->setCheckable(true);
        action->setData(item.commandId);
        // The date text alone, for the status bar.
        action->setProperty("dateText", FromUtf8(item.dateText));
        dateGroup_->addAction(action);
        const int commandId = item.commandId;
        connect(action, &QAction::triggered, this, [this, commandId] {
            const long long index = static_cast<long long>(commandId) - kFirstDateCommand;
            SelectDate(static_cast<int>(index));
        });
    }
    dateMenu_->menuAction()->setEnabled(!dateGroup_->actions().isEmpty() && !busy_.IsBusy());
}

void RestoreMainWindow::SelectDate(int index) {
    if (!busy_.IsBusy() && index >= 0 && index < set_.DateCount() && index != selectedDate_) {
        for (RestorePage* page : pages_) page->BeforeDateChange();
        selectedDate_ = index;
        QString dateText;
        for (QAction* action : dateGroup_->actions())
            if (action->data().toInt() == kFirstDateCommand + index) dateText = action->property("dateText").toString();
        status_->SetText(0, FromUtf8(ArchiveDateStatusText(dateText.toStdString())));
        setWindowTitle(FromUtf8(RestoreWindowTitle(*set_.GetArchiveName(set_.ArchiveCount()), dateText.toStdString())));
        set_.ShowDate(index);
        for (RestorePage* page : pages_) page->DateChanged();
    }
    // A click on a checked item unchecks it; the mark always stays on the selected date.
    for (QAction* action : dateGroup_->actions())
        action->setChecked(action->data().toInt() == kFirstDateCommand + selectedDate_);
}

void RestoreMainWindow::Quit() { close(); }

void RestoreMainWindow::closeEvent(QCloseEvent* event) {
    if (busy_.IsBusy() || set_.IsRunning()) {
        // The set is in use under a running restore or search: it is asked to stop, and the
        // window ends when it has.
        event->ignore();
        if (quitPending_) return;
        quitPending_ = true;
        if (set_.IsRunning()) {
            if (RestoreProgressDialog* progress = ui_.ProgressWindow()) progress->RequestCancel();
            // "No": the restore goes on and so does the window.
            if (set_.IsRunning()) quitPending_ = false;
        } else {
            for (RestorePage* page : pages_) page->StopWork();
        }
        return;
    }
    if (keepsSettings_) SaveSettings();
    CloseSet();
    event->accept();
}

void RestoreMainWindow::OnBusyChanged(bool busy) {
    // Opening another set or changing the date would free what the operation works on.
    openAction_->setEnabled(!busy);
    dateMenu_->menuAction()->setEnabled(!busy && !dateGroup_->actions().isEmpty());
    if (!busy && quitPending_) QTimer::singleShot(0, this, [this] {
        quitPending_ = false;
        close();
    });
}

}  // namespace halvex
