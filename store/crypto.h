// The one small interface to the platform's cryptography: CNG on Windows, OpenSSL libcrypto else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ob::crypto {

inline constexpr std::size_t kAesKeySize = 32;
inline constexpr std::size_t kGcmNonceSize = 12;
inline constexpr std::size_t kGcmTagSize = 16;
inline constexpr std::size_t kSha256Size = 32;

// Fills out with bytes from the operating system's cryptographic generator.
bool RandomBytes(std::span<std::uint8_t> out) noexcept;

// PBKDF2-HMAC-SHA256 of password and salt with the given iteration count into out.
bool Pbkdf2Sha256(std::string_view password, std::span<const std::uint8_t> salt,
                  std::uint32_t iterations, std::span<std::uint8_t> out) noexcept;

// AES-256-GCM. Seal writes plaintext.size() bytes of cipher text to out and the tag to tag.
bool AesGcmSeal(std::span<const std::uint8_t, kAesKeySize> key,
                std::span<const std::uint8_t, kGcmNonceSize> nonce,
                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                std::span<std::uint8_t> out, std::span<std::uint8_t, kGcmTagSize> tag) noexcept;
// Open verifies the tag before it reports success; on failure out holds nothing usable (wiped).
bool AesGcmOpen(std::span<const std::uint8_t, kAesKeySize> key,
                std::span<const std::uint8_t, kGcmNonceSize> nonce,
                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
                std::span<const std::uint8_t, kGcmTagSize> tag,
                std::span<std::uint8_t> out) noexcept;

// SHA-256 of data.
bool Sha256(std::span<const std::uint8_t> data, std::span<std::uint8_t, kSha256Size> out) noexcept;

}  // namespace ob::crypto
