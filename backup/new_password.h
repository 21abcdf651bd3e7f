// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `halvex-backup --new-password PATH`: a random password for encrypted jobs, in a file of
// the user's own.
#include <string>

namespace halvex {

// 160 random bits in base32 (A-Z, 2-7), in eight groups of four joined by '-': a person can
// read it off paper and type it.
std::string MakeRandomPassword();

// Writes a new random password as the one line of a new file at `path` (mode 600; an
// existing file is never replaced). Empty, or the error as a sentence.
std::string WriteNewPasswordFile(const std::string& path);

// The command: writes the file, says where it is and what to do with it. Exit status 0 or 2.
int RunNewPassword(const std::string& path);

}  // namespace halvex
