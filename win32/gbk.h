// Conversion between the program's GBK texts (code page 936) and the UTF-16 of the wide Win32 APIs,
// independent of the system's ANSI code page; strict in the direction that feeds the program.
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <climits>
#include <optional>
#include <string>
#include <string_view>

#include "base/secure.h"

namespace ob::win32 {

inline constexpr UINT kGbkCodePage = 936;

// A UTF-16 string whose buffers are wiped when released (edit boxes may hold passwords).
class WideSecret
    : public std::basic_string<wchar_t, std::char_traits<wchar_t>, WipingAllocator<wchar_t>> {
  public:
    using Base = std::basic_string<wchar_t, std::char_traits<wchar_t>, WipingAllocator<wchar_t>>;
    using Base::Base;
    WideSecret() = default;
    WideSecret(const WideSecret&) = default;
    WideSecret(WideSecret&& o) noexcept : Base(std::move(o)) {}
    WideSecret& operator=(const WideSecret&) = default;
    WideSecret& operator=(WideSecret&& o) noexcept {
        Base::operator=(std::move(o));
        return *this;
    }
    ~WideSecret() { SecureWipe(data(), capacity() * sizeof(wchar_t)); }
    std::wstring_view view() const noexcept { return {data(), size()}; }
};

// GBK bytes to UTF-16 for showing. Invalid byte sequences become the replacement character the
// system chooses; the result never fails. Stops at an embedded 0 byte, as every text ends there.
inline WideSecret GbkToWide(std::string_view gbk) {
    const std::size_t nul = gbk.find('\0');
    if (nul != std::string_view::npos) {
        gbk = gbk.substr(0, nul);
    }
    WideSecret out;
    if (gbk.empty() || gbk.size() > static_cast<std::size_t>(INT_MAX)) {
        return out;
    }
    const int in_len = static_cast<int>(gbk.size());
    const int n = MultiByteToWideChar(kGbkCodePage, 0, gbk.data(), in_len, nullptr, 0);
    if (n <= 0) {
        return out;
    }
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(kGbkCodePage, 0, gbk.data(), in_len, out.data(), n);
    return out;
}

// True when every byte of 0x80 or more starts a double-byte character with a valid trail byte, as
// the program's text routines take it. Code page 936 also has the single byte 0x80 for the euro
// sign, which those routines would pair with the byte after it; such a text is refused.
inline bool IsDoubleByteWellFormed(std::string_view gbk) noexcept {
    for (std::size_t i = 0; i < gbk.size(); ++i) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (lead < 0x80) {
            continue;
        }
        if (lead == 0x80 || lead == 0xFF || i + 1 >= gbk.size()) {
            return false;
        }
        const auto trail = static_cast<unsigned char>(gbk[++i]);
        if (trail < 0x40 || trail == 0x7F || trail == 0xFF) {
            return false;
        }
    }
    return true;
}

// UTF-16 to GBK bytes, strictly: nothing when a character has no GBK form (no best-fit look-alike,
// no "?" in its place), when the text holds a 0 character, or when a character would become a
// single byte of 0x80 or more. The round trip is checked as well,
// so a system whose tables map a character loosely is caught too.
inline std::optional<SecureString> WideToGbkStrict(std::wstring_view wide) {
    SecureString out;
    if (wide.empty()) {
        return out;
    }
    if (wide.size() > static_cast<std::size_t>(INT_MAX / 2) ||
        wide.find(L'\0') != std::wstring_view::npos) {
        return std::nullopt;
    }
    const int in_len = static_cast<int>(wide.size());
    BOOL used_default = FALSE;
    const int n = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), in_len,
                                      nullptr, 0, nullptr, &used_default);
    if (n <= 0 || used_default) {
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(n));
    used_default = FALSE;
    const int m = WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), in_len,
                                      out.data(), n, nullptr, &used_default);
    if (m != n || used_default) {
        return std::nullopt;
    }
    if (!IsDoubleByteWellFormed(out.view())) {
        return std::nullopt;
    }
    const WideSecret back = GbkToWide(out.view());
    if (back.view() != wide) {
        return std::nullopt;
    }
    return out;
}

}  // namespace ob::win32

#endif  // _WIN32
