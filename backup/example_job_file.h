// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing the example job file for a user who has none yet.
#include <string>

#include "backup/job_config.h"

namespace halvex {

// Creates the example job file at path. Never replaces an existing file (or link): false
// then, and also when the file cannot be written whole, in which case none is left behind.
bool WriteExampleJobFile(const std::string& path = kJobFileName);

}  // namespace halvex
