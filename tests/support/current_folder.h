// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeping tests from leaving the current folder changed behind them.
#include <string>

#include "platform/process.h"

namespace halvex::test {

// Saves the current folder and goes back to it when the scope ends (opening a set moves there).
class KeepCurrentFolder {
public:
    KeepCurrentFolder() : saved_(platform::CurrentFolder()) {}
    ~KeepCurrentFolder() { platform::SetCurrentFolder(saved_); }
    KeepCurrentFolder(const KeepCurrentFolder&) = delete;
    KeepCurrentFolder& operator=(const KeepCurrentFolder&) = delete;

private:
    std::string saved_;
};

// Moves a test into a folder and back to where it was when the scope ends.
class InFolder {
public:
    explicit InFolder(const std::string& folder) : saved_(platform::CurrentFolder()) {
        entered_ = platform::SetCurrentFolder(folder);
    }
    ~InFolder() { platform::SetCurrentFolder(saved_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

    bool entered() const { return entered_; }

private:
    std::string saved_;
    bool entered_ = false;
};

}  // namespace halvex::test
