// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing the example job file for a user who has none yet.
#include <string>

#include "backup/job_config.h"

namespace halvex {

// The example's text with its folders under `home` (no trailing '/').
std::string ExampleJobFileText(const std::string& home);

// Creates the example job file at path, its folders under `home` ("": the user's home
// folder). Never replaces an existing file (or link): false then, and also when the file
// cannot be written whole, in which case none is left behind.
bool WriteExampleJobFile(const std::string& path = kJobFileName, const std::string& home = {});

}  // namespace halvex
