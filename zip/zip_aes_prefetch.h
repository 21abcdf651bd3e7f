// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keys for the AES entries a reader is about to open, derived ahead on a thread of its own:
// the key derivation costs more than restoring a small file, and a reader going through an
// archive in order need not wait for it. The thread reads the salts through a descriptor of
// its own; a reader takes keys only when they were derived from the very salt it read.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zip/zip_aes.h"

namespace halvex {

class AesKeyPrefetcher {
public:
    // An entry to derive for: its index, the file position of its local header, its strength.
    struct Job {
        int index = 0;
        std::uint64_t localHeader = 0;
        std::uint8_t strength = 3;
    };
    static constexpr std::size_t kAhead = 32;

    // Derives with `password` for the single-file archive at `path` (nothing when it cannot
    // be opened).
    AesKeyPrefetcher(const std::string& path, std::string password);
    ~AesKeyPrefetcher();
    AesKeyPrefetcher(const AesKeyPrefetcher&) = delete;
    AesKeyPrefetcher& operator=(const AesKeyPrefetcher&) = delete;

    const std::string& Password() const;
    // The entries wanted next, nearest first; replaces those not yet begun. Entries already
    // taken are passed over.
    void Want(const std::vector<Job>& jobs);
    // The keys of entry `index` derived from `salt` (waiting when they are being derived);
    // nothing when they were not derived, or from another salt.
    std::optional<AesKeys> Take(int index, std::span<const unsigned char> salt);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace halvex
