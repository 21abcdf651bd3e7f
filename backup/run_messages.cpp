// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/run_messages.h"

namespace halvex {

std::string FillIn(std::string_view format, std::initializer_list<std::string_view> values) {
    std::string out;
    auto value = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && value != values.end()) {
            out += *value++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

}  // namespace halvex
