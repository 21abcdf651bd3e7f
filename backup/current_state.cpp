// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/current_state.h"

#include <algorithm>

#include "common/file_tree_walk.h"
#include "zip/zip_bytes.h"
#include "zip/zlib_stream.h"

namespace halvex {
namespace {

constexpr unsigned char kStateMagic[4] = {'H', 'X', 'S', '1'};
constexpr std::size_t kTagSize = sizeof kStateMagic + 8 + 4 + 8 + 4;

void ReverseFileLists(FileTreeNode* tree) {
    detail::ForEachFolder(tree, [](FileTreeNode* folder) {
        FileTreeFile* reversed = nullptr;
        for (FileTreeFile* file = folder->files; file != nullptr;) {
            FileTreeFile* next = file->next;
            file->next = reversed;
            reversed = file;
            file = next;
        }
        folder->files = reversed;
    });
}

// Appends the serialized form of `state` (nothing for no state), in the order a load gives back.
void AppendSerializedState(std::vector<unsigned char>& out, FileTreeNode* state) {
    if (state == nullptr) return;
    ReverseFileLists(state);
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(FileTreeSerializedSize64(state)));
    unsigned char* cursor = out.data() + start;
    SaveFileTree(state, cursor);
    ReverseFileLists(state);
}

std::vector<unsigned char> StateEntryHeader(const StateTag& tag, std::string_view sourceFolder, std::size_t more) {
    std::vector<unsigned char> out;
    out.reserve(kTagSize + sourceFolder.size() + 1 + more);
    out.assign(std::begin(kStateMagic), std::end(kStateMagic));
    PutLe64(out, tag.historySize);
    PutLe32(out, tag.historyCrc);
    PutLe64(out, tag.deflatedSize);
    PutLe32(out, tag.deflatedCrc);
    out.insert(out.end(), sourceFolder.begin(), sourceFolder.end());
    out.push_back(0);
    return out;
}

// `state`: `before` loaded, with the record in `led` (after its kRecordLead bytes) applied, and
// then `addedApart`, when given, as the record's added tree.
bool ApplyLedRecord(std::span<const unsigned char> before, std::span<unsigned char> led, FileTreePtr& state,
                    FileTreePtr* addedApart = nullptr) {
    if (led.size() < kRecordLead || !LoadState(before, state)) return false;
    // A reader skips the first record's removed part: an empty record goes first.
    std::fill_n(led.begin(), kRecordLead, 0);
    TargetHistoryReader reader(led.data(), led.size());
    BackupRecord skipped, run;
    if (reader.Next(skipped) != TargetHistoryReader::Step::Record ||
        reader.Next(run) != TargetHistoryReader::Step::Record || reader.Next(skipped) != TargetHistoryReader::Step::End)
        return false;
    MergeIndex index;
    if (run.removed) MergeFileTrees(state, run.removed, MergeMode::RemoveConsuming, kPlatformNameCase, &index);
    if (run.added) MergeFileTrees(state, run.added, MergeMode::AddRecord, kPlatformNameCase, &index);
    if (addedApart != nullptr && *addedApart) {
        // In the order a load of its serialized form gives, as a replay has it.
        ReverseFileLists(addedApart->get());
        MergeFileTrees(state, *addedApart, MergeMode::AddRecord, kPlatformNameCase, &index);
    }
    return true;
}

}  // namespace

std::uint32_t Crc32Of(std::span<const unsigned char> bytes) {
    std::uint32_t crc = 0;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = std::min<std::size_t>(bytes.size() - done, 1u << 30);
        crc = static_cast<std::uint32_t>(crc32(crc, bytes.data() + done, static_cast<uInt>(n)));
        done += n;
    }
    return crc;
}

StateTag TagOf(const CompressedHistory& history) {
    return {history.size, history.crc, history.deflated.size(), Crc32Of(history.deflated)};
}

HistoryBytes SerializeState(FileTreeNode* state) {
    HistoryBytes out;
    AppendSerializedState(out, state);
    return out;
}

bool LoadState(std::span<const unsigned char> bytes, FileTreePtr& state) {
    state.reset();
    if (bytes.empty()) return true;
    const unsigned char* cursor = bytes.data();
    const unsigned char* end = cursor + bytes.size();
    bool ok = false;
    state.reset(LoadFileTree(cursor, end, 0, ok));
    if (!ok || cursor != end) {
        state.reset();
        return false;
    }
    return true;
}

std::vector<unsigned char> EncodeStateEntry(const StateTag& tag, std::string_view sourceFolder,
                                            std::span<const unsigned char> serializedState) {
    std::vector<unsigned char> out = StateEntryHeader(tag, sourceFolder, serializedState.size());
    out.insert(out.end(), serializedState.begin(), serializedState.end());
    return out;
}

bool DecodeStateEntry(std::span<const unsigned char> bytes, DecodedState& out) {
    if (bytes.size() < kTagSize + 1 || !std::equal(std::begin(kStateMagic), std::end(kStateMagic), bytes.begin()))
        return false;
    const unsigned char* p = bytes.data() + sizeof kStateMagic;
    out.tag.historySize = GetLe64(p);
    out.tag.historyCrc = GetLe32(p + 8);
    out.tag.deflatedSize = GetLe64(p + 12);
    out.tag.deflatedCrc = GetLe32(p + 20);
    const auto rest = bytes.subspan(kTagSize);
    const auto zero = std::find(rest.begin(), rest.end(), 0);
    if (zero == rest.end()) return false;
    const auto folderSize = static_cast<std::size_t>(zero - rest.begin());
    out.sourceFolder = std::string_view(reinterpret_cast<const char*>(rest.data()), folderSize);
    out.serializedState = rest.subspan(folderSize + 1);
    return true;
}

bool StateAfterRecord(std::span<const unsigned char> before, std::span<const unsigned char> record,
                      HistoryBytes& after) {
    HistoryBytes led(kRecordLead);
    led.insert(led.end(), record.begin(), record.end());
    FileTreePtr state;
    if (!ApplyLedRecord(before, led, state)) return false;
    after = SerializeState(state.get());
    return true;
}

bool StateEntryAfterRecord(const StateTag& tag, std::string_view sourceFolder, std::span<const unsigned char> before,
                           HistoryBytes&& ledRecord, FileTreePtr added, std::vector<unsigned char>& entry) {
    FileTreePtr state;
    HistoryBytes led = std::move(ledRecord);
    if (!ApplyLedRecord(before, led, state, &added)) return false;
    // The trees own their names: the record's bytes go before the state is serialized.
    HistoryBytes().swap(led);
    entry = StateEntryHeader(tag, sourceFolder, static_cast<std::size_t>(FileTreeSerializedSize64(state.get())));
    AppendSerializedState(entry, state.get());
    return true;
}

}  // namespace halvex
