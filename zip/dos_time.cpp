// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/dos_time.h"

#include <algorithm>

namespace halvex {

DosDateTime SystemTimeToDos(const platform::SystemTime& local) {
    int yearBits = std::clamp(static_cast<int>(local.year) - 1980, 0, 127);
    DosDateTime dos;
    dos.date = static_cast<std::uint16_t>(yearBits * 512 + (local.month & 0x0F) * 32 + (local.day & 0x1F));
    dos.time = static_cast<std::uint16_t>((local.hour & 0x1F) * 2048 + (local.minute & 0x3F) * 32 +
                                          (local.second & 0x3F) / 2);
    return dos;
}

platform::SystemTime DosToSystemTime(DosDateTime dos) {
    platform::SystemTime st;
    st.year = static_cast<std::uint16_t>(1980 + (dos.date >> 9));
    st.month = static_cast<std::uint16_t>((dos.date >> 5) & 0x0F);
    st.day = static_cast<std::uint16_t>(dos.date & 0x1F);
    st.hour = static_cast<std::uint16_t>(dos.time >> 11);
    st.minute = static_cast<std::uint16_t>((dos.time >> 5) & 0x3F);
    st.second = static_cast<std::uint16_t>((dos.time & 0x1F) * 2);
    return st;
}

DosDateTime FileTimeToDos(platform::FileTime fileTime) {
    return SystemTimeToDos(platform::FileTimeToLocal(fileTime));
}

platform::FileTime DosToFileTime(DosDateTime dos) {
    return platform::LocalToFileTime(DosToSystemTime(dos));
}

}  // namespace halvex
