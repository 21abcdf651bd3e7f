// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The three pages of the restore window, in tab order. Each factory makes its page as a child
// of `parent`, which owns it.
#include "restore/ui/restore_page.h"

namespace halvex {

RestorePage* CreateEasyRestorePage(const RestorePageContext& context, QWidget* parent);
RestorePage* CreateFileBrowserPage(const RestorePageContext& context, QWidget* parent);
RestorePage* CreateSearchLogPage(const RestorePageContext& context, QWidget* parent);

}  // namespace halvex
