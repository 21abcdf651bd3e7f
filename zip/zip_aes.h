// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Entries encrypted with AES in the format zip tools share for it: method 99, an extra block
// 0x9901 naming the real method and the key size, then per entry a random salt, a 2-byte
// password verifier, the data encrypted in counter mode (little-endian block counter from 1)
// and a 10-byte HMAC-SHA1 of the encrypted data. Keys come from PBKDF2-HMAC-SHA1 over the
// password and the salt with 1,000 iterations. All cryptography is OpenSSL's libcrypto.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace halvex {

inline constexpr std::uint16_t kAesMethod = 99;
inline constexpr std::uint16_t kAesExtraId = 0x9901;
inline constexpr std::uint16_t kAesVersionNeeded = 51;
inline constexpr std::size_t kAesVerifierLength = 2;
inline constexpr std::size_t kAesMacLength = 10;
inline constexpr int kAesIterations = 1000;

// The fields of the 0x9901 block.
struct AesExtra {
    std::uint16_t version = 2;  // 1: the CRC is kept and checked; 2: CRC 0, only the HMAC counts
    std::uint8_t strength = 3;  // 1, 2, 3: AES-128, -192, -256
    std::uint16_t method = 8;   // the data's real method
};

// The 0x9901 block of an extra field; nothing when it is missing or malformed (wrong size,
// vendor or strength).
std::optional<AesExtra> FindAesExtra(std::string_view extra);
// The whole block (header included) for `fields`.
std::string BuildAesExtra(const AesExtra& fields);
// Just the 0x9901 block of `extra` (empty when it has none).
std::string AesExtraBlockOf(std::string_view extra);
// `extra` without its 0x9901 blocks.
std::string WithoutAesExtra(std::string_view extra);
// Salt length for a strength: 8, 12 or 16 bytes.
inline std::size_t AesSaltLength(std::uint8_t strength) { return 4 + 4 * std::size_t{strength}; }
// Bytes an encrypted entry adds to its data: salt, verifier and HMAC.
inline std::size_t AesOverhead(std::uint8_t strength) {
    return AesSaltLength(strength) + kAesVerifierLength + kAesMacLength;
}

// PBKDF2-HMAC-SHA1 into `out` (its whole length).
void Pbkdf2Sha1(std::string_view password, std::span<const unsigned char> salt, int iterations,
                std::span<unsigned char> out);
// Random bytes from the system's generator; throws when it cannot give them.
void RandomBytes(std::span<unsigned char> out);

// The keys PBKDF2 gives for one entry: the AES key, the HMAC key and the verifier, in that
// order (the first 2 * (8 + 8 * strength) + 2 bytes are used). Wiped when destroyed.
struct AesKeys {
    std::uint8_t strength = 3;
    std::array<unsigned char, 2 * 32 + kAesVerifierLength> bytes{};
    AesKeys() = default;
    AesKeys(const AesKeys&) = default;
    AesKeys& operator=(const AesKeys&) = default;
    ~AesKeys();
};
AesKeys DeriveAesKeys(std::string_view password, std::span<const unsigned char> salt, std::uint8_t strength);

// One entry's cipher: keys from the password and the salt, counter mode and the running HMAC.
// Encrypt and Decrypt transform in place and may be called with any lengths in sequence.
class AesEntryCipher {
public:
    AesEntryCipher(std::string_view password, std::span<const unsigned char> salt, std::uint8_t strength);
    explicit AesEntryCipher(const AesKeys& keys);
    ~AesEntryCipher();
    AesEntryCipher(const AesEntryCipher&) = delete;
    AesEntryCipher& operator=(const AesEntryCipher&) = delete;

    const std::array<unsigned char, kAesVerifierLength>& Verifier() const { return verifier_; }
    void Encrypt(unsigned char* data, std::size_t count);
    void Decrypt(unsigned char* data, std::size_t count);
    // The authentication code of everything encrypted or decrypted so far (once).
    std::array<unsigned char, kAesMacLength> FinishMac();

private:
    void ApplyKeystream(unsigned char* data, std::size_t count);
    void RefillKeystream();
    void UpdateMac(const unsigned char* data, std::size_t count);

    struct Contexts;
    std::unique_ptr<Contexts> contexts_;
    std::array<unsigned char, kAesVerifierLength> verifier_{};
    std::uint64_t counter_ = 0;  // the last block number used
    static constexpr std::size_t kKeystreamBlocks = 256;
    std::array<unsigned char, kKeystreamBlocks * 16> keystream_{};
    std::size_t keystreamUsed_ = kKeystreamBlocks * 16;
};

}  // namespace halvex

namespace halvex {

// Ciphers for new AES-256 entries, each with its own random salt, made ahead on a thread of
// their own: the key derivation costs far more than encrypting a small file, and the writer
// need not wait for it.
class AesCipherMaker {
public:
    struct Made {
        std::array<unsigned char, 16> salt{};
        std::unique_ptr<AesEntryCipher> cipher;
    };
    explicit AesCipherMaker(std::string password);
    ~AesCipherMaker();
    AesCipherMaker(const AesCipherMaker&) = delete;
    AesCipherMaker& operator=(const AesCipherMaker&) = delete;

    // The next cipher (made here when the thread has none ready or has stopped).
    Made Take();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One new AES-256 cipher with a fresh random salt, made on the calling thread.
AesCipherMaker::Made MakeNewAesCipher(const std::string& password);

}  // namespace halvex
