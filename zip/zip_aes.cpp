// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_aes.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include "zip/zip_bytes.h"

namespace halvex {
namespace {

constexpr std::size_t kAesExtraDataSize = 7;

[[noreturn]] void CryptoFailure(const char* what) {
    throw std::runtime_error(std::string("the cryptographic library failed to ") + what);
}

const EVP_CIPHER* CipherFor(std::uint8_t strength) {
    switch (strength) {
        case 1: return EVP_aes_128_ecb();
        case 2: return EVP_aes_192_ecb();
        default: return EVP_aes_256_ecb();
    }
}

}  // namespace

std::optional<AesExtra> FindAesExtra(std::string_view extra) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(extra.data()) + at;
        const std::uint16_t id = GetLe16(p);
        const std::size_t size = GetLe16(p + 2);
        if (at + 4 + size > extra.size()) return std::nullopt;
        if (id == kAesExtraId) {
            if (size != kAesExtraDataSize || p[6] != 'A' || p[7] != 'E') return std::nullopt;
            AesExtra fields;
            fields.version = GetLe16(p + 4);
            fields.strength = p[8];
            fields.method = GetLe16(p + 9);
            if (fields.version < 1 || fields.version > 2 || fields.strength < 1 || fields.strength > 3)
                return std::nullopt;
            return fields;
        }
        at += 4 + size;
    }
    return std::nullopt;
}

std::string BuildAesExtra(const AesExtra& fields) {
    std::string block;
    PutLe16(block, kAesExtraId);
    PutLe16(block, static_cast<std::uint16_t>(kAesExtraDataSize));
    PutLe16(block, fields.version);
    block += "AE";
    block += static_cast<char>(fields.strength);
    PutLe16(block, fields.method);
    return block;
}

std::string AesExtraBlockOf(std::string_view extra) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(extra.data()) + at;
        const std::size_t size = GetLe16(p + 2);
        if (at + 4 + size > extra.size()) break;
        if (GetLe16(p) == kAesExtraId) return std::string(extra.substr(at, 4 + size));
        at += 4 + size;
    }
    return {};
}

std::string WithoutAesExtra(std::string_view extra) {
    std::string kept;
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(extra.data()) + at;
        const std::size_t size = GetLe16(p + 2);
        if (at + 4 + size > extra.size()) break;
        if (GetLe16(p) != kAesExtraId) kept += extra.substr(at, 4 + size);
        at += 4 + size;
    }
    kept += extra.substr(std::min(at, extra.size()));  // a block that runs past the end stays as it is
    return kept;
}

void Pbkdf2Sha1(std::string_view password, std::span<const unsigned char> salt, int iterations,
                std::span<unsigned char> out) {
    if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt.data(),
                               static_cast<int>(salt.size()), iterations, static_cast<int>(out.size()),
                               out.data()) != 1)
        CryptoFailure("derive a key");
}

void RandomBytes(std::span<unsigned char> out) {
    if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) CryptoFailure("give random bytes");
}

struct AesEntryCipher::Contexts {
    EVP_CIPHER_CTX* cipher = nullptr;
    EVP_MAC_CTX* mac = nullptr;
    ~Contexts() {
        EVP_CIPHER_CTX_free(cipher);
        EVP_MAC_CTX_free(mac);
    }
};

AesKeys::~AesKeys() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

AesKeys DeriveAesKeys(std::string_view password, std::span<const unsigned char> salt, std::uint8_t strength) {
    if (strength < 1 || strength > 3) throw std::invalid_argument("AES strength");
    AesKeys keys;
    keys.strength = strength;
    const std::size_t keyLength = 8 + 8 * std::size_t{strength};
    Pbkdf2Sha1(password, salt, kAesIterations, std::span(keys.bytes.data(), 2 * keyLength + kAesVerifierLength));
    return keys;
}

AesEntryCipher::AesEntryCipher(std::string_view password, std::span<const unsigned char> salt,
                               std::uint8_t strength)
    : AesEntryCipher(DeriveAesKeys(password, salt, strength)) {}

AesEntryCipher::AesEntryCipher(const AesKeys& derived) : contexts_(std::make_unique<Contexts>()) {
    const std::uint8_t strength = derived.strength;
    if (strength < 1 || strength > 3) throw std::invalid_argument("AES strength");
    const std::size_t keyLength = 8 + 8 * std::size_t{strength};
    const unsigned char* const keys = derived.bytes.data();
    std::copy_n(keys + 2 * keyLength, kAesVerifierLength, verifier_.begin());

    contexts_->cipher = EVP_CIPHER_CTX_new();
    if (contexts_->cipher == nullptr) throw std::bad_alloc();
    if (EVP_EncryptInit_ex(contexts_->cipher, CipherFor(strength), nullptr, keys, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(contexts_->cipher, 0) != 1)
        CryptoFailure("set up AES");

    // One fetch for the life of the program: fetching is far slower than an entry's work.
    static EVP_MAC* const hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (hmac == nullptr) CryptoFailure("provide HMAC");
    contexts_->mac = EVP_MAC_CTX_new(hmac);
    if (contexts_->mac == nullptr) throw std::bad_alloc();
    char digest[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(contexts_->mac, keys + keyLength, keyLength, params) != 1) CryptoFailure("set up HMAC");
}

AesEntryCipher::~AesEntryCipher() { OPENSSL_cleanse(keystream_.data(), keystream_.size()); }

void AesEntryCipher::RefillKeystream() {
    // Counter blocks: the block number little-endian in the first 8 bytes, the rest zero.
    for (std::size_t b = 0; b < kKeystreamBlocks; ++b) {
        unsigned char* block = keystream_.data() + 16 * b;
        SetLe64(block, ++counter_);
        std::fill_n(block + 8, 8, 0);
    }
    int produced = 0;
    if (EVP_EncryptUpdate(contexts_->cipher, keystream_.data(), &produced, keystream_.data(),
                          static_cast<int>(keystream_.size())) != 1 ||
        static_cast<std::size_t>(produced) != keystream_.size())
        CryptoFailure("encrypt");
    keystreamUsed_ = 0;
}

void AesEntryCipher::ApplyKeystream(unsigned char* data, std::size_t count) {
    while (count > 0) {
        if (keystreamUsed_ == keystream_.size()) RefillKeystream();
        const std::size_t n = std::min(count, keystream_.size() - keystreamUsed_);
        const unsigned char* key = keystream_.data() + keystreamUsed_;
        for (std::size_t i = 0; i < n; ++i) data[i] ^= key[i];
        keystreamUsed_ += n;
        data += n;
        count -= n;
    }
}

void AesEntryCipher::UpdateMac(const unsigned char* data, std::size_t count) {
    if (count > 0 && EVP_MAC_update(contexts_->mac, data, count) != 1) CryptoFailure("compute HMAC");
}

void AesEntryCipher::Encrypt(unsigned char* data, std::size_t count) {
    ApplyKeystream(data, count);
    UpdateMac(data, count);
}

void AesEntryCipher::Decrypt(unsigned char* data, std::size_t count) {
    UpdateMac(data, count);
    ApplyKeystream(data, count);
}

std::array<unsigned char, kAesMacLength> AesEntryCipher::FinishMac() {
    unsigned char full[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (EVP_MAC_final(contexts_->mac, full, &length, sizeof full) != 1 || length < kAesMacLength)
        CryptoFailure("compute HMAC");
    std::array<unsigned char, kAesMacLength> mac{};
    std::copy_n(full, kAesMacLength, mac.begin());
    return mac;
}

}  // namespace halvex

namespace halvex {

namespace {

AesCipherMaker::Made MakeCipher(const std::string& password) {
    AesCipherMaker::Made made;
    RandomBytes(made.salt);
    made.cipher = std::make_unique<AesEntryCipher>(password, made.salt, 3);
    return made;
}

}  // namespace

AesCipherMaker::Made MakeNewAesCipher(const std::string& password) { return MakeCipher(password); }

struct AesCipherMaker::State {
    static constexpr std::size_t kAhead = 64;
    std::string password;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Made> ready;
    bool stop = false;
    bool failed = false;
    std::thread thread;

    void Run() {
        std::unique_lock guard(lock);
        while (!stop) {
            if (ready.size() >= kAhead) {
                changed.wait(guard);
                continue;
            }
            guard.unlock();
            Made made;
            try {
                made = MakeCipher(password);
            } catch (...) {
                guard.lock();
                failed = true;  // Take makes its own and reports the failure there
                changed.notify_all();
                return;
            }
            guard.lock();
            ready.push_back(std::move(made));
            changed.notify_all();
        }
    }
};

AesCipherMaker::AesCipherMaker(std::string password) : state_(std::make_unique<State>()) {
    state_->password = std::move(password);
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

AesCipherMaker::~AesCipherMaker() {
    {
        std::lock_guard guard(state_->lock);
        state_->stop = true;
    }
    state_->changed.notify_all();
    state_->thread.join();
    OPENSSL_cleanse(state_->password.data(), state_->password.size());
}

AesCipherMaker::Made AesCipherMaker::Take() {
    {
        std::unique_lock guard(state_->lock);
        state_->changed.wait(guard, [&] { return !state_->ready.empty() || state_->failed; });
        if (!state_->ready.empty()) {
            Made made = std::move(state_->ready.front());
            state_->ready.pop_front();
            state_->changed.notify_all();
            return made;
        }
    }
    return MakeCipher(state_->password);
}

}  // namespace halvex
