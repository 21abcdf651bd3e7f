#include "common/archive_naming.h"

namespace halvex {

std::string MakeArchiveFileName(std::string_view base, int number) {
    std::string name(base);
    if (number >= 2) name += std::to_string(number);
    name += kArchiveExtension;
    return name;
}

}  // namespace halvex
