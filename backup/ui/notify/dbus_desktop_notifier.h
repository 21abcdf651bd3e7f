// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// DesktopNotifier through the freedesktop Notifications service on the session bus.
#include "backup/run_notification.h"

namespace halvex {

class DbusDesktopNotifier : public DesktopNotifier {
public:
    // Sends one Notify call (app "Halvex Backup", the program's icon) and waits at most a few
    // seconds for its answer. Nothing is tried without a session bus address, so no bus is
    // ever started for it.
    bool Send(const DesktopNotice& notice) override;
};

}  // namespace halvex
