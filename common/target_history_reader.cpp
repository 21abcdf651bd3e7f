// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/target_history_reader.h"

#include <cstring>

namespace halvex {
namespace {

constexpr std::size_t kRunTimeSize = 8;
constexpr int kRemovedPart = 0;
constexpr int kAddedPart = 1;

std::uint64_t ReadLittleEndian64(const unsigned char* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

}  // namespace

TargetHistoryReader::TargetHistoryReader(const unsigned char* data, std::size_t size, bool checkFirstRemovedFlag)
    : cursor_(data), end_(data + size), checkFirstRemovedFlag_(checkFirstRemovedFlag) {
    if (size == 0) return;
    const void* zero = std::memchr(data, 0, size);
    if (zero == nullptr) return;
    const auto* terminator = static_cast<const unsigned char*>(zero);
    sourceFolder_ = std::string_view(reinterpret_cast<const char*>(data), static_cast<std::size_t>(terminator - data));
    cursor_ = terminator + 1;
    valid_ = true;
}

template <class ReadTree>
TargetHistoryReader::Step TargetHistoryReader::Read(std::uint64_t& runTime, ReadTree&& readTree) {
    if (!valid_) return Step::Damaged;
    if (cursor_ == end_) return Step::End;

    // A tree part: flag byte, then the tree when the flag is 1.
    auto readPart = [&](int part) {
        if (cursor_ == end_) return false;
        const unsigned char flag = *cursor_++;
        if (flag == 0) return true;
        if (flag != 1) return false;
        return readTree(part);
    };

    bool ok = static_cast<std::size_t>(end_ - cursor_) >= kRunTimeSize + 1;
    if (ok) {
        runTime = ReadLittleEndian64(cursor_);
        cursor_ += kRunTimeSize;
        if (first_) {
            // The first record never has a removed tree.
            ok = !checkFirstRemovedFlag_ || *cursor_ == 0;
            ++cursor_;
        } else {
            ok = readPart(kRemovedPart);
        }
    }
    ok = ok && readPart(kAddedPart);
    first_ = false;
    if (!ok) {
        valid_ = false;
        return Step::Damaged;
    }
    return Step::Record;
}

TargetHistoryReader::Step TargetHistoryReader::Next(BackupRecord& record, std::uint16_t archiveNumber) {
    record = BackupRecord{};
    const Step step = Read(record.runTime, [&](int part) {
        bool ok = false;
        (part == kRemovedPart ? record.removed : record.added).reset(LoadFileTree(cursor_, end_, archiveNumber, ok));
        return ok;
    });
    if (step == Step::Damaged) record = BackupRecord{};
    return step;
}

TargetHistoryReader::Step TargetHistoryReader::Skip(SkippedRecord& record, FileTreeNameCheck check) {
    record = SkippedRecord{};
    const Step step = Read(record.runTime, [&](int part) {
        return SkipFileTree(cursor_, end_, check, part == kRemovedPart ? record.removed : record.added);
    });
    if (step == Step::Damaged) record = SkippedRecord{};
    return step;
}

}  // namespace halvex
