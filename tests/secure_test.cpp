// Wiping of secrets and the fatal-error dispatch.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "base/fatal.h"
#include "base/secure.h"

namespace ob {
namespace {

TEST(SecureWipe, ZeroesTheRange) {
    unsigned char buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SecureWipe(buf + 2, 4);
    const unsigned char want[8] = {1, 2, 0, 0, 0, 0, 7, 8};
    EXPECT_EQ(0, memcmp(buf, want, sizeof buf));
}

TEST(SecureString, WipeEmptiesAndKeepsValueSemantics) {
    SecureString a("a secret longer than the short-string buffer");
    SecureString b = a;
    EXPECT_EQ(a.view(), b.view());
    a.Wipe();
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(b.view(), "a secret longer than the short-string buffer");
    SecureString c = std::move(b);
    EXPECT_EQ(c.view(), "a secret longer than the short-string buffer");
}

struct Raised : std::runtime_error {
    int code;
    Raised(int c, std::string_view m) : std::runtime_error(std::string(m)), code(c) {}
};

TEST(FatalError, ReachesTheInstalledHandler) {
    auto old =
        SetFatalErrorHandler([](int code, std::string_view msg) { throw Raised(code, msg); });
    try {
        RaiseFatalError(5, "boom");
        FAIL() << "RaiseFatalError returned";
    } catch (const Raised& e) {
        EXPECT_EQ(e.code, 5);
        EXPECT_STREQ(e.what(), "boom");
    }
    SetFatalErrorHandler(old);
}

TEST(FatalErrorDeathTest, EndsTheProcessWithoutHandler) {
    auto old = SetFatalErrorHandler(nullptr);
    EXPECT_EXIT(
        RaiseFatalError(0, "x"), [](int st) { return st != 0; }, "");
    SetFatalErrorHandler(old);
}

}  // namespace
}  // namespace ob
