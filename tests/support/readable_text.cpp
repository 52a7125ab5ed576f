// GBK texts shown readably in test failures: converted to UTF-8, with their bytes in hex.
#include "tests/support/scripted_platform.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace ob::test {
namespace {

std::string Utf8FromGbk(std::string_view gbk) {
#if defined(_WIN32)
    if (gbk.empty()) {
        return {};
    }
    int n = MultiByteToWideChar(54936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    if (n <= 0) {
        return "(not convertible)";
    }
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(54936, 0, gbk.data(), static_cast<int>(gbk.size()), w.data(), n);
    int m = WideCharToMultiByte(CP_UTF8, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), n, out.data(), m, nullptr, nullptr);
    return out;
#else
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return "(no converter)";
    }
    std::string in(gbk);
    std::string out(in.size() * 4 + 4, '\0');
    char* ip = in.data();
    std::size_t il = in.size();
    char* op = out.data();
    std::size_t ol = out.size();
    std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) {
        return "(not convertible)";
    }
    out.resize(out.size() - ol);
    return out;
#endif
}

}  // namespace

std::string Readable(std::string_view gbk) {
    std::string s = "\"";
    s += Utf8FromGbk(gbk);
    s += "\" [";
    char buf[4];
    for (std::size_t i = 0; i < gbk.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(gbk[i]));
        if (i > 0) {
            s += ' ';
        }
        s += buf;
    }
    s += ']';
    return s;
}

}  // namespace ob::test
