// SPDX-License-Identifier: GPL-3.0-or-later
// The restore window with one set open, for its peak memory (bench/scale_bench.sh runs it under
// /usr/bin/time -v): opens the archive, shows the File Browser, goes into the first target and
// its first folder, prints how many tree items exist, and quits. With --expand-all every folder
// of the tree is expanded as well (an item for each), for the cost of a tree made whole.
// usage: window_open_bench ARCHIVE [--expand-all]
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef HALVEX_WITH_GUI
#include <QApplication>
#include <QTabBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "restore/ui/browser_list_model.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/restore_main_window.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_open_bench ARCHIVE [--expand-all]\n");
        return 2;
    }
    const std::string archive = argv[1];
    const bool expandAll = argc > 2 && std::string(argv[2]) == "--expand-all";
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    halvex::RestoreMainWindow window;
    window.show();
    if (!window.ShowSet(archive)) {
        std::fprintf(stderr, "window: %s did not open\n", archive.c_str());
        return 1;
    }
    window.Tabs()->setCurrentIndex(halvex::RestoreMainWindow::kFileBrowserPage);
    auto* page = dynamic_cast<halvex::FileBrowserPage*>(window.Page(halvex::RestoreMainWindow::kFileBrowserPage));
    if (page == nullptr) return 1;
    QApplication::processEvents();
    // Into the first target, then its first folder row, painted each time.
    for (int step = 0; step < 2; ++step) {
        const halvex::BrowserListModel& model = *page->ListModel();
        int row = 0;
        while (row < model.rowCount() && !model.Row(row).HasItem()) ++row;
        if (row < model.rowCount() && model.Row(row).file == nullptr) page->OpenRow(row);
        window.repaint();
        QApplication::processEvents();
    }
    if (expandAll) {
        page->Tree()->expandAll();
        QApplication::processEvents();
    }
    int items = 0;
    for (QTreeWidgetItemIterator it(page->Tree()); *it != nullptr; ++it) ++items;
    std::printf("window: %d tree items, %d rows listed\n", items, page->ListModel()->rowCount());
    return 0;
}
#else
int main() {
    std::fprintf(stderr, "window_open_bench: this build has no windows\n");
    return 2;
}
#endif
