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

// UTF-16 to GBK bytes, strictly: nothing when a character has no GBK form (no best-fit look-alike,
// no "?" in its place) or when the text holds a 0 character. The round trip is checked as well,
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
    const WideSecret back = GbkToWide(out.view());
    if (back.view() != wide) {
        return std::nullopt;
    }
    return out;
}

}  // namespace ob::win32

#endif  // _WIN32
