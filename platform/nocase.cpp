// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/nocase.h"

namespace halvex::platform {

int CompareNoCase(std::string_view a, std::string_view b) {
    std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(ToUpperAscii(a[i]));
        auto cb = static_cast<unsigned char>(ToUpperAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

void UpperCaseInPlace(std::string& text) {
    for (char& c : text) c = ToUpperAscii(c);
}

void UpperCaseInPlace(char* text) {
    for (; *text != '\0'; ++text) *text = ToUpperAscii(*text);
}

std::string UpperCased(std::string_view text) {
    std::string out(text);
    UpperCaseInPlace(out);
    return out;
}

}  // namespace halvex::platform
