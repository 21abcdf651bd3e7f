// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/restore_pages.h"

#include "restore/ui/easy_restore_page.h"
#include "restore/ui/file_browser_page.h"
#include "restore/ui/search_log_page.h"

namespace halvex {

RestorePage* CreateEasyRestorePage(const RestorePageContext& context, QWidget* parent) {
    return new EasyRestorePage(context, parent);
}

RestorePage* CreateFileBrowserPage(const RestorePageContext& context, QWidget* parent) {
    return new FileBrowserPage(context, parent);
}

RestorePage* CreateSearchLogPage(const RestorePageContext& context, QWidget* parent) {
    return new SearchLogPage(context, parent);
}

}  // namespace halvex
