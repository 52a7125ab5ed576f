// The field cipher that every stored account value passes through: XOR with key and salt, hex body,
// and two check codes (content and key) that let a wrong key or damaged text decipher to nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/secure.h"
#include "base/text.h"

namespace ob {

// Standard CRC-32 (ISO-HDLC, as zlib's crc32) of a byte range.
std::uint32_t Crc32(const void* data, std::size_t size) noexcept;

// The check code of a text: |CRC-32 as signed| in decimal with the digits 1-9 mapped to letters.
Text ChecksumCode(std::string_view text);

// Enciphers value under key; the empty text for a value that is empty or holds only blanks.
// Re-seeds the salt generator on every call. User-interface thread only.
Text EncryptField(std::string_view value, std::string_view key);

// Deciphers a cipher text made by EncryptField under the same key; the empty text for blank,
// malformed, wrongly keyed or damaged input. Keeps no state; safe on several threads at once.
SecureString DecryptField(std::string_view cipher_text, std::string_view key);

// The salt generator's lasting state, exposed so tests and cross-build checks can fix it.
struct CipherSeedState {
    std::uint32_t state = 0;        // s
    std::uint32_t accumulator = 0;  // A
};
CipherSeedState GetCipherSeedState() noexcept;
void SetCipherSeedState(CipherSeedState st) noexcept;
// Replaces the millisecond clock that seeds the salt (nullptr restores TickCountMs).
void SetCipherClockForTesting(std::uint32_t (*clock)()) noexcept;

}  // namespace ob
