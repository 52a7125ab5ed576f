// The cryptography interface on OpenSSL libcrypto 3: PBKDF2, AES-256-GCM, SHA-256 and the CSPRNG.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "base/secure.h"
#include "store/crypto.h"

namespace ob::crypto {
namespace {

// OpenSSL counts lengths in int; longer inputs go through in pieces of this size.
constexpr std::size_t kChunk = std::size_t{1} << 30;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const noexcept { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const noexcept { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// True when [a, a+an) and [b, b+bn) share a byte without being the very same range.
bool PartlyOverlap(const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
                   std::size_t bn) noexcept {
    if (an == 0 || bn == 0 || a == b) {
        return false;
    }
    return a < b + bn && b < a + an;
}

// Feeds data through an initialised GCM context; with out == nullptr the data is AAD.
bool GcmUpdate(EVP_CIPHER_CTX* ctx, bool encrypt, std::span<const std::uint8_t> in,
               std::uint8_t* out) noexcept {
    std::size_t done = 0;
    while (done < in.size()) {
        const std::size_t n = std::min(kChunk, in.size() - done);
        int outl = 0;
        const int len = static_cast<int>(n);
        const int ok =
            encrypt
                ? EVP_EncryptUpdate(ctx, out ? out + done : nullptr, &outl, in.data() + done, len)
                : EVP_DecryptUpdate(ctx, out ? out + done : nullptr, &outl, in.data() + done, len);
        if (ok != 1 || (out != nullptr && outl != len)) {
            return false;
        }
        done += n;
    }
    return true;
}

// Creates a GCM context keyed for one message, or nullptr.
CipherCtx GcmContext(bool encrypt, std::span<const std::uint8_t, kAesKeySize> key,
                     std::span<const std::uint8_t, kGcmNonceSize> nonce) noexcept {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) {
        return nullptr;
    }
    const EVP_CIPHER* aes = EVP_aes_256_gcm();
    const int ok = encrypt ? EVP_EncryptInit_ex(ctx.get(), aes, nullptr, nullptr, nullptr)
                           : EVP_DecryptInit_ex(ctx.get(), aes, nullptr, nullptr, nullptr);
    if (ok != 1 || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN,
                                       static_cast<int>(kGcmNonceSize), nullptr) != 1) {
        return nullptr;
    }
    const int keyed =
        encrypt ? EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data())
                : EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data());
    return keyed == 1 ? std::move(ctx) : nullptr;
}

}  // namespace

bool RandomBytes(std::span<std::uint8_t> out) noexcept {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t n = std::min(kChunk, out.size() - done);
        if (RAND_bytes(out.data() + done, static_cast<int>(n)) != 1) {
            SecureWipe(out.data(), out.size());
            return false;
        }
        done += n;
    }
    return true;
}

bool Pbkdf2Sha256(std::string_view password, std::span<const std::uint8_t> salt,
                  std::uint32_t iterations, std::span<std::uint8_t> out) noexcept {
    if (iterations == 0 || iterations > static_cast<std::uint32_t>(INT_MAX) || out.empty() ||
        out.size() > static_cast<std::size_t>(INT_MAX) || password.size() > kChunk ||
        salt.size() > kChunk) {
        return false;
    }
    // The library keeps its HMAC state in its own context and cleanses it when done.
    static const char kEmpty[1] = {0};
    const char* pass = password.empty() ? kEmpty : password.data();
    const unsigned char* s =
        salt.empty() ? reinterpret_cast<const unsigned char*>(kEmpty) : salt.data();
    if (PKCS5_PBKDF2_HMAC(pass, static_cast<int>(password.size()), s, static_cast<int>(salt.size()),
                          static_cast<int>(iterations), EVP_sha256(), static_cast<int>(out.size()),
                          out.data()) != 1) {
        SecureWipe(out.data(), out.size());
        return false;
    }
    return true;
}

bool AesGcmSeal(std::span<const std::uint8_t, kAesKeySize> key,
                std::span<const std::uint8_t, kGcmNonceSize> nonce,
                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                std::span<std::uint8_t> out, std::span<std::uint8_t, kGcmTagSize> tag) noexcept {
    if (out.size() < plaintext.size() ||
        PartlyOverlap(plaintext.data(), plaintext.size(), out.data(), plaintext.size())) {
        return false;
    }
    CipherCtx ctx = GcmContext(true, key, nonce);
    int outl = 0;
    std::uint8_t tail[16];
    const bool ok = ctx && GcmUpdate(ctx.get(), true, aad, nullptr) &&
                    GcmUpdate(ctx.get(), true, plaintext, out.data()) &&
                    EVP_EncryptFinal_ex(ctx.get(), tail, &outl) == 1 && outl == 0 &&
                    EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG,
                                        static_cast<int>(kGcmTagSize), tag.data()) == 1;
    if (!ok) {
        SecureWipe(tag.data(), tag.size());
    }
    return ok;
}

bool AesGcmOpen(std::span<const std::uint8_t, kAesKeySize> key,
                std::span<const std::uint8_t, kGcmNonceSize> nonce,
                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
                std::span<const std::uint8_t, kGcmTagSize> tag,
                std::span<std::uint8_t> out) noexcept {
    if (out.size() < ciphertext.size() ||
        PartlyOverlap(ciphertext.data(), ciphertext.size(), out.data(), ciphertext.size())) {
        SecureWipe(out.data(), out.size());
        return false;
    }
    CipherCtx ctx = GcmContext(false, key, nonce);
    // The expected tag is handed over in a copy because the control call takes a mutable pointer.
    std::uint8_t expected[kGcmTagSize];
    std::memcpy(expected, tag.data(), kGcmTagSize);
    int outl = 0;
    std::uint8_t tail[16];
    const bool ok = ctx && GcmUpdate(ctx.get(), false, aad, nullptr) &&
                    GcmUpdate(ctx.get(), false, ciphertext, out.data()) &&
                    EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG,
                                        static_cast<int>(kGcmTagSize), expected) == 1 &&
                    EVP_DecryptFinal_ex(ctx.get(), tail, &outl) == 1 && outl == 0;
    if (!ok) {
        // Unauthenticated plain text must never reach the caller.
        SecureWipe(out.data(), out.size());
    }
    return ok;
}

bool Sha256(std::span<const std::uint8_t> data, std::span<std::uint8_t, kSha256Size> out) noexcept {
    MdCtx ctx(EVP_MD_CTX_new());
    unsigned int len = 0;
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        const std::size_t n = std::min(kChunk, data.size() - done);
        ok = EVP_DigestUpdate(ctx.get(), data.data() + done, n) == 1;
        done += n;
    }
    ok = ok && EVP_DigestFinal_ex(ctx.get(), out.data(), &len) == 1 && len == kSha256Size;
    if (!ok) {
        SecureWipe(out.data(), out.size());
    }
    return ok;
}

}  // namespace ob::crypto
