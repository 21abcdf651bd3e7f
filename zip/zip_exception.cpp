// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_exception.h"

namespace halvex {

void RaiseZipError(int code, const std::string& path) { throw CZipException(code, path); }

void RaiseZlibError(int zlibResult, const std::string& path) {
    // Z_ERRNO (-1) .. Z_VERSION_ERROR (-6) map to 4 .. 9; zlib has no other negative results,
    // but an unexpected one is still a stream failure rather than success.
    int code = (zlibResult <= -1 && zlibResult >= -6) ? 3 - zlibResult : kZipZlibStreamError;
    RaiseZipError(code, path);
}

}  // namespace halvex
