// The field cipher: CRC-32 check codes, the salt generator, and the XOR-with-key-and-salt body
// written as hexadecimal digits. DecryptField is stateless; EncryptField owns the salt state.
#include "store/field_cipher.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

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

// The register after eight more bytes.
inline std::uint32_t CrcStep8(std::uint32_t reg, const unsigned char* p) noexcept {
    const std::uint32_t lo = Load32(p) ^ reg;
    const std::uint32_t hi = Load32(p + 4);
    return kCrc[7][lo & 0xFFu] ^ kCrc[6][(lo >> 8) & 0xFFu] ^ kCrc[5][(lo >> 16) & 0xFFu] ^
           kCrc[4][lo >> 24] ^ kCrc[3][hi & 0xFFu] ^ kCrc[2][(hi >> 8) & 0xFFu] ^
           kCrc[1][(hi >> 16) & 0xFFu] ^ kCrc[0][hi >> 24];
}

std::uint32_t CrcUpdate(std::uint32_t reg, const unsigned char* p, std::size_t n) noexcept {
    while (n >= 8) {
        reg = CrcStep8(reg, p);
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
    // Byte for byte; a plain loop, since the code was just written a byte at a time and a wide
    // load of it would stall.
    bool Equals(std::string_view s) const noexcept {
        if (s.size() != length) {
            return false;
        }
        for (std::size_t i = 0; i < length; ++i) {
            if (s[i] != text[i]) {
                return false;
            }
        }
        return true;
    }
};

// Replaces the decimal digits 1 to 9 by the letters A b C d E f G h Z; "0", "-" and every other
// character stay as they are.
constexpr char DigitLetterMap(char c) noexcept {
    constexpr char kLetters[] = "0AbCdEfGhZ";
    return c >= '1' && c <= '9' ? kLetters[c - '0'] : c;
}

// The mapped forms of "00" to "99", so a number is written two digits at a time.
constexpr std::array<char, 200> MakeLetterPairs() {
    std::array<char, 200> t{};
    for (int n = 0; n < 100; ++n) {
        t[2 * n] = DigitLetterMap(static_cast<char>('0' + n / 10));
        t[2 * n + 1] = DigitLetterMap(static_cast<char>('0' + n % 10));
    }
    return t;
}

constexpr std::array<char, 200> kLetterPairs = MakeLetterPairs();

CheckCode FormatCheckCode(std::uint32_t crc) noexcept {
    // The CRC read as a signed 32-bit number, then its absolute value brought back into 32 signed
    // bits: 0x80000000 has no positive counterpart and stays -2147483648, the only negative code.
    const bool negative = crc == 0x80000000u;
    std::uint32_t magnitude = (crc & 0x80000000u) ? 0u - crc : crc;
    CheckCode code{};
    if (negative) {
        code.text[code.length++] = '-';
    }
    // Decimal digits without leading zeros, already mapped to letters, written from the right
    // straight into place, two at a time.
    std::size_t digits = 1;
    for (std::uint32_t bound = 10; digits < 10 && magnitude >= bound; bound *= 10) {
        ++digits;
    }
    code.length += digits;
    char* at = code.text + code.length;
    while (magnitude >= 100) {
        const std::uint32_t two = magnitude % 100;
        magnitude /= 100;
        at -= 2;
        at[0] = kLetterPairs[2 * two];
        at[1] = kLetterPairs[2 * two + 1];
    }
    if (magnitude >= 10) {
        at[-2] = kLetterPairs[2 * magnitude];
        at[-1] = kLetterPairs[2 * magnitude + 1];
    } else {
        at[-1] = DigitLetterMap(static_cast<char>('0' + magnitude));
    }
    return code;
}

CheckCode MakeCheckCode(std::string_view bytes) noexcept {
    return FormatCheckCode(Crc32(bytes.data(), bytes.size()));
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

// ---- Key and salt positions. Both start at the first byte and advance after every byte; a
// 1-based position goes back to 1 when, after the increment, it equals the length of its text.
// So a key of L >= 2 bytes is used at 1 .. L-1 (its last byte never), a one-byte key only for the
// first value byte, the empty key never, and the four-byte salt at 1, 2, 3. A position past the
// end gives 0. Stored data depends on exactly this sequence.

class KeyCursor {
  public:
    explicit KeyCursor(std::string_view key) noexcept
        : bytes_(reinterpret_cast<const unsigned char*>(key.data())),
          length_(key.size()),
          wrap_(key.size() - 1) {}  // 0-based; for the empty key this wraps and is never reached

    // The key byte for the current value byte; then moves on.
    unsigned Next() noexcept {
        const unsigned k = pos_ < length_ ? bytes_[pos_] : 0u;
        pos_ = pos_ + 1 == wrap_ ? 0 : pos_ + 1;
        return k;
    }

  private:
    const unsigned char* bytes_;
    std::size_t length_;
    std::size_t wrap_;
    std::size_t pos_ = 0;
};

constexpr std::size_t kSaltLength = 4;
constexpr std::size_t kSaltCycle = kSaltLength - 1;  // the fourth salt character never takes part

// ---- Salt generator: a linear congruential generator, re-seeded by every EncryptField call.

std::mutex g_seed_mutex;  // EncryptField runs on one thread; the lock only guards against misuse.
CipherSeedState g_seed;
std::uint32_t (*g_clock)() = nullptr;

inline std::uint32_t Draw(std::uint32_t& s) noexcept {
    s = s * 214013u + 2531011u;
    return (s >> 16) & 0x7FFFu;
}

// ---- The same position rule in the form the decipher loop reads fastest: the key bytes that take
// part, as one cycle (key positions 1 .. L-1 for L >= 2; for L <= 1 a cycle of one zero, the
// one-byte key's single use being applied to the first value byte apart), and the three used salt
// bytes as another. Each cycle is laid out with its start repeated behind its end, so any eight
// consecutive bytes from any position are one load.

inline std::uint64_t Load64(const unsigned char* p) noexcept {
    return static_cast<std::uint64_t>(Load32(p)) | static_cast<std::uint64_t>(Load32(p + 4)) << 32;
}

class KeyCycle {
  public:
    explicit KeyCycle(std::string_view key)
        : length_(key.size() >= 2 ? key.size() - 1 : 1), laid_out_(length_ + 8), bytes_(inline_) {
        if (laid_out_ > sizeof inline_) {
            heap_ = std::make_unique<unsigned char[]>(laid_out_);
            bytes_ = heap_.get();
        }
        if (key.size() >= 2) {
            std::memcpy(bytes_, key.data(), length_);
            for (std::size_t j = length_; j < laid_out_; ++j) {
                bytes_[j] = bytes_[j - length_];
            }
        } else {
            std::memset(bytes_, 0, laid_out_);
        }
    }
    ~KeyCycle() { SecureWipe(bytes_, laid_out_); }
    KeyCycle(const KeyCycle&) = delete;
    KeyCycle& operator=(const KeyCycle&) = delete;

    unsigned operator[](std::size_t pos) const noexcept { return bytes_[pos]; }
    std::size_t Next(std::size_t pos) const noexcept { return pos + 1 == length_ ? 0 : pos + 1; }
    std::uint64_t Load8(std::size_t pos) const noexcept { return Load64(bytes_ + pos); }
    std::size_t Skip8(std::size_t pos) const noexcept {
        pos += 8;
        return length_ >= 8 ? (pos >= length_ ? pos - length_ : pos) : pos % length_;
    }

  private:
    std::size_t length_;
    std::size_t laid_out_;
    unsigned char* bytes_;
    unsigned char inline_[64];
    std::unique_ptr<unsigned char[]> heap_;
};

class SaltCycle {
  public:
    explicit SaltCycle(std::string_view salt) noexcept {
        std::memcpy(bytes_, salt.data(), kSaltCycle);
        for (std::size_t j = kSaltCycle; j < sizeof bytes_; ++j) {
            bytes_[j] = bytes_[j - kSaltCycle];
        }
    }
    unsigned operator[](std::size_t pos) const noexcept { return bytes_[pos]; }
    std::uint64_t Load8(std::size_t pos) const noexcept { return Load64(bytes_ + pos); }

  private:
    unsigned char bytes_[kSaltCycle + 8];
};

inline bool HasZeroByte(std::uint64_t v) noexcept {
    return ((v - 0x0101010101010101u) & ~v & 0x8080808080808080u) != 0;
}

#if defined(__SSE2__) && defined(__x86_64__)
// Eight bytes from sixteen body characters (x86-64 has SSE2 always), every character through the
// same digit values as HexValue: "0"-"9", "A"-"F", "a"-"f" have theirs, every other byte gives 0
// (signed compares leave bytes of 0x80 or more out of both ranges).
inline std::uint64_t HexBlock(const char* p) noexcept {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i folded = _mm_or_si128(c, _mm_set1_epi8(0x20));  // "A"-"F" to "a"-"f"
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(folded, _mm_set1_epi8('f' + 1)));
    const __m128i value =
        _mm_or_si128(_mm_and_si128(digit, _mm_sub_epi8(c, _mm_set1_epi8('0'))),
                     _mm_and_si128(letter, _mm_sub_epi8(folded, _mm_set1_epi8('a' - 10))));
    // Each 16-bit lane holds one pair; its first character (the low byte) is the high half.
    const __m128i pair = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(value, _mm_set1_epi16(0xFF)), 4),
                                      _mm_srli_epi16(value, 8));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(pair, pair)));
}
#endif

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
    KeyCursor key_at(key);
    std::size_t sp = 0;
    for (const char ch : value) {
        const unsigned c =
            static_cast<unsigned char>(ch) ^ key_at.Next() ^ static_cast<unsigned char>(salt[sp]);
        sp = sp + 1 == kSaltCycle ? 0 : sp + 1;
        *body++ = kUpperHex[c >> 4];
        *body++ = kUpperHex[c & 0xFu];
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
    if (!MakeCheckCode(key).Equals(pieces[1])) {
        return {};  // made under another key
    }
    // Piece 3 of four bytes or fewer holds no body: nothing to decipher, whatever its check says.
    const std::string_view salted = pieces[2];
    if (salted.size() <= kSaltLength) {
        return {};
    }
    const std::string_view salt = salted.substr(0, kSaltLength);
    const std::string_view body = salted.substr(kSaltLength);
    const SaltCycle salt_at(salt);
    const KeyCycle key_at(key);
    // With a one-byte key only the first value byte is combined with it (see KeyCycle).
    unsigned first_key = key.size() == 1 ? static_cast<unsigned char>(key[0]) : 0u;

    // The content check's CRC is taken in the same pass that deciphers the body, so the two
    // overlap; if the check then fails, the deciphered bytes are wiped and nothing is returned.
    // One buffer of the largest possible size is written in place; its tail past the result was
    // never written. SecureString wipes it when it is released.
    SecureString out;
    out.resize((body.size() + 1) / 2);
    char* w = out.data();
    auto put = [&w](unsigned c) {
        if (c != 0) {  // a zero byte adds nothing
            *w++ = static_cast<char>(c);
        }
    };
    std::uint32_t crc =
        CrcUpdate(0xFFFFFFFFu, reinterpret_cast<const unsigned char*>(salt.data()), salt.size());
    const char* digit = body.data();
    const std::size_t pairs = body.size() / 2;
    std::size_t i = 0;
    std::size_t kp = 0;  // 0-based positions in the two cycles
    std::size_t sp = 0;
#if defined(__SSE2__) && defined(__x86_64__)
    for (; i + 8 <= pairs; i += 8, digit += 16) {
        const auto* block = reinterpret_cast<const unsigned char*>(digit);
        crc = CrcStep8(CrcStep8(crc, block), block + 8);
        const std::uint64_t value =
            HexBlock(digit) ^ key_at.Load8(kp) ^ salt_at.Load8(sp) ^ first_key;
        first_key = 0;
        kp = key_at.Skip8(kp);
        sp = sp == 0 ? 2 : sp - 1;  // (sp + 8) mod 3
        if (HasZeroByte(value)) {
            for (int b = 0; b < 8; ++b) {
                put(static_cast<unsigned>(value >> (8 * b)) & 0xFFu);
            }
        } else {
            std::memcpy(w, &value, sizeof value);
            w += sizeof value;
        }
    }
#endif
    crc = ~CrcUpdate(crc, reinterpret_cast<const unsigned char*>(digit),
                     body.size() - static_cast<std::size_t>(digit - body.data()));
    if (!FormatCheckCode(crc).Equals(pieces[0])) {
        out.Wipe();
        return {};  // salt or body changed
    }
    for (; i < pairs; ++i, digit += 2) {
        put(HexPairsToBytes(digit[0], digit[1]) ^ key_at[kp] ^ salt_at[sp] ^ first_key);
        first_key = 0;
        kp = key_at.Next(kp);
        sp = sp + 1 == kSaltCycle ? 0 : sp + 1;
    }
    if (body.size() % 2 != 0) {
        // An unpaired last digit has 0 as its partner (the position past the end), so it gives
        // the high four bits alone.
        put(HexPairsToBytes(digit[0], '\0') ^ key_at[kp] ^ salt_at[sp] ^ first_key);
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
