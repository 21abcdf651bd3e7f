// SPDX-License-Identifier: GPL-3.0-or-later
// AES-encrypted entries: the password, and what reading one needs before its data.
#include <algorithm>
#include <array>
#include <mutex>

#include "zip/zip_archive_file.h"

namespace halvex {
namespace {

// The AES fields of an entry that is AES-encrypted; nothing for any other entry.
std::optional<AesExtra> AesFieldsOf(const ZipEntryHeader& entry) {
    if (!entry.IsEncrypted() || entry.method != kAesMethod) return std::nullopt;
    return FindAesExtra(entry.extraField);
}

std::mutex readPasswordLock;
std::string& ProcessReadPassword() {
    static std::string password;
    return password;
}

}  // namespace

void ZipArchiveFile::SetPassword(std::string password) {
    if (password != password_) cipherMaker_.reset();
    password_ = std::move(password);
}

void ZipArchiveFile::SetReadPassword(std::string password) {
    std::lock_guard lock(readPasswordLock);
    ProcessReadPassword() = std::move(password);
}

std::string ZipArchiveFile::PasswordForReading() const {
    if (!password_.empty()) return password_;
    std::lock_guard lock(readPasswordLock);
    return ProcessReadPassword();
}

bool ZipArchiveFile::IsAesEntry(int index) const {
    if (IsClosed(true) || index < 0 || static_cast<std::size_t>(index) >= catalog_.Count()) return false;
    return AesFieldsOf(catalog_.Header(index)).has_value();
}

bool ZipArchiveFile::HasAesEntries() const {
    if (!IsClosed(true) && catalog_.SkippedAesEntries()) return true;
    for (std::size_t i = 0; i < catalog_.Count(); ++i)
        if (IsAesEntry(static_cast<int>(i))) return true;
    return false;
}

std::optional<bool> ZipArchiveFile::CheckPassword(int index) {
    if (!IsAesEntry(index) || entryState_ != EntryState::None) return std::nullopt;
    if (PasswordForReading().empty()) return false;
    try {
        if (!OpenEntry(index)) return std::nullopt;
    } catch (const CZipException& error) {
        if (error.code == kZipBadPassword) return false;
        throw;
    }
    AbandonEntry();
    return true;
}

void ZipArchiveFile::StartAesRead(int index, const ZipEntryHeader& entry, const AesExtra& fields) {
    const std::string password = PasswordForReading();
    if (password.empty()) RaiseZipError(kZipNoPassword, storage_.Path());
    const std::size_t saltLength = AesSaltLength(fields.strength);
    if (entry.compressedSize < AesOverhead(fields.strength) || (fields.method != 0 && fields.method != 8))
        RaiseZipError(kZipDamaged, storage_.Path());
    std::array<unsigned char, 16 + kAesVerifierLength> head{};
    storage_.Read(head.data(), saltLength + kAesVerifierLength, false);
    const std::span salt(head.data(), saltLength);
    if (keyPrefetcher_ && keyPrefetcher_->Password() != password) keyPrefetcher_.reset();
    std::optional<AesKeys> keys;
    if (keyPrefetcher_) keys = keyPrefetcher_->Take(index, salt);
    if (!keys || keys->strength != fields.strength) keys = DeriveAesKeys(password, salt, fields.strength);
    aes_ = std::make_unique<AesEntryCipher>(*keys);
    PrefetchAesKeysAfter(index, password);
    if (!std::equal(aes_->Verifier().begin(), aes_->Verifier().end(), head.data() + saltLength))
        RaiseZipError(kZipBadPassword, storage_.Path());
    bytesToRead_ = entry.compressedSize - AesOverhead(fields.strength);
    dataMethod_ = fields.method;
    // Version 1 keeps the CRC; version 2 writes 0 there and leaves the guarding to the code.
    aesCrc_ = fields.version == 1;
}

void ZipArchiveFile::PrefetchAesKeysAfter(int index, const std::string& password) {
    // One entry read (a password check) is no reason for a thread; a single file is read
    // through a descriptor of its own, volumes are not.
    if (!keyPrefetch_) return;
    if (!keyPrefetcher_) {
        if (!aesEntryRead_ || storage_.IsMultiVolume() != 0) {
            aesEntryRead_ = true;
            return;
        }
        keyPrefetcher_ = std::make_unique<AesKeyPrefetcher>(storage_.ArchivePath(), password);
    }
    // A folder's files lie together in an archive but are not read in the same order: the
    // entries on both sides of this one are wanted, those after it first.
    std::vector<AesKeyPrefetcher::Job> jobs;
    const auto add = [&](int at) {
        const ZipEntryHeader& header = catalog_.Header(at);
        if (const std::optional<AesExtra> fields = AesFieldsOf(header))
            jobs.push_back({at, header.localHeaderOffset + catalog_.BytesBeforeArchive(), fields->strength});
    };
    const int ahead = static_cast<int>(AesKeyPrefetcher::kAhead);
    const int count = static_cast<int>(catalog_.Count());
    for (int at = index + 1; at < count && at <= index + 2 * ahead; ++at) add(at);
    for (int at = index - 1; at >= 0 && at >= index - ahead; --at) add(at);
    keyPrefetcher_->Want(jobs);
}

}  // namespace halvex
