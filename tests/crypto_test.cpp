// Known answers, tamper detection and thread safety of the platform cryptography (both builds).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "store/crypto.h"

namespace ob::crypto {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(std::string_view hex) {
    Bytes out;
    int hi = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else {
            continue;  // spaces between groups
        }
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

Bytes FromText(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

std::string ToHex(std::span<const std::uint8_t> b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::uint8_t x : b) {
        s += digits[x >> 4];
        s += digits[x & 15];
    }
    return s;
}

struct Pbkdf2Case {
    std::string_view password;
    std::string_view salt;
    std::uint32_t iterations;
    std::string_view want;
};

// RFC 7914 section 11, the RFC 6070 inputs with HMAC-SHA-256 (embedded zero bytes included), and
// an empty password and salt, which CNG is handed differently from other passwords.
const Pbkdf2Case kPbkdf2Cases[] = {
    {"passwd", "salt", 1,
     "55 ac 04 6e 56 e3 08 9f ec 16 91 c2 25 44 b6 05 f9 41 85 21 6d de 04 65 e6 8b 9d 57 c2 0d ac "
     "bc 49 ca 9c cc f1 79 b6 45 99 16 64 b3 9d 77 ef 31 7c 71 b8 45 b1 e3 0b d5 09 11 20 41 d3 a1 "
     "97 83"},
    {"Password", "NaCl", 80000,
     "4d dc d8 f6 0b 98 be 21 83 0c ee 5e f2 27 01 f9 64 1a 44 18 d0 4c 04 14 ae ff 08 87 6b 34 ab "
     "56 a1 d4 25 a1 22 58 33 54 9a db 84 1b 51 c9 b3 17 6a 27 2b de bb a1 d0 78 47 8f 62 b3 97 f3 "
     "3c 8d"},
    {"password", "salt", 1, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
    {"password", "salt", 2, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
    {"password", "salt", 4096, "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
    {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
     "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
    {std::string_view("pass\0word", 9), std::string_view("sa\0lt", 5), 4096,
     "89b69d0516f829893c696226650a8687"},
    {"", "salt", 1, "f135c27993baf98773c5cdb40a5706ce6a345cde61b000a67858650cd6a324d7"},
    {"", "", 2, "97398411d6aea43a77acef92226ab8278d4db0668bd1d7a76a725f7680ac45c5"},
};

TEST(Pbkdf2Sha256, KnownAnswers) {
    for (const Pbkdf2Case& c : kPbkdf2Cases) {
        const Bytes want = FromHex(c.want);
        Bytes got(want.size(), 0xEE);
        const Bytes salt = FromText(c.salt);
        ASSERT_TRUE(Pbkdf2Sha256(c.password, salt, c.iterations, got))
            << "password of " << c.password.size() << " bytes, " << c.iterations << " iterations";
        EXPECT_EQ(ToHex(want), ToHex(got)) << c.iterations << " iterations";
    }
}

TEST(Pbkdf2Sha256, RefusesZeroIterationsAndEmptyOutput) {
    const Bytes salt = FromText("salt");
    Bytes out(32);
    EXPECT_FALSE(Pbkdf2Sha256("password", salt, 0, out));
    EXPECT_FALSE(Pbkdf2Sha256("password", salt, 1, std::span<std::uint8_t>()));
}

struct GcmCase {
    const char* name;
    std::string_view key, nonce, aad, plain, cipher, tag;
};

// AES-256, 96-bit nonce: test cases 13, 14 and 16 of the GCM submission to NIST (McGrew and
// Viega) and the first 128-bit-tag vector with AAD of NIST CAVP gcmEncryptExtIV256.
const GcmCase kGcmCases[] = {
    {"empty message", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"one zero block", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "", "00000000000000000000000000000000",
     "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {"60 bytes with AAD", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308",
     "cafebabefacedbaddecaf888", "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b"
     "525b16aedf5aa0de657ba637b39",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b105682"
     "8838c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
    {"CAVP count 0 with AAD", "92e11dcdaa866f5ce790fd24501f92509aacf4cb8b1339d50c9c1240935dd08b",
     "ac93a1a6145299bde902f21a", "1e0889016f67601c8ebea4943bc23ad6",
     "2d71bcfa914e4ac045b2aa60955fad24", "8995ae2e6df3dbf96fac7b7137bae67f",
     "eca5aa77d51d4a0a14d9c51e1da474ab"},
};

struct GcmVector {
    std::array<std::uint8_t, kAesKeySize> key;
    std::array<std::uint8_t, kGcmNonceSize> nonce;
    std::array<std::uint8_t, kGcmTagSize> tag;
    Bytes aad, plain, cipher;
};

GcmVector Load(const GcmCase& c) {
    GcmVector v;
    const Bytes key = FromHex(c.key), nonce = FromHex(c.nonce), tag = FromHex(c.tag);
    std::copy(key.begin(), key.end(), v.key.begin());
    std::copy(nonce.begin(), nonce.end(), v.nonce.begin());
    std::copy(tag.begin(), tag.end(), v.tag.begin());
    v.aad = FromHex(c.aad);
    v.plain = FromHex(c.plain);
    v.cipher = FromHex(c.cipher);
    return v;
}

TEST(AesGcm, KnownAnswersSealAndOpen) {
    for (const GcmCase& c : kGcmCases) {
        SCOPED_TRACE(c.name);
        const GcmVector v = Load(c);
        Bytes cipher(v.plain.size(), 0xEE);
        std::array<std::uint8_t, kGcmTagSize> tag{};
        ASSERT_TRUE(AesGcmSeal(v.key, v.nonce, v.aad, v.plain, cipher, tag));
        EXPECT_EQ(ToHex(v.cipher), ToHex(cipher));
        EXPECT_EQ(ToHex(v.tag), ToHex(tag));

        Bytes plain(v.cipher.size(), 0xEE);
        ASSERT_TRUE(AesGcmOpen(v.key, v.nonce, v.aad, v.cipher, v.tag, plain));
        EXPECT_EQ(ToHex(v.plain), ToHex(plain));
    }
}

bool AllZero(std::span<const std::uint8_t> b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

// One flipped bit anywhere in what the tag covers makes Open fail, and the caller's buffer holds
// nothing of the unauthenticated plain text.
TEST(AesGcm, AnyFlippedBitFailsAndWipesTheOutput) {
    const GcmVector v = Load(kGcmCases[2]);
    enum Part { kCipher, kTag, kAad, kNonce, kKey };
    for (Part part : {kCipher, kTag, kAad, kNonce, kKey}) {
        for (std::size_t bit : {std::size_t{0}, std::size_t{7}, std::size_t{100}}) {
            GcmVector t = v;
            std::span<std::uint8_t> target = part == kCipher  ? std::span<std::uint8_t>(t.cipher)
                                             : part == kTag   ? std::span<std::uint8_t>(t.tag)
                                             : part == kAad   ? std::span<std::uint8_t>(t.aad)
                                             : part == kNonce ? std::span<std::uint8_t>(t.nonce)
                                                              : std::span<std::uint8_t>(t.key);
            const std::size_t b = bit % (target.size() * 8);
            target[b / 8] ^= static_cast<std::uint8_t>(1u << (b % 8));
            Bytes out(t.cipher.size(), 0xEE);
            EXPECT_FALSE(AesGcmOpen(t.key, t.nonce, t.aad, t.cipher, t.tag, out))
                << "part " << part << " bit " << b;
            EXPECT_TRUE(AllZero(out)) << "part " << part << " bit " << b;
        }
    }
    // Dropping the AAD, or cutting the cipher text short, fails as well.
    Bytes out(v.cipher.size(), 0xEE);
    EXPECT_FALSE(AesGcmOpen(v.key, v.nonce, {}, v.cipher, v.tag, out));
    EXPECT_TRUE(AllZero(out));
    const std::span<const std::uint8_t> shorter(v.cipher.data(), v.cipher.size() - 1);
    EXPECT_FALSE(AesGcmOpen(v.key, v.nonce, v.aad, shorter, v.tag, out));
    EXPECT_TRUE(AllZero(out));
}

TEST(AesGcm, OutputTooSmallFailsAndInPlaceWorks) {
    const GcmVector v = Load(kGcmCases[2]);
    Bytes small(v.plain.size() - 1, 0xEE);
    std::array<std::uint8_t, kGcmTagSize> tag{};
    EXPECT_FALSE(AesGcmSeal(v.key, v.nonce, v.aad, v.plain, small, tag));
    EXPECT_FALSE(AesGcmOpen(v.key, v.nonce, v.aad, v.cipher, v.tag, small));
    EXPECT_TRUE(AllZero(small));

    // The same buffer may be both input and output.
    Bytes buf = v.plain;
    ASSERT_TRUE(AesGcmSeal(v.key, v.nonce, v.aad, buf, buf, tag));
    EXPECT_EQ(ToHex(v.cipher), ToHex(buf));
    ASSERT_TRUE(AesGcmOpen(v.key, v.nonce, v.aad, buf, tag, buf));
    EXPECT_EQ(ToHex(v.plain), ToHex(buf));
    // A partly overlapping output is refused rather than producing garbage.
    Bytes wide(v.plain.size() + 1);
    std::copy(v.plain.begin(), v.plain.end(), wide.begin());
    const std::span<const std::uint8_t> in(wide.data(), v.plain.size());
    const std::span<std::uint8_t> shifted(wide.data() + 1, v.plain.size());
    EXPECT_FALSE(AesGcmSeal(v.key, v.nonce, v.aad, in, shifted, tag));
}

TEST(Sha256, KnownAnswers) {
    const struct {
        std::string_view message, want;
    } cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& c : cases) {
        std::array<std::uint8_t, kSha256Size> got{};
        const Bytes msg = FromText(c.message);
        ASSERT_TRUE(Sha256(msg, got));
        EXPECT_EQ(c.want, ToHex(got)) << '"' << c.message << '"';
    }
}

TEST(RandomBytes, FillsTheWholeBufferWithFreshBytes) {
    Bytes a(4096, 0), b(4096, 0);
    ASSERT_TRUE(RandomBytes(a));
    ASSERT_TRUE(RandomBytes(b));
    EXPECT_NE(a, b);
    // A short fill would leave the tail as it was.
    EXPECT_FALSE(AllZero(std::span<const std::uint8_t>(a).last(32)));
    EXPECT_FALSE(AllZero(std::span<const std::uint8_t>(b).last(32)));
    EXPECT_TRUE(RandomBytes(std::span<std::uint8_t>()));
}

// The backends share cached provider handles: use from several threads at once must give the
// same answers as from one.
TEST(Crypto, ConcurrentUseGivesTheSameAnswers) {
    const GcmVector v = Load(kGcmCases[2]);
    const Bytes salt = FromText("salt");
    std::vector<std::thread> threads;
    std::array<int, 4> failures{};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                Bytes cipher(v.plain.size());
                std::array<std::uint8_t, kGcmTagSize> tag{};
                Bytes plain(v.plain.size());
                std::array<std::uint8_t, kSha256Size> digest{};
                Bytes dk(32);
                const bool ok =
                    AesGcmSeal(v.key, v.nonce, v.aad, v.plain, cipher, tag) && cipher == v.cipher &&
                    tag == v.tag && AesGcmOpen(v.key, v.nonce, v.aad, cipher, tag, plain) &&
                    plain == v.plain && Sha256(salt, digest) &&
                    Pbkdf2Sha256("password", salt, 2, dk) &&
                    ToHex(dk) == "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43";
                if (!ok) {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    EXPECT_EQ((std::array<int, 4>{}), failures);
}

}  // namespace
}  // namespace ob::crypto
