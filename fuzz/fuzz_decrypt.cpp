// libFuzzer target: arbitrary bytes deciphered under an arbitrary key must never fault and must
// give what the plain step-by-step algorithm gives, and every value enciphered under a fuzzed key
// and salt seed must come back byte for byte.
//
// Input: byte 0 chooses the key length (modulo the bytes that follow), then the key, then the
// cipher text. The same cipher-text bytes, with zeros removed (a text never holds one), serve as
// the value of the round trip; the tick count comes from the input too, so every run repeats.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "store/field_cipher.h"

namespace {

std::uint32_t g_tick = 0;
std::uint32_t FuzzClock() {
    return g_tick;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_decrypt: %s\n", what);
    std::abort();
}

// A check code: "0", or up to ten of the digit letters and "0" without a leading "0", or the one
// code with a sign.
bool IsCheckCode(std::string_view s) {
    if (s == "0" || s == "-bAdGdhCfdh") {
        return true;
    }
    return !s.empty() && s.size() <= 10 && s[0] != '0' &&
           s.find_first_not_of("0AbCdEfGhZ") == std::string_view::npos;
}

// The decipher algorithm written out step by step in its plainest form, bit-wise CRC and 1-based
// positions included, to check the table-driven and block-wise code against.
std::uint32_t PlainCrc32(std::string_view s) {
    if (s.empty()) {
        return 0;
    }
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
    }
    return ~c;
}

std::string PlainChecksumCode(std::string_view s) {
    std::int64_t v = static_cast<std::int32_t>(PlainCrc32(s));
    v = v < 0 ? -v : v;
    if (v > INT32_MAX) {
        v = INT32_MIN;
    }
    std::string code = std::to_string(v);
    for (char& c : code) {
        if (c >= '1' && c <= '9') {
            c = "0AbCdEfGhZ"[c - '0'];
        }
    }
    return code;
}

unsigned PlainHexValue(std::size_t i, std::string_view body) {
    if (i > body.size()) {
        return 0;  // the partner of an unpaired last digit
    }
    const char c = body[i - 1];
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    return 0;
}

std::string PlainDecrypt(std::string_view text, std::string_view key) {
    if (ob::TextIsBlank(text)) {
        return {};
    }
    std::vector<std::string> pieces;
    std::string piece;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size()) {
            piece += text[i];
            piece += text[++i];
        } else if (text[i] == 'X') {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += text[i];
        }
    }
    if (!piece.empty()) {
        pieces.push_back(piece);
    }
    if (pieces.size() != 3 || pieces[1] != PlainChecksumCode(key) ||
        pieces[0] != PlainChecksumCode(pieces[2])) {
        return {};
    }
    const std::string salt = pieces[2].substr(0, 4);
    const std::string body = pieces[2].size() > 4 ? pieces[2].substr(4) : std::string();
    std::string out;
    std::size_t kp = 1;
    std::size_t sp = 1;
    for (std::size_t i = 1; i <= body.size(); i += 2) {
        const unsigned v = PlainHexValue(i, body) * 16 + PlainHexValue(i + 1, body);
        const unsigned k = kp <= key.size() ? static_cast<unsigned char>(key[kp - 1]) : 0u;
        const unsigned s = sp <= salt.size() ? static_cast<unsigned char>(salt[sp - 1]) : 0u;
        const unsigned c = (v ^ k ^ s) & 0xFFu;
        if (c != 0) {
            out += static_cast<char>(c);
        }
        if (++kp == key.size()) {
            kp = 1;
        }
        if (++sp == salt.size()) {
            sp = 1;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::size_t key_length = data[0] % size;
    const std::string_view key(bytes + 1, key_length);
    const std::string_view cipher(bytes + 1 + key_length, size - 1 - key_length);

    // Deciphering arbitrary input: no fault, no zero byte, never longer than half the text.
    const ob::SecureString plain = ob::DecryptField(cipher, key);
    if (plain.view() != PlainDecrypt(cipher, key)) {
        Fail("differs from the plain algorithm");
    }
    if (plain.find('\0') != ob::SecureString::npos) {
        Fail("deciphered value holds a zero byte");
    }
    if (plain.size() > (cipher.size() + 1) / 2) {
        Fail("deciphered value longer than its body allows");
    }
    if (!IsCheckCode(ob::ChecksumCode(cipher))) {
        Fail("malformed check code");
    }

    // The same bytes as a third piece with both checks made to match, so that arbitrary salts and
    // bodies (odd lengths, lower case, bytes that are no digits) reach the deciphering loop.
    const ob::Text wrapped =
        ob::ChecksumCode(cipher) + "X" + ob::ChecksumCode(key) + "X" + std::string(cipher);
    const ob::SecureString unwrapped = ob::DecryptField(wrapped, key);
    if (unwrapped.view() != PlainDecrypt(wrapped, key)) {
        Fail("wrapped text differs from the plain algorithm");
    }
    if (unwrapped.find('\0') != ob::SecureString::npos ||
        unwrapped.size() > (cipher.size() + 1) / 2) {
        Fail("deciphered wrapped value malformed");
    }
    if (cipher.find('X') == std::string_view::npos &&
        unwrapped.size() > (cipher.size() > 4 ? (cipher.size() - 4 + 1) / 2 : 0)) {
        // Three pieces and both checks right: one byte per digit pair after the salt at most.
        Fail("too many bytes from the body");
    }

    // Round trip of the same bytes as a value.
    std::string value;
    value.reserve(cipher.size());
    for (char c : cipher) {
        if (c != '\0') {
            value.push_back(c);
        }
    }
    g_tick = ob::Crc32(data, size);
    ob::SetCipherClockForTesting(&FuzzClock);
    ob::SetCipherSeedState({0, static_cast<std::uint32_t>(size * 2654435761u)});
    const ob::Text enciphered = ob::EncryptField(value, key);
    if (ob::TextIsBlank(value)) {
        if (!enciphered.empty()) {
            Fail("blank value gave a cipher text");
        }
        return 0;
    }
    if (enciphered.size() < 6 + 2 * value.size() + 2) {
        Fail("cipher text too short");
    }
    const ob::SecureString back = ob::DecryptField(enciphered, key);
    if (back.view() != value || PlainDecrypt(enciphered, key) != value) {
        Fail("round trip changed the value");
    }
    return 0;
}
