// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Password files: the first line of a file the user keeps, the password of encrypted archives.
#include <optional>
#include <string>

namespace halvex {

// Passwords shorter than this are used, with a warning: the archives' key derivation is fast,
// so a short password can be guessed.
inline constexpr std::size_t kStrongPasswordLength = 16;

struct PasswordFileRead {
    std::optional<std::string> password;  // none: `error` tells why
    std::string error;                    // a whole sentence naming the file
    bool weak = false;                    // shorter than kStrongPasswordLength
};

// The first line of the file at `path` (without its line end). With `privateOnly`, a file
// that does not belong to the user or that the group or others may read is refused, as are
// links. An empty first line is refused.
PasswordFileRead ReadPasswordFile(const std::string& path, bool privateOnly);

// The warning for a weak password in `path`, naming the option that makes a strong one.
std::string WeakPasswordWarning(const std::string& path);

}  // namespace halvex
