// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_limits.h"

namespace halvex {

const char* ZipRefusalText(ZipRefusal refusal) {
    switch (refusal) {
        case ZipRefusal::None: return "none";
        case ZipRefusal::TooManyEntries: return "too many entries";
        case ZipRefusal::EntryTooLarge: return "entry too large";
        case ZipRefusal::ArchiveTooLarge: return "archive too large";
    }
    return "unknown";
}

}  // namespace halvex
