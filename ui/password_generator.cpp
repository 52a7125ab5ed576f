// Random passwords from the system's cryptographic generator, and the "随机" button's handler.
#include "ui/password_generator.h"

#include <array>
#include <atomic>
#include <cstring>

#include "platform/dialogs.h"
#include "platform/platform.h"
#include "store/crypto.h"

namespace ob {
namespace {

bool SystemRandomBytes(std::span<std::uint8_t> out) {
    return crypto::RandomBytes(out);
}

std::atomic<RandomByteSource> g_source{&SystemRandomBytes};

std::optional<std::uint32_t> Draw32() {
    std::array<std::uint8_t, 4> b{};
    if (!g_source.load()(b)) {
        return std::nullopt;
    }
    std::uint32_t v;
    std::memcpy(&v, b.data(), sizeof v);
    SecureWipe(b.data(), b.size());
    return v;
}

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

RandomByteSource SetRandomByteSourceForTesting(RandomByteSource source) noexcept {
    return g_source.exchange(source != nullptr ? source : &SystemRandomBytes);
}

std::optional<std::int32_t> RandomInRange(std::int32_t low, std::int32_t high) {
    if (low >= high) {
        return low;
    }
    const std::uint64_t n = static_cast<std::uint64_t>(static_cast<std::int64_t>(high) - low) + 1;
    // The largest multiple of n not above 2^32: below it every residue occurs equally often.
    const std::uint64_t limit = (std::uint64_t{1} << 32) - ((std::uint64_t{1} << 32) % n);
    for (;;) {
        std::optional<std::uint32_t> x = Draw32();
        if (!x) {
            return std::nullopt;
        }
        if (*x < limit) {
            return static_cast<std::int32_t>(static_cast<std::int64_t>(low) +
                                             static_cast<std::int64_t>(*x % n));
        }
    }
}

std::optional<SecureString> GeneratePassword(std::int32_t count) {
    SecureString out;
    if (count < 1) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        std::optional<std::int32_t> cls = RandomInRange(1, 3);
        if (!cls) {
            return std::nullopt;
        }
        std::optional<std::int32_t> code = *cls == 1   ? RandomInRange('0', '9')
                                           : *cls == 2 ? RandomInRange('A', 'Z')
                                                       : RandomInRange('a', 'z');
        if (!code) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(*code));
    }
    return out;
}

std::int32_t PasswordCountFromText(std::string_view text) {
    std::string ascii;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b >= 0x80 && i + 1 < text.size()) {
            const unsigned char t = static_cast<unsigned char>(text[i + 1]);
            if (b == 0xA3 && t >= 0xA1 && t <= 0xFE) {
                ascii.push_back(static_cast<char>(t - 0x80));
            } else if (b == 0xA1 && t == 0xA1) {
                ascii.push_back(' ');
            } else {
                ascii.push_back(static_cast<char>(b));
                ascii.push_back(static_cast<char>(t));
            }
            ++i;
        } else {
            ascii.push_back(static_cast<char>(b));
        }
    }
    std::size_t i = 0;
    while (i < ascii.size() && IsWhiteSpace(ascii[i])) {
        ++i;
    }
    bool negative = false;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) {
        negative = ascii[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;  // unsigned: the arithmetic wraps modulo 2^32 by definition
    for (; i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(ascii[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

void OnRandomPasswordClicked(WindowRef w) {
    Platform& p = ThePlatform();
    std::optional<SecureString> text = p.GetControlText(w, "编辑框5");
    if (!text) {
        ShowMessageBox(kUnrepresentableText, 48);
        return;
    }
    std::int32_t count = PasswordCountFromText(*text);
    if (count > kMaxGeneratedPasswordLength) {
        count = kMaxGeneratedPasswordLength;
    }
    std::optional<SecureString> password = GeneratePassword(count);
    if (!password) {
        ShowMessageBox(kRandomSourceFailedText, 16);
        return;
    }
    p.SetControlText(w, "编辑框3", *password);
}

}  // namespace ob
