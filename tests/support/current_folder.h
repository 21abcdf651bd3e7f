#pragma once
// Moves a test into a folder and back to where it was when the scope ends.
#include <string>

#include "platform/process.h"

namespace halvex::test {

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
