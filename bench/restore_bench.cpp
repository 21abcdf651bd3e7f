// SPDX-License-Identifier: GPL-3.0-or-later
// Opening an archive set and switching dates: a set of 10 archives whose one target holds
// 100,000 files (100 folders of 10 sub-folders of 100 files) at its newest date: the first
// backup stores 60,000 of them (an archive holds at most 65,535 entries), each later one adds
// 5,000 more, changes about 1,000 and removes about 100. Run by hand: build/bench/restore_bench [FOLDER]
// (the set is written to FOLDER, default a fresh folder under /tmp, and left there).
// With the windows built, it also times the restore window opening the set and showing its
// first page, opening a folder of 50,000 files in the File Browser (a second, one-archive set in
// FOLDER/wide) and a search that lists every file of the 100,000-file set (offscreen unless a
// display is set).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/archive_naming.h"
#include "common/file_tree.h"
#include "restore/archive_set.h"
#include "zip/zip_archive_file.h"

#ifdef HALVEX_WITH_GUI
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTabBar>
#include <QTreeView>

#include <cstdlib>

#include "restore/ui/browser_list_model.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/restore_main_window.h"
#include "restore/ui/search_log_page.h"
#include "restore/ui/search_results_model.h"
#endif

using namespace halvex;

namespace {

constexpr int kFolders = 100, kSubFolders = 10, kFilesEach = 100, kArchives = 10;
constexpr int kFiles = kFolders * kSubFolders * kFilesEach;
constexpr std::uint64_t kBaseTime = 133170048000000000ULL;  // 2023-01-01
constexpr std::uint64_t kDay = 864000000000ULL;

struct FileRef {
    int index;  // d * 1000 + s * 100 + f
    std::uint64_t time;
    std::uint64_t size;
};

std::string FolderName(int d) { return "dir" + std::to_string(d); }
std::string SubName(int s) { return "sub" + std::to_string(s); }
std::string FileName(int index) { return "file" + std::to_string(index % kFilesEach) + ".dat"; }

// The tree of these files below an unnamed top folder, as a history record holds it.
FileTreeNode* BuildTree(std::vector<FileRef> files) {
    std::sort(files.begin(), files.end(), [](const FileRef& a, const FileRef& b) { return a.index < b.index; });
    FileTreeNode* root = NewFolderNode("");
    FileTreeNode** folderLink = &root->firstChild;
    FileTreeNode* folder = nullptr;
    FileTreeNode** subLink = nullptr;
    FileTreeNode* sub = nullptr;
    FileTreeFile** fileLink = nullptr;
    int lastD = -1, lastS = -1;
    for (const FileRef& f : files) {
        const int d = f.index / (kSubFolders * kFilesEach), s = f.index / kFilesEach % kSubFolders;
        if (d != lastD) {
            folder = *folderLink = NewFolderNode(FolderName(d));
            folderLink = &folder->nextSibling;
            subLink = &folder->firstChild;
            lastD = d;
            lastS = -1;
        }
        if (s != lastS) {
            sub = *subLink = NewFolderNode(SubName(s));
            subLink = &sub->nextSibling;
            fileLink = &sub->files;
            lastS = s;
        }
        *fileLink = NewFileNode(FileName(f.index), f.size, f.time);
        fileLink = &(*fileLink)->next;
    }
    return root;
}

void AppendTree(std::string& out, const std::vector<FileRef>& files) {
    if (files.empty()) {
        out += '\0';
        return;
    }
    out += '\1';
    FileTreeNode* tree = BuildTree(files);
    const std::size_t at = out.size();
    out.resize(at + FileTreeSerializedSize64(tree));
    auto* cursor = reinterpret_cast<unsigned char*>(out.data() + at);
    SaveFileTree(tree, cursor);
    FreeFileTree(tree);
}

void AddEntry(ZipArchiveFile& zip, const std::string& name, const std::string& content, int level,
              bool folder = false) {
    ZipEntryHeader header;
    header.SetFileName(name);
    header.SetFileTime(kBaseTime);
    if (folder) header.externalAttributes = kZipAttrDirectory;
    zip.OpenNewEntry(header, level);
    if (!content.empty()) zip.WriteNewEntry(content.data(), content.size());
    zip.CloseNewEntry();
}

// Writes the set: archive k holds the files its backup added and the history so far.
void WriteSet(const std::string& base) {
    constexpr int kFirstBackup = 60000, kAddedEach = 5000;
    std::vector<FileRef> state(kFiles);
    std::vector<bool> present(kFiles, false);
    for (int i = 0; i < kFiles; ++i) state[i] = {i, kBaseTime + static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(64 + i % 1000)};
    std::string history = std::string("/home/user/data") + '\0';
    for (int k = 1; k <= kArchives; ++k) {
        const std::uint64_t time = kBaseTime + static_cast<std::uint64_t>(k) * kDay;
        std::vector<FileRef> added, removed;
        const int previous = k == 1 ? 0 : std::min(kFiles, kFirstBackup + (k - 2) * kAddedEach);
        const int known = std::min(kFiles, kFirstBackup + (k - 1) * kAddedEach);
        for (int i = 0; i < known; ++i) {
            if (i >= previous) {
                present[i] = true;
                added.push_back(state[i]);
            } else if (present[i] && i % 997 == k) {
                removed.push_back(state[i]);
                present[i] = false;
            } else if (i % 100 == k) {
                state[i].time = time + static_cast<std::uint64_t>(i);
                present[i] = true;
                added.push_back(state[i]);
            }
        }
        for (int b = 0; b < 8; ++b) history += static_cast<char>((time >> (8 * b)) & 0xFF);
        AppendTree(history, removed);
        AppendTree(history, added);

        ZipArchiveFile zip;
        zip.Open(MakeArchiveFileName(base, k), ZipCreate);
        std::sort(added.begin(), added.end(), [](const FileRef& a, const FileRef& b) { return a.index < b.index; });
        for (const FileRef& f : added) {
            const int d = f.index / (kSubFolders * kFilesEach), s = f.index / kFilesEach % kSubFolders;
            const std::string name = "Data\\" + FolderName(d) + "\\" + SubName(s) + "\\" + FileName(f.index);
            AddEntry(zip, name, std::string(f.size, static_cast<char>('a' + f.index % 26)), 6);
        }
        AddEntry(zip, "Data.tq", history, 9);
        std::string toDirs(4, '\0');
        toDirs[0] = static_cast<char>(k - 1);
        toDirs += std::string("Data") + '\0';
        AddEntry(zip, "ToDirs.tq", toDirs, 0);
        AddEntry(zip, "tqbackup.log", "log\r\n", 9);
        zip.Close();
    }
}

#ifdef HALVEX_WITH_GUI
constexpr int kWideFiles = 50000;

// One archive whose target "Wide" holds the folder "big" of 50,000 files. Only the bookkeeping
// entries are written: browsing reads the history, never the files.
void WriteWideSet(const std::string& path) {
    FileTreeNode* root = NewFolderNode("");
    FileTreeNode* big = root->firstChild = NewFolderNode("big");
    static const char* const extensions[] = {".txt", ".doc", ".jpg", ".c", ""};
    FileTreeFile** link = &big->files;
    for (int i = 0; i < kWideFiles; ++i) {
        const std::string name = "file" + std::to_string(i) + extensions[i % 5];
        *link = NewFileNode(name, static_cast<std::uint64_t>(100 + i % 5000),
                            kBaseTime + static_cast<std::uint64_t>(i) * 10000000ULL);
        link = &(*link)->next;
    }
    std::string history = std::string("/home/user/wide") + '\0';
    for (int b = 0; b < 8; ++b) history += static_cast<char>(((kBaseTime + kDay) >> (8 * b)) & 0xFF);
    history += '\0';  // no removed tree
    history += '\1';
    const std::size_t at = history.size();
    history.resize(at + FileTreeSerializedSize64(root));
    auto* cursor = reinterpret_cast<unsigned char*>(history.data() + at);
    SaveFileTree(root, cursor);
    FreeFileTree(root);

    ZipArchiveFile zip;
    zip.Open(path, ZipCreate);
    AddEntry(zip, "Wide.tq", history, 9);
    AddEntry(zip, "ToDirs.tq", std::string(4, '\0') + "Wide" + '\0', 0);
    AddEntry(zip, "tqbackup.log", "log\r\n", 9);
    zip.Close();
}

int RowNamed(const BrowserListModel& model, const char* name) {
    for (int row = 0; row < model.rowCount(); ++row)
        if (model.Text(row, BrowserListModel::NameColumn) == QLatin1String(name)) return row;
    return -1;
}
#endif

double Ms(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

#ifdef HALVEX_WITH_GUI
// From a window that has no set to the set's newest date shown on the first page, painted.
void TimeWindowOpen(int argc, char** argv, const std::string& last) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        RestoreMainWindow window;
        window.show();
        if (!window.ShowSet(last)) {
            std::printf("window: the set did not open\n");
            return;
        }
        window.repaint();
        QApplication::processEvents();
        times.push_back(Ms(start));
    }
    std::sort(times.begin(), times.end());
    std::printf("window: open the set and show the first page: min %.1f ms, median %.1f ms\n", times.front(),
                times[times.size() / 2]);
}

// Processor time of this process in milliseconds: on a busy machine it shows what the wall
// clock hides.
double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

// The File Browser opening a folder of 50,000 files, and the File Search listing every file of
// the 100,000-file set, each until its rows are painted.
void TimePages(int argc, char** argv, const std::string& folder, const std::string& last) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::filesystem::create_directories(folder + "/wide");
    const std::string wide = folder + "/wide/Wide.TQBak";
    if (!std::filesystem::exists(wide)) WriteWideSet(wide);
    RestoreMainWindow window;
    window.show();
    QApplication::processEvents();

    // File Browser: a double click on the folder of 50,000 files until its rows are painted.
    if (!window.ShowSet(wide)) {
        std::printf("cannot open %s\n", wide.c_str());
        return;
    }
    window.Tabs()->setCurrentIndex(RestoreMainWindow::kFileBrowserPage);
    QApplication::processEvents();
    auto& browser = dynamic_cast<FileBrowserPage&>(*window.Page(RestoreMainWindow::kFileBrowserPage));
    browser.OpenRow(RowNamed(*browser.ListModel(), "Wide"));
    QApplication::processEvents();
    std::vector<double> folderOpens, folderCpu;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuMs();
        browser.OpenRow(RowNamed(*browser.ListModel(), "big"));
        browser.List()->viewport()->repaint();
        QApplication::processEvents();
        folderOpens.push_back(Ms(start));
        folderCpu.push_back(CpuMs() - cpu);
        if (browser.ListModel()->rowCount() != kWideFiles + 1)
            std::printf("unexpected row count %d\n", browser.ListModel()->rowCount());
        browser.OpenRow(RowNamed(*browser.ListModel(), "<..>"));
        QApplication::processEvents();
    }
    std::sort(folderOpens.begin(), folderOpens.end());
    std::sort(folderCpu.begin(), folderCpu.end());
    std::printf("File Browser: folder of %d files opened in min %.1f ms, median %.1f ms, worst %.1f ms "
                "(processor: median %.1f ms)\n",
                kWideFiles, folderOpens.front(), folderOpens[folderOpens.size() / 2], folderOpens.back(),
                folderCpu[folderCpu.size() / 2]);

    // File Search: "*" in every folder at the newest date of the 100,000-file set, until the
    // sorted rows are painted; then across every backup.
    if (!window.ShowSet(last)) {
        std::printf("cannot open %s\n", last.c_str());
        return;
    }
    window.Tabs()->setCurrentIndex(RestoreMainWindow::kSearchLogPage);
    QApplication::processEvents();
    auto& search = dynamic_cast<SearchLogPage&>(*window.Page(RestoreMainWindow::kSearchLogPage));
    search.PatternEdit()->setText(QStringLiteral("*"));
    for (bool allBackups : {false, true}) {
        search.CurrentArchiveOnly()->setChecked(!allBackups);
        std::vector<double> searches, searchCpu;
        for (int run = 0; run < 5; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const double cpu = CpuMs();
            search.Search();
            search.Results()->viewport()->repaint();
            QApplication::processEvents();
            searches.push_back(Ms(start));
            searchCpu.push_back(CpuMs() - cpu);
        }
        std::sort(searches.begin(), searches.end());
        std::sort(searchCpu.begin(), searchCpu.end());
        std::printf("File Search \"*\"%s: %d rows listed in min %.1f ms, median %.1f ms, worst %.1f ms "
                    "(processor: median %.1f ms)\n",
                    allBackups ? " in every backup" : " at the newest date", search.ResultsModel()->rowCount(),
                    searches.front(), searches[searches.size() / 2], searches.back(), searchCpu[searchCpu.size() / 2]);
    }
}
#endif

long MaxRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp/halvex-restore-bench";
    std::filesystem::create_directories(folder);
    const std::string base = folder + "/Bench";
    const std::string last = MakeArchiveFileName(base, kArchives);
    auto start = std::chrono::steady_clock::now();
    if (!std::filesystem::exists(last)) {
        WriteSet(base);
        std::printf("wrote %d archives of %d files in %.0f ms (%s)\n", kArchives, kFiles, Ms(start), folder.c_str());
    }
    std::printf("last archive: %ju bytes\n", static_cast<std::uintmax_t>(std::filesystem::file_size(last)));
    const long rssBefore = MaxRssKb();

    ArchiveSet set;
    std::vector<double> opens;
    for (int run = 0; run < 5; ++run) {
        start = std::chrono::steady_clock::now();
        if (!set.OpenSet(last)) {
            std::printf("OpenSet failed\n");
            return 1;
        }
        opens.push_back(Ms(start));
    }
    std::sort(opens.begin(), opens.end());
    std::printf("OpenSet (%d archives, %d files): min %.1f ms, median %.1f ms\n", set.ArchiveCount(), kFiles,
                opens.front(), opens[opens.size() / 2]);

    std::printf("SelectDate (ms):");
    double worst = 0, total = 0;
    for (int round = 0; round < 2; ++round) {
        for (int i = set.DateCount() - 1; i >= 0; --i) {
            start = std::chrono::steady_clock::now();
            set.SelectDate(i);
            const double ms = Ms(start);
            if (round == 1) std::printf(" %.1f", ms);
            worst = std::max(worst, ms);
            total += ms;
        }
    }
    std::printf("\nSelectDate: mean %.1f ms, worst %.1f ms over %d switches\n", total / (2 * set.DateCount()), worst,
                2 * set.DateCount());

    int hits = 0;
    start = std::chrono::steady_clock::now();
    set.Search("*", nullptr, false, [](void* n, const FileTreeFile*, const char*, void*) {
                   ++*static_cast<int*>(n);
                   return SearchStep::GoOn;
               },
               &hits);
    std::printf("Search \"*\" at the oldest date: %d files in %.1f ms\n", hits, Ms(start));
    std::printf("memory: max resident %ld KB (%ld KB before opening)\n", MaxRssKb(), rssBefore);

#ifdef HALVEX_WITH_GUI
    set.Clear();
    TimeWindowOpen(argc, argv, last);
    TimePages(argc, argv, folder, last);
#endif
    return 0;
}
