// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The example job file written when backup.ini is missing.
#include <string_view>

namespace halvex {

// The embedded text, ended by a Ctrl-Z byte (26); only the bytes before it are written, with
// each "@HOME@" replaced by the user's home folder.
extern const std::string_view kExampleBackupIniText;

}  // namespace halvex
