// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ShowProgressWindow: one backup run of the ticked jobs under its modal progress window.
namespace halvex {

class BackupEngine;

// Shows the progress window (without owner), starts the run once the window is up, and
// returns when the run has closed the window and its thread has ended. Needs the
// application object; the window thread answers cancel requests while the window is up.
void ShowProgressWindow(BackupEngine& engine, bool startBrandNew);

}  // namespace halvex
