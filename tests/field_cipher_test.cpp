// The field cipher: check codes, cipher-text shape and salt, round trips, damage and wrong keys,
// the key and salt position rule, golden vectors shared by both builds, and concurrent deciphering.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "store/field_cipher.h"

namespace ob {
namespace {

// Bit-at-a-time CRC-32 (reflected 0xEDB88320, inverted in and out): the textbook definition, to
// check the table-driven one against.
std::uint32_t ReferenceCrc32(const unsigned char* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int b = 0; b < 8; ++b) {
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        }
    }
    return ~c;
}

// Texts whose CRC-32 was forced to a chosen value by four appended bytes (the CRC is linear, so
// four bytes reach any register value).
constexpr std::string_view kCrc80000000 = "crc:\x57\x5F\x92\xE1";
constexpr std::string_view kCrc7FFFFFFF = "crc:\x35\xAA\xB4\x73";
constexpr std::string_view kCrc80000001 = "crc:\x16\x59\xE3\x3A";
constexpr std::string_view kCrcFFFFFFFF = "crc:\xE6\x25\x81\x28";

// The four pieces of a well-formed cipher text (content check, key check, salt, body).
struct Pieces {
    std::string content, key_check, salt, body;
};

Pieces Parse(const std::string& ct) {
    const auto x1 = ct.find('X');
    const auto x2 = ct.find('X', x1 + 1);
    EXPECT_NE(x1, std::string::npos);
    EXPECT_NE(x2, std::string::npos);
    EXPECT_EQ(ct.find('X', x2 + 1), std::string::npos);
    return {ct.substr(0, x1), ct.substr(x1 + 1, x2 - x1 - 1), ct.substr(x2 + 1, 4),
            ct.substr(x2 + 5)};
}

// A cipher text made by hand from its third piece, with both checks computed to match.
Text Assemble(std::string_view salted, std::string_view key) {
    return ChecksumCode(salted) + "X" + ChecksumCode(key) + "X" + std::string(salted);
}

std::string Plain(const SecureString& s) {
    return std::string(s.view());
}

// Fixes the clock and the generator state for a test and puts the real clock back afterwards.
class FieldCipherSeeded : public testing::Test {
  protected:
    static inline std::uint32_t clock_value = 0;
    static std::uint32_t Clock() { return clock_value; }
    void SetUp() override {
        saved_ = GetCipherSeedState();
        SetCipherClockForTesting(&Clock);
    }
    void TearDown() override {
        SetCipherClockForTesting(nullptr);
        SetCipherSeedState(saved_);
    }
    static void Seed(std::uint32_t tick, std::uint32_t accumulator) {
        clock_value = tick;
        SetCipherSeedState({0x5EED5EEDu, accumulator});  // s is overwritten by the next call
    }
    CipherSeedState saved_;
};

TEST(Crc32, MatchesTheStandardAtEveryLengthAndAlignment) {
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the published check value
    EXPECT_EQ(Crc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32(kCrc80000000.data(), kCrc80000000.size()), 0x80000000u);

    std::array<unsigned char, 300> buf{};
    std::uint32_t x = 12345;
    for (auto& b : buf) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 23);
    }
    for (std::size_t off = 0; off < 8; ++off) {
        for (std::size_t n = 0; n + off <= buf.size(); n += (n < 40 ? 1 : 37)) {
            ASSERT_EQ(Crc32(buf.data() + off, n), ReferenceCrc32(buf.data() + off, n))
                << "offset " << off << " length " << n;
        }
    }
}

TEST(ChecksumCode, WritesTheAbsoluteSignedCrcWithDigitsAsLetters) {
    const struct {
        std::string_view text;
        std::string_view code;
    } cases[] = {
        {"abc", "hZAEfhEGh"},           // 0x352441C2 = 891568578
        {"a", "CZ0fAAChZ"},             // 0xE8B7BE43 = -390611389
        {"", "0"},                      // CRC 0
        {"123456789", "hGCAhG0Cd"},     // 0xCBF43926 = -873187034
        {kCrc80000000, "-bAdGdhCfdh"},  // -2147483648 has no positive counterpart
        {kCrc7FFFFFFF, "bAdGdhCfdG"},   // 2147483647
        {kCrc80000001, "bAdGdhCfdG"},   // -2147483647: the same code as its negation
        {kCrcFFFFFFFF, "A"},            // -1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(ChecksumCode(c.text), c.code);
    }
}

// Cipher texts for a fixed tick count and accumulator, computed outside this code base by an
// independent implementation; both builds must produce them byte for byte, and the state the
// generator is left in.
struct Golden {
    std::uint32_t tick, accumulator;
    std::string_view value, key, cipher;
    std::uint32_t state_after, accumulator_after;
};

constexpr Golden kGolden[] = {
    {1000u, 0u, "abc", "key", "AhZbE0f0EfXAZG0bC0CEZX2CF538444E", 538833314u, 332u},
    {39912u, 0u, "hello", "", "AG0bGbdbEhX0XA50029505C2D5A", 4259531170u, 332u},
    {44712u, 0u, "x", "k", "AhCGEdZhEhXAd0ffbfbAX000023", 981594722u, 268u},
    {237u, 0u, "\xD6\xD0\xCE\xC4", "ab", "AhEZZh0ffAXAfCEEfCdAAX7FFF80F7E992", 2094259919u, 337u},
    {9886u, 0u, " lead and trail ", "\xC3\xDC\xC2\xEB",
     "AGf0EhZhdbXbEEEhACd0X1230D28294938AD1938095D29A8393879DD2", 2137070088u, 258u},
    {512u, 4294967040u, "wrap", "wrap-key", "AGEEbdhhGZXAEAdZdffGhX19E531394531", 445618042u,
     4294967140u},
    {4294967280u, 32u, "Xx\xA1\xA1", "X", "GbGf0EhhfXAbAC0EGdfAX3DB4333CE392", 3186495242u, 148u},
};

TEST_F(FieldCipherSeeded, GoldenVectorsAreIdenticalInEveryBuild) {
    for (const auto& g : kGolden) {
        SCOPED_TRACE(testing::PrintToString(std::string(g.value)));
        Seed(g.tick, g.accumulator);
        EXPECT_EQ(EncryptField(g.value, g.key), g.cipher);
        const CipherSeedState after = GetCipherSeedState();
        EXPECT_EQ(after.state, g.state_after);
        EXPECT_EQ(after.accumulator, g.accumulator_after);
        EXPECT_EQ(Plain(DecryptField(g.cipher, g.key)), g.value);
    }
}

// The first golden vector worked out by hand:
//   seed = 1000 + 0 = 1000; A = 0 + (1000 mod 256 = 232) + 100 = 332.
//   s1 = 1000 * 214013 + 2531011 = 216544011 = 0x0CE8330B, r1 = bits 16-30 = 0x0CE8.
//   s2 = 216544011 * 214013 + 2531011 mod 2^32 = 538833314 = 0x201DF1A2, r2 = 0x201D.
//   salt number 0x0CE8 ^ 0x201D = 0x2CF5: salt "2CF5" (bytes 32 43 46 35).
//   key "key", L = 3: key positions 1, 2, 1; salt positions 1, 2, 3.
//     'a' 61 ^ 'k' 6B ^ '2' 32 = 38;  'b' 62 ^ 'e' 65 ^ 'C' 43 = 44;  'c' 63 ^ 'k' 6B ^ 'F' 46 =
//     4E.
//   body "38444E"; CRC-32("2CF538444E") = 0x8F32A638 = -1892506056 -> "AhZbE0f0Ef".
//   CRC-32("key") = 0x8A90ABA9 = -1970230359 -> "AZG0bC0CEZ".
TEST_F(FieldCipherSeeded, HandDerivedVector) {
    Seed(1000, 0);
    EXPECT_EQ(EncryptField("abc", "key"), "AhZbE0f0EfXAZG0bC0CEZX2CF538444E");
    EXPECT_EQ(GetCipherSeedState().accumulator, 332u);
    EXPECT_EQ(GetCipherSeedState().state, 0x201DF1A2u);
}

TEST_F(FieldCipherSeeded, EveryCallReseedsAndAccumulatesAlsoForBlankValues) {
    // Tick count fixed at 5000: the seeds differ only by the accumulator, which every call adds
    // to, the blank one included.
    Seed(5000, 0);
    EXPECT_EQ(EncryptField("one", "seq"), "bf0ZfGAECXAGG00GCGGCX18192D3327");
    EXPECT_EQ(GetCipherSeedState().accumulator, 236u);
    EXPECT_EQ(EncryptField("  ", "seq"), "");
    EXPECT_EQ(GetCipherSeedState().state, 5236u);  // seeded, no draws
    EXPECT_EQ(GetCipherSeedState().accumulator, 452u);
    EXPECT_EQ(EncryptField("two", "seq"), "Ad0dGhhC0ZXAGG00GCGGCXC2D0442058");
    EXPECT_EQ(EncryptField("three", "seq"), "AEZdfZfEZfXAGG00GCGGCX60D7313D453626");
    EXPECT_EQ(GetCipherSeedState().accumulator, 980u);
}

TEST_F(FieldCipherSeeded, SaltIsPaddedWithZerosOnTheRight) {
    // Tick counts found by an independent search for each salt number (accumulator 0).
    const struct {
        std::uint32_t tick;
        std::string_view salt;
    } cases[] = {
        {39912, "A500"},  // 0xA5
        {44712, "0000"},  // 0
        {237, "7FFF"},    // 0x7FFF
        {9886, "1230"},   // 0x123
        {45502, "FFF0"},  // 0xFFF
        {9480, "1000"},   // 0x1000
    };
    for (const auto& c : cases) {
        Seed(c.tick, 0);
        const Text ct = EncryptField("v", "k");
        EXPECT_EQ(Parse(ct).salt, c.salt);
        EXPECT_EQ(Plain(DecryptField(ct, "k")), "v");
    }
}

TEST_F(FieldCipherSeeded, BlankValuesGiveTheEmptyText) {
    Seed(1, 0);
    for (std::string_view v :
         {"", " ", "    ", "\xA1\xA1", "\xA1\xA1\xA1\xA1", " \xA1\xA1 \xA1\xA1"}) {
        const std::uint32_t before = GetCipherSeedState().accumulator;
        EXPECT_EQ(EncryptField(v, "key"), "");
        EXPECT_NE(GetCipherSeedState().accumulator, before);
    }
    // Not blank: a lone 0xA1, a tab, a space taken into a double-byte character.
    for (std::string_view v : {"\xA1", "\t", " \xA1 "}) {
        const Text ct = EncryptField(v, "key");
        EXPECT_EQ(Plain(DecryptField(ct, "key")), v);
    }
    for (std::string_view ct : {"", " ", "\xA1\xA1 \xA1\xA1"}) {
        EXPECT_EQ(Plain(DecryptField(ct, "key")), "");
    }
}

bool OnlyChars(std::string_view s, std::string_view allowed) {
    return s.find_first_not_of(allowed) == std::string_view::npos;
}

TEST_F(FieldCipherSeeded, RoundTripsForKeysOfEveryLength) {
    std::string all_bytes;
    for (int c = 1; c < 256; ++c) {
        all_bytes.push_back(static_cast<char>(c));
    }
    const std::string long_value(1000, 'q');
    const std::string_view keys[] = {
        "", "k", "ab", "abc", "password", "中文密码", "a key of some forty bytes, for the cycle"};
    const std::string_view values[] = {"a",          "abc",        "中文",
                                       "  leading",  "trailing  ", "\xA1\xA1混合 text\xA1\xA1",
                                       "X marks XX", all_bytes,    long_value};
    std::uint32_t tick = 7;
    for (auto key : keys) {
        for (auto value : values) {
            SCOPED_TRACE(testing::PrintToString(std::string(key) + " / " + std::string(value)));
            Seed(tick += 7919, 0);
            const Text ct = EncryptField(value, key);
            const Pieces p = Parse(ct);
            EXPECT_EQ(p.content, ChecksumCode(p.salt + p.body));
            EXPECT_EQ(p.key_check, ChecksumCode(key));
            EXPECT_TRUE(OnlyChars(p.salt, "0123456789ABCDEF"));
            EXPECT_TRUE(OnlyChars(p.body, "0123456789ABCDEF"));
            EXPECT_TRUE(OnlyChars(p.content + p.key_check, "-0AbCdEfGhZ"));
            EXPECT_EQ(p.body.size(), 2 * value.size());
            EXPECT_EQ(ct.size(), 6 + 2 * value.size() + p.content.size() + p.key_check.size());
            EXPECT_EQ(Plain(DecryptField(ct, key)), value);
        }
    }
}

TEST_F(FieldCipherSeeded, SameValueTwiceGivesTwoCipherTexts) {
    Seed(100, 0);
    const Text a = EncryptField("secret", "pw");
    const Text b = EncryptField("secret", "pw");
    EXPECT_NE(a, b);
    EXPECT_EQ(Plain(DecryptField(a, "pw")), "secret");
    EXPECT_EQ(Plain(DecryptField(b, "pw")), "secret");
}

TEST_F(FieldCipherSeeded, AnotherKeyGivesTheEmptyText) {
    Seed(100, 0);
    const Text ct = EncryptField("secret", "right");
    for (std::string_view key : {"", "r", "righ", "right ", "Right", "wrong"}) {
        EXPECT_EQ(Plain(DecryptField(ct, key)), "") << key;
    }
}

TEST_F(FieldCipherSeeded, AnyChangedCharacterGivesTheEmptyText) {
    Seed(4242, 0);
    const Text ct = EncryptField("user@example.com", "pw");
    ASSERT_EQ(Plain(DecryptField(ct, "pw")), "user@example.com");
    // Replacements of every kind: check-code letters, hex digits of both cases, the separator,
    // a space, a lead byte.
    const std::string_view replacements = "0AbCdEfGhZ19afxX -\xB0";
    for (std::size_t i = 0; i < ct.size(); ++i) {
        for (char r : replacements) {
            if (ct[i] == r) {
                continue;
            }
            Text bad = ct;
            bad[i] = r;
            EXPECT_EQ(Plain(DecryptField(bad, "pw")), "")
                << "position " << i << " -> " << testing::PrintToString(r);
        }
    }
    // Spaces around the text are not trimmed away before the split: they damage a piece.
    EXPECT_EQ(Plain(DecryptField(" " + ct, "pw")), "");
    EXPECT_EQ(Plain(DecryptField(ct + " ", "pw")), "");
}

TEST_F(FieldCipherSeeded, SeparatorCases) {
    Seed(77, 0);
    const Text ct = EncryptField("value", "key");
    const Pieces p = Parse(ct);
    EXPECT_EQ(Plain(DecryptField(ct + "X", "key")), "value");  // an empty rest is no piece
    EXPECT_EQ(Plain(DecryptField("X" + ct, "key")), "");       // four pieces
    EXPECT_EQ(Plain(DecryptField(ct + "XX", "key")), "");      // the second X ends a fourth piece
    EXPECT_EQ(Plain(DecryptField(ct + "X1", "key")), "");
    EXPECT_EQ(Plain(DecryptField(p.content + p.key_check + "X" + p.salt + p.body, "key")), "");
    EXPECT_EQ(Plain(DecryptField("XX", "")), "");
    EXPECT_EQ(Plain(DecryptField("XXX", "")), "");
    EXPECT_EQ(Plain(DecryptField("X0X", "")), "");  // piece 3 missing
    // An X right after a lead byte does not split: this piece 3 holds "\xB0X" and the text has
    // three pieces. Empty key, salt "0000" (bytes 30): "41" -> 41^30 = 'q', "\xB0X" -> 0^30 = '0'.
    EXPECT_EQ(Plain(DecryptField(Assemble("000041\xB0X", ""), "")), "q0");
    // A lead byte at the very end stands alone, unpaired; it is no hex digit: 0 ^ 30 = '0'.
    EXPECT_EQ(Plain(DecryptField(Assemble("000041\xB0", ""), "")), "q0");
}

TEST_F(FieldCipherSeeded, BodyDigitsReadInEitherCaseButSaltBytesAsTheyAre) {
    Seed(39912, 0);  // salt A500: a salt with a letter
    const Text ct = EncryptField("Mixed Case", "key");
    const Pieces p = Parse(ct);
    ASSERT_EQ(p.salt, "A500");
    std::string lower_body = p.body;
    for (char& c : lower_body) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    ASSERT_NE(lower_body, p.body);
    EXPECT_EQ(Plain(DecryptField(Assemble(p.salt + lower_body, "key"), "key")), "Mixed Case");
    // Lower-casing alone breaks the content check.
    EXPECT_EQ(Plain(DecryptField(p.content + "X" + p.key_check + "X" + p.salt + lower_body, "key")),
              "");
    // The salt enters as bytes: "a500" is another salt and gives another value.
    const std::string other = Plain(DecryptField(Assemble("a500" + p.body, "key"), "key"));
    EXPECT_FALSE(other.empty());
    EXPECT_NE(other, "Mixed Case");
}

TEST(FieldCipher, ThirdPieceOfFourBytesOrFewerGivesTheEmptyText) {
    for (std::string_view salted : {"", "A", "A5", "A500"}) {
        EXPECT_EQ(Plain(DecryptField(Assemble(salted, "k"), "k")), "") << salted;
    }
}

TEST(FieldCipher, UnusualBodiesDoNotFault) {
    // Empty key, salt "0000": every body byte is combined with 0x30 alone.
    const struct {
        std::string_view body;
        std::string_view value;
    } cases[] = {
        {"41", "q"},
        {"3041", "q"},     // 30 ^ 30 = 0 adds nothing
        {"30303030", ""},  // nothing but zeros
        {"414", "qp"},     // an unpaired last digit is the high half: 40 ^ 30
        {"4g", "p"},       // above "f": counts as 0, like every non-digit
        {"4G", "p"},
        {"\xFF\xFF", "0"},  // bytes without a value: 0 ^ 30
        {"zz41", "0q"},
        // Long enough for the block-wise path: a zero byte, lower case, no digits and high bytes
        // inside one block of sixteen digits, then the rest one pair at a time.
        {"41304azz\xC1\xC1"
         "7e304243",
         "qz00Nrs"},
        {"4142434445464748494A4b4C4d4E4f50", "qrstuvwxyz{|}~\x7F`"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.body)));
        EXPECT_EQ(Plain(DecryptField(Assemble("0000" + std::string(c.body), ""), "")), c.value);
    }
}

TEST_F(FieldCipherSeeded, PositionRuleConsequences) {
    auto body_under = [](std::string_view key) {
        Seed(31337, 0);
        return Parse(EncryptField("a value of some length", key)).body;
    };
    // Two-byte key: only its first byte takes part.
    EXPECT_EQ(body_under("ab"), body_under("az"));
    EXPECT_NE(body_under("ab"), body_under("zb"));
    // A longer key: its last byte never takes part.
    EXPECT_EQ(body_under("abcd"), body_under("abcz"));
    EXPECT_NE(body_under("abcd"), body_under("abzd"));
    // One-byte key: only the first value byte (two body digits) depends on it.
    const std::string one_a = body_under("a");
    const std::string one_b = body_under("b");
    EXPECT_NE(one_a.substr(0, 2), one_b.substr(0, 2));
    EXPECT_EQ(one_a.substr(2), one_b.substr(2));
    EXPECT_EQ(one_a.substr(2), body_under("").substr(2));
    // Hence a text made under "ab", given the key check of "az", deciphers under "az".
    Seed(5, 0);
    const Pieces p = Parse(EncryptField("shared", "ab"));
    EXPECT_EQ(Plain(DecryptField(Assemble(p.salt + p.body, "az"), "az")), "shared");
}

TEST_F(FieldCipherSeeded, DecipheringOnSeveralThreadsAtOnce) {
    const std::string_view keys[] = {"", "k", "key one", "另一个密码"};
    std::vector<std::pair<Text, std::string>> items;
    for (int i = 0; i < 40; ++i) {
        Seed(static_cast<std::uint32_t>(i * 977), 0);
        std::string value = "value " + std::to_string(i) + std::string(i, 'v');
        items.emplace_back(EncryptField(value, keys[i % 4]), value);
    }
    std::vector<std::thread> threads;
    std::array<int, 4> failures{};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                for (std::size_t i = 0; i < items.size(); ++i) {
                    const SecureString v = DecryptField(items[i].first, keys[i % 4]);
                    const SecureString w = DecryptField(items[i].first, keys[(i + 1) % 4]);
                    if (v.view() != items[i].second || !w.empty()) {
                        ++failures[t];
                    }
                }
            }
        });
    }
    // The user-interface thread may encipher meanwhile.
    for (int i = 0; i < 500; ++i) {
        ASSERT_FALSE(EncryptField("meanwhile", "k").empty());
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures, (std::array<int, 4>{}));
}

}  // namespace
}  // namespace ob
