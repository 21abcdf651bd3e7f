// SPDX-License-Identifier: GPL-3.0-or-later
// Opens an arbitrary byte string as the last archive of a set, then does everything the pages
// do with an open set in memory: selects every date, searches every tree and every backup,
// reads the log, and clears the set. Nothing may crash, read out of bounds or leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "platform/file.h"
#include "restore/archive_set.h"
#include "tests/fuzz/fuzz_scratch.h"

using namespace halvex;

namespace {

int CountHit(void* userData, const FileTreeFile* file, const char* folderPath, void*) {
    // Touch what the callback receives, as a page would.
    *static_cast<std::size_t*>(userData) += std::char_traits<char>::length(file->name) +
                                            std::char_traits<char>::length(folderPath);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::ScratchFolder() + "/Set3.TQBak";
    fuzz::WriteBytes(path, data, size);
    static ArchiveSet set;  // the program has one for its whole life
    if (!set.OpenSet(path)) return 0;
    std::size_t touched = 0;
    for (int i = 0; i < set.DateCount(); ++i) {
        set.SelectDate(i);
        for (int t = 0; t < set.TargetCount(); ++t) {
            if (const FileTreeNode* tree = set.GetTargetTree(t)) touched += tree->totalSize & 1;
        }
        set.Search("*", nullptr, false, &CountHit, &touched);
    }
    set.Search("*", "*\\*", true, &CountHit, &touched);
    set.RetrieveLog(-1);
    set.Clear();
    static volatile std::size_t sink;
    sink = touched;
    (void)sink;
    return 0;
}
