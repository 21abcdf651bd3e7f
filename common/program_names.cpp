// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/program_names.h"

#ifndef HALVEX_VERSION
#error "HALVEX_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace halvex {

std::string VersionText(std::string_view program) { return std::string(program) + " " + HALVEX_VERSION; }

}  // namespace halvex
