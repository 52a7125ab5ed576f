// The field cipher: CRC-32 check codes, the salt generator, and the XOR-with-key-and-salt body
// written as hexadecimal digits. DecryptField is stateless; EncryptField owns the salt state.
#include "store/field_cipher.h"

#include <array>
#include <cstring>
#include <mutex>

#include "base/sys.h"

namespace ob {
namespace {

// ---- CRC-32 (reflected polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF), slicing-by-8.
// The tables are built at compile time, so the same code runs in every build and on every thread
// without initialisation order or locking.

using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int b = 0; b < 8; ++b) {
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
        t[0][i] = c;
    }
    // t[k][i] is the CRC register after byte i followed by k zero bytes.
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
        }
    }
    return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

// Little-endian 32-bit load from any alignment (one plain load on x86-64).
inline std::uint32_t Load32(const unsigned char* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t CrcUpdate(std::uint32_t reg, const unsigned char* p, std::size_t n) noexcept {
    while (n >= 8) {
        const std::uint32_t lo = Load32(p) ^ reg;
        const std::uint32_t hi = Load32(p + 4);
        reg = kCrc[7][lo & 0xFFu] ^ kCrc[6][(lo >> 8) & 0xFFu] ^ kCrc[5][(lo >> 16) & 0xFFu] ^
              kCrc[4][lo >> 24] ^ kCrc[3][hi & 0xFFu] ^ kCrc[2][(hi >> 8) & 0xFFu] ^
              kCrc[1][(hi >> 16) & 0xFFu] ^ kCrc[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0) {
        reg = kCrc[0][(reg ^ *p++) & 0xFFu] ^ (reg >> 8);
    }
    return reg;
}

// ---- Check codes.

constexpr std::size_t kMaxCheckLength = 11;  // "-2147483648"

// A check code held on the stack, so DecryptField can compare without allocating.
struct CheckCode {
    char text[kMaxCheckLength];
    std::size_t length;
    std::string_view view() const noexcept { return {text, length}; }
};

// Replaces the decimal digits 1 to 9 by the letters A b C d E f G h Z; "0", "-" and every other
// character stay as they are.
void DigitLetterMap(char* s, std::size_t n) noexcept {
    static constexpr char kLetters[] = "0AbCdEfGhZ";
    for (std::size_t i = 0; i < n; ++i) {
        if (s[i] >= '1' && s[i] <= '9') {
            s[i] = kLetters[s[i] - '0'];
        }
    }
}

CheckCode MakeCheckCode(std::string_view bytes) noexcept {
    const std::uint32_t crc = Crc32(bytes.data(), bytes.size());
    // The CRC read as a signed 32-bit number, then its absolute value brought back into 32 signed
    // bits: 0x80000000 has no positive counterpart and stays -2147483648, the only negative code.
    const bool negative = crc == 0x80000000u;
    std::uint32_t magnitude = (crc & 0x80000000u) ? 0u - crc : crc;
    char digits[10];
    std::size_t nd = 0;
    do {
        digits[nd++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    CheckCode code{};
    if (negative) {
        code.text[code.length++] = '-';
    }
    while (nd > 0) {
        code.text[code.length++] = digits[--nd];
    }
    DigitLetterMap(code.text, code.length);
    return code;
}

// ---- Hexadecimal digit values. "0"-"9", "A"-"F" and "a"-"f" have their values; every other
// byte, including those above "f", gives 0.

using HexTable = std::array<std::uint8_t, 256>;

constexpr HexTable MakeHexTable() {
    HexTable t{};
    for (int c = '0'; c <= '9'; ++c) {
        t[c] = static_cast<std::uint8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        t[c] = static_cast<std::uint8_t>(c - 'A' + 10);
        t[c - 'A' + 'a'] = static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return t;
}

constexpr HexTable kHexValue = MakeHexTable();

inline unsigned HexValue(char c) noexcept {
    return kHexValue[static_cast<unsigned char>(c)];
}

// The byte that two body characters give: the first is the high four bits, the second the low.
inline unsigned HexPairsToBytes(char high, char low) noexcept {
    return HexValue(high) << 4 | HexValue(low);
}

constexpr char kUpperHex[] = "0123456789ABCDEF";

// ---- Key and salt positions. Both start at 1 and advance after every byte; a position is reset
// to 1 when, after the increment, it equals the length of its text. So a key of L >= 2 bytes is
// used at 1 .. L-1 (its last byte never), a one-byte key only for the first byte, and the salt at
// 1, 2, 3. A position past the end gives 0. Stored data depends on exactly this sequence.

struct PositionWalker {
    std::string_view key;
    std::string_view salt;
    std::size_t kp = 1;
    std::size_t sp = 1;

    unsigned Pad() const noexcept {
        const unsigned k = kp <= key.size() ? static_cast<unsigned char>(key[kp - 1]) : 0u;
        const unsigned s = sp <= salt.size() ? static_cast<unsigned char>(salt[sp - 1]) : 0u;
        return k ^ s;
    }
    void Advance() noexcept {
        if (++kp == key.size()) {
            kp = 1;
        }
        if (++sp == salt.size()) {
            sp = 1;
        }
    }
};

// ---- Salt generator: a linear congruential generator, re-seeded by every EncryptField call.

constexpr std::size_t kSaltLength = 4;

std::mutex g_seed_mutex;  // EncryptField runs on one thread; the lock only guards against misuse.
CipherSeedState g_seed;
std::uint32_t (*g_clock)() = nullptr;

inline std::uint32_t Draw(std::uint32_t& s) noexcept {
    s = s * 214013u + 2531011u;
    return (s >> 16) & 0x7FFFu;
}

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t size) noexcept {
    if (size == 0) {
        return 0;
    }
    return ~CrcUpdate(0xFFFFFFFFu, static_cast<const unsigned char*>(data), size);
}

Text ChecksumCode(std::string_view text) {
    return Text(MakeCheckCode(text).view());
}

Text EncryptField(std::string_view value, std::string_view key) {
    char salt[kSaltLength];
    {
        std::lock_guard lock(g_seed_mutex);
        const std::uint32_t seed =
            (g_clock != nullptr ? g_clock() : TickCountMs()) + g_seed.accumulator;
        g_seed.accumulator += (seed & 0xFFu) + 100u;
        g_seed.state = seed;
        if (TextIsBlank(value)) {
            return {};
        }
        const std::uint32_t r1 = Draw(g_seed.state);
        const std::uint32_t r2 = Draw(g_seed.state);
        // Upper-case hexadecimal without leading zeros, padded with zeros on the right: 0xA5 gives
        // "A500", 0 gives "0000".
        std::uint32_t number = r1 ^ r2;
        char digits[kSaltLength];
        std::size_t nd = 0;
        do {
            digits[nd++] = kUpperHex[number & 0xFu];
            number >>= 4;
        } while (number != 0);
        for (std::size_t i = 0; i < kSaltLength; ++i) {
            salt[i] = i < nd ? digits[nd - 1 - i] : '0';
        }
    }

    // The salt and body are written behind room for the longest head, their check code is taken
    // in place, and the head is put right in front of them: one allocation for the whole text.
    constexpr std::size_t kHeadRoom = 2 * kMaxCheckLength + 2;
    const std::size_t tail = kSaltLength + 2 * value.size();
    Text out(kHeadRoom + tail, '\0');
    char* const salted = out.data() + kHeadRoom;
    std::memcpy(salted, salt, kSaltLength);
    char* body = salted + kSaltLength;
    PositionWalker pos{key, std::string_view(salt, kSaltLength)};
    for (const char ch : value) {
        const unsigned c = (static_cast<unsigned char>(ch) ^ pos.Pad()) & 0xFFu;
        *body++ = kUpperHex[c >> 4];
        *body++ = kUpperHex[c & 0xFu];
        pos.Advance();
    }

    const CheckCode content = MakeCheckCode(std::string_view(salted, tail));
    const CheckCode key_check = MakeCheckCode(key);
    const std::size_t head = content.length + 1 + key_check.length + 1;
    char* h = salted - head;
    std::memcpy(h, content.text, content.length);
    h += content.length;
    *h++ = 'X';
    std::memcpy(h, key_check.text, key_check.length);
    h += key_check.length;
    *h = 'X';
    out.erase(0, kHeadRoom - head);
    return out;
}

SecureString DecryptField(std::string_view cipher_text, std::string_view key) {
    if (TextIsBlank(cipher_text)) {
        return {};
    }
    std::string_view pieces[3];
    if (TextSplitViews(cipher_text, "X", pieces) != 3) {
        return {};
    }
    if (pieces[1] != MakeCheckCode(key).view()) {
        return {};  // made under another key
    }
    const std::string_view salted = pieces[2];
    if (pieces[0] != MakeCheckCode(salted).view()) {
        return {};  // salt or body changed
    }
    const std::string_view salt = salted.substr(0, kSaltLength);
    const std::string_view body = salted.substr(salt.size());

    // One buffer of the largest possible size, written in place; its tail past the result was
    // never written. SecureString wipes it when it is released.
    SecureString out;
    out.resize((body.size() + 1) / 2);
    char* w = out.data();
    PositionWalker pos{key, salt};
    for (std::size_t i = 0; i < body.size(); i += 2) {
        // An unpaired last digit has 0 as its partner (the position past the end), so it gives
        // the high four bits alone.
        const char low = i + 1 < body.size() ? body[i + 1] : '\0';
        const unsigned c = (HexPairsToBytes(body[i], low) ^ pos.Pad()) & 0xFFu;
        if (c != 0) {
            *w++ = static_cast<char>(c);
        }
        pos.Advance();
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    return out;
}

CipherSeedState GetCipherSeedState() noexcept {
    std::lock_guard lock(g_seed_mutex);
    return g_seed;
}

void SetCipherSeedState(CipherSeedState st) noexcept {
    std::lock_guard lock(g_seed_mutex);
    g_seed = st;
}

void SetCipherClockForTesting(std::uint32_t (*clock)()) noexcept {
    std::lock_guard lock(g_seed_mutex);
    g_clock = clock;
}

}  // namespace ob
