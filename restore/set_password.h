// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The password of an encrypted set: where it comes from, and checking it against every
// encrypted archive of the set before anything is read or written.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace halvex {

// Whether the archive at `path` holds AES-encrypted entries (false when it cannot be read:
// opening it reports that).
bool ArchiveIsEncrypted(const std::string& path);

// The archive among `paths` that the password does not open ("wrong password for ..."), or
// nothing when it opens every encrypted one. Archives that cannot be read are passed over.
std::optional<std::string> ArchiveRefusingPassword(const std::vector<std::string>& paths, const std::string& password);

// The password: from `passwordFile` when given, else from the file HALVEX_PASSWORD_FILE names,
// else from `ask` (a prompt; none when it cannot ask). `error` is set when a file is named but
// cannot be read.
std::optional<std::string> FindSetPassword(const std::optional<std::string>& passwordFile,
                                           const std::function<std::optional<std::string>()>& ask, std::string& error);

// What the programs do before reading `archives` of a set: once one of them is encrypted and
// no password is known, finds one (FindSetPassword, `ask` naming the first archive) and makes it
// every archive object's read password; then checks it against each of them. False after
// `tell` has said why: no password, a password file that cannot be read, or "wrong password
// for ARCHIVE".
bool TakeSetPassword(const std::vector<std::string>& archives, const std::optional<std::string>& passwordFile,
                     std::optional<std::string>& password,
                     const std::function<std::optional<std::string>(const std::string& archive)>& ask,
                     const std::function<void(const std::string& message)>& tell);

// Reads a line from the terminal with echo off, after `prompt`; nothing without a terminal.
std::optional<std::string> AskPasswordOnTerminal(const std::string& prompt);

}  // namespace halvex
