// The cryptography interface on Windows CNG (bcrypt): PBKDF2, AES-256-GCM, SHA-256 and the RNG.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "base/secure.h"
#include "store/crypto.h"

namespace ob::crypto {
namespace {

constexpr std::size_t kMaxUlong = 0xFFFFFFFFu;

// The algorithm providers, opened once per process on first use (a function-local static, so the
// first call from any thread opens them exactly once) and kept for the process's lifetime. An
// algorithm handle may be used by several threads at once; only keys and hash objects are
// per call. They are never closed: a destructor at exit could run after another static's
// destructor still needs them.
struct Providers {
    BCRYPT_ALG_HANDLE aes = nullptr;   // AES with the chaining mode fixed to GCM
    BCRYPT_ALG_HANDLE sha = nullptr;   // SHA-256
    BCRYPT_ALG_HANDLE hmac = nullptr;  // HMAC-SHA-256, the pseudo-random function of PBKDF2
    ULONG aes_object_size = 0;

    Providers() noexcept {
        aes = Open(BCRYPT_AES_ALGORITHM, 0);
        if (aes != nullptr &&
            (!BCRYPT_SUCCESS(BCryptSetProperty(
                 aes, BCRYPT_CHAINING_MODE,
                 reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                 static_cast<ULONG>(sizeof(BCRYPT_CHAIN_MODE_GCM)), 0)) ||
             !QueryObjectSize(aes, aes_object_size))) {
            BCryptCloseAlgorithmProvider(aes, 0);
            aes = nullptr;
        }
        sha = Open(BCRYPT_SHA256_ALGORITHM, 0);
        hmac = Open(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    }

    static BCRYPT_ALG_HANDLE Open(LPCWSTR id, ULONG flags) noexcept {
        BCRYPT_ALG_HANDLE h = nullptr;
        return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, id, nullptr, flags)) ? h : nullptr;
    }
    static bool QueryObjectSize(BCRYPT_ALG_HANDLE alg, ULONG& size) noexcept {
        ULONG got = 0;
        return BCRYPT_SUCCESS(BCryptGetProperty(alg, BCRYPT_OBJECT_LENGTH,
                                                reinterpret_cast<PUCHAR>(&size), sizeof size, &got,
                                                0)) &&
               got == sizeof size;
    }
};

const Providers& Cng() noexcept {
    static const Providers providers;
    return providers;
}

// One AES-256 key for one call, in a key object buffer of our own that is wiped when released.
// (Wine 8 ignores the buffer and keeps its own copy of the key, which it frees unwiped.)
class AesKey {
  public:
    explicit AesKey(std::span<const std::uint8_t, kAesKeySize> key) noexcept {
        const Providers& p = Cng();
        if (p.aes == nullptr) {
            return;
        }
        size_ = p.aes_object_size;
        object_ = new (std::nothrow) UCHAR[size_ ? size_ : 1];
        if (object_ == nullptr) {
            return;
        }
        if (!BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(p.aes, &handle_, object_, size_,
                                                       const_cast<PUCHAR>(key.data()),
                                                       static_cast<ULONG>(key.size()), 0))) {
            handle_ = nullptr;
        }
    }
    ~AesKey() {
        if (handle_ != nullptr) {
            BCryptDestroyKey(handle_);
        }
        if (object_ != nullptr) {
            SecureWipe(object_, size_);
            delete[] object_;
        }
    }
    AesKey(const AesKey&) = delete;
    AesKey& operator=(const AesKey&) = delete;

    BCRYPT_KEY_HANDLE get() const noexcept { return handle_; }

  private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
    PUCHAR object_ = nullptr;
    ULONG size_ = 0;
};

bool PartlyOverlap(const std::uint8_t* a, std::size_t an, const std::uint8_t* b,
                   std::size_t bn) noexcept {
    if (an == 0 || bn == 0 || a == b) {
        return false;
    }
    return a < b + bn && b < a + an;
}

PUCHAR Mutable(const std::uint8_t* p) noexcept {
    return const_cast<PUCHAR>(p);
}

// The GCM parameters of one call; CNG takes them through non-const pointers but only reads the
// nonce, the AAD and (when opening) the tag.
BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO GcmInfo(std::span<const std::uint8_t, kGcmNonceSize> nonce,
                                              std::span<const std::uint8_t> aad,
                                              std::uint8_t* tag) noexcept {
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = Mutable(nonce.data());
    info.cbNonce = static_cast<ULONG>(nonce.size());
    info.pbAuthData = aad.empty() ? nullptr : Mutable(aad.data());
    info.cbAuthData = static_cast<ULONG>(aad.size());
    info.pbTag = tag;
    info.cbTag = static_cast<ULONG>(kGcmTagSize);
    return info;
}

}  // namespace

bool RandomBytes(std::span<std::uint8_t> out) noexcept {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t n = std::min(kMaxUlong, out.size() - done);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out.data() + done, static_cast<ULONG>(n),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            SecureWipe(out.data(), out.size());
            return false;
        }
        done += n;
    }
    return true;
}

bool Pbkdf2Sha256(std::string_view password, std::span<const std::uint8_t> salt,
                  std::uint32_t iterations, std::span<std::uint8_t> out) noexcept {
    const Providers& p = Cng();
    if (p.hmac == nullptr || iterations == 0 || out.empty() || out.size() > kMaxUlong ||
        password.size() > kMaxUlong || salt.size() > kMaxUlong) {
        return false;
    }
    // HMAC pads its key with zeros to the block size, so the empty key and the one-byte key 0 are
    // the same key; handing CNG the latter keeps a zero-length secret, whose handling CNG does not
    // document, out of the call.
    static const UCHAR kZero[1] = {0};
    PUCHAR pass = password.empty() ? const_cast<PUCHAR>(kZero)
                                   : reinterpret_cast<PUCHAR>(const_cast<char*>(password.data()));
    const ULONG pass_len = password.empty() ? 1 : static_cast<ULONG>(password.size());
    const NTSTATUS st = BCryptDeriveKeyPBKDF2(
        p.hmac, pass, pass_len, salt.empty() ? nullptr : Mutable(salt.data()),
        static_cast<ULONG>(salt.size()), iterations, out.data(), static_cast<ULONG>(out.size()), 0);
    if (!BCRYPT_SUCCESS(st)) {
        SecureWipe(out.data(), out.size());
        return false;
    }
    return true;
}

bool AesGcmSeal(std::span<const std::uint8_t, kAesKeySize> key,
                std::span<const std::uint8_t, kGcmNonceSize> nonce,
                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> plaintext,
                std::span<std::uint8_t> out, std::span<std::uint8_t, kGcmTagSize> tag) noexcept {
    if (out.size() < plaintext.size() || plaintext.size() > kMaxUlong || aad.size() > kMaxUlong ||
        PartlyOverlap(plaintext.data(), plaintext.size(), out.data(), plaintext.size())) {
        return false;
    }
    AesKey k(key);
    if (k.get() == nullptr) {
        return false;
    }
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = GcmInfo(nonce, aad, tag.data());
    ULONG written = 0;
    const ULONG n = static_cast<ULONG>(plaintext.size());
    const NTSTATUS st = BCryptEncrypt(k.get(), n ? Mutable(plaintext.data()) : nullptr, n, &info,
                                      nullptr, 0, n ? out.data() : nullptr, n, &written, 0);
    if (!BCRYPT_SUCCESS(st) || written != n) {
        SecureWipe(tag.data(), tag.size());
        return false;
    }
    return true;
}

bool AesGcmOpen(std::span<const std::uint8_t, kAesKeySize> key,
                std::span<const std::uint8_t, kGcmNonceSize> nonce,
                std::span<const std::uint8_t> aad, std::span<const std::uint8_t> ciphertext,
                std::span<const std::uint8_t, kGcmTagSize> tag,
                std::span<std::uint8_t> out) noexcept {
    bool ok = out.size() >= ciphertext.size() && ciphertext.size() <= kMaxUlong &&
              aad.size() <= kMaxUlong &&
              !PartlyOverlap(ciphertext.data(), ciphertext.size(), out.data(), ciphertext.size());
    if (ok) {
        AesKey k(key);
        BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = GcmInfo(nonce, aad, Mutable(tag.data()));
        ULONG written = 0;
        const ULONG n = static_cast<ULONG>(ciphertext.size());
        ok = k.get() != nullptr &&
             BCRYPT_SUCCESS(BCryptDecrypt(k.get(), n ? Mutable(ciphertext.data()) : nullptr, n,
                                          &info, nullptr, 0, n ? out.data() : nullptr, n, &written,
                                          0)) &&
             written == n;
    }
    if (!ok) {
        // CNG may have written plain text before it compared the tag; none of it may reach the
        // caller.
        SecureWipe(out.data(), out.size());
    }
    return ok;
}

bool Sha256(std::span<const std::uint8_t> data, std::span<std::uint8_t, kSha256Size> out) noexcept {
    const Providers& p = Cng();
    BCRYPT_HASH_HANDLE h = nullptr;
    bool ok =
        p.sha != nullptr && BCRYPT_SUCCESS(BCryptCreateHash(p.sha, &h, nullptr, 0, nullptr, 0, 0));
    std::size_t done = 0;
    while (ok && done < data.size()) {
        const std::size_t n = std::min(kMaxUlong, data.size() - done);
        ok = BCRYPT_SUCCESS(
            BCryptHashData(h, Mutable(data.data() + done), static_cast<ULONG>(n), 0));
        done += n;
    }
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(h, out.data(), static_cast<ULONG>(out.size()), 0));
    if (h != nullptr) {
        BCryptDestroyHash(h);
    }
    if (!ok) {
        SecureWipe(out.data(), out.size());
    }
    return ok;
}

}  // namespace ob::crypto
