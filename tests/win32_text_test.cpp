// The Win32 front end's pure logic: GBK and UTF-16 conversion, refusal of characters GBK cannot
// hold, DPI scaling and centring, the button Enter clicks, and the digits-and-minus filter.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "win32/gbk.h"
#include "win32/window_logic.h"

namespace ob::win32 {
namespace {

TEST(GbkConversion, RoundTripsWhatGbkHolds) {
    struct Case {
        std::string_view gbk;  // narrow literals are GBK bytes in this build
        std::wstring_view wide;
    };
    const Case cases[] = {
        {"", L""},
        {"abc 123?", L"abc 123?"},
        {"中文密码", L"中文密码"},
        {"网址：http://例子.cn/路径?q=一", L"网址：http://例子.cn/路径?q=一"},
        {"１２　ａ", L"１２　ａ"},  // full-width digits, ideographic space
        {"帐号账号", L"帐号账号"},
        {"āé", L"āé"},  // pinyin letters are GBK characters
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GbkToWide(c.gbk).view(), c.wide);
        const std::optional<SecureString> back = WideToGbkStrict(c.wide);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->view(), c.gbk);
    }
    // The GBK bytes themselves, independent of the compiler's literal conversion.
    EXPECT_EQ(GbkToWide("\xD6\xD0\xCE\xC4").view(), L"\u4E2D\u6587");
    EXPECT_EQ(WideToGbkStrict(L"\u4E2D\u6587")->view(), "\xD6\xD0\xCE\xC4");
}

TEST(GbkConversion, RefusesCharactersGbkCannotHold) {
    const std::wstring_view refused[] = {
        L"\uD55C",        // a Hangul syllable
        L"abc\uD55Cdef",  // the whole text is refused, not only the character
        L"\u00C0",        // capital A with grave: no GBK form, a best-fit "A" must not be taken
        L"\u00DF",        // sharp s
        L"\u0E01",        // Thai
        L"\U0001F600",    // outside the basic plane (a surrogate pair)
        L"x\xD800y",      // a lone surrogate
        std::wstring_view(L"a\0b", 3),  // a 0 character would cut the text
        L"5\u20AC",  // the euro sign: a single byte 0x80 in code page 936, no double-byte form
    };
    for (std::wstring_view w : refused) {
        EXPECT_FALSE(WideToGbkStrict(w).has_value()) << "length " << w.size();
    }
}

TEST(GbkConversion, DoubleByteShapeOfTexts) {
    EXPECT_TRUE(IsDoubleByteWellFormed(""));
    EXPECT_TRUE(
        IsDoubleByteWellFormed("a\xD6\xD0"
                               "b\xA1\xA1"));
    EXPECT_TRUE(IsDoubleByteWellFormed("\x81\x40"));  // the lowest trail byte
    EXPECT_FALSE(IsDoubleByteWellFormed("\x80"));     // the single-byte euro sign
    EXPECT_FALSE(IsDoubleByteWellFormed("ab\xD6"));   // a cut double-byte character
    EXPECT_FALSE(IsDoubleByteWellFormed("\xD6\x7F"));
    EXPECT_FALSE(IsDoubleByteWellFormed("\xD6\x20"));
}

TEST(GbkConversion, ShowingStopsAtZeroAndNeverFails) {
    EXPECT_EQ(GbkToWide(std::string_view("ab\0cd", 5)).view(), L"ab");
    // A cut double-byte character (a left part of a text) still shows the rest.
    const WideSecret cut = GbkToWide("ab\xD6");
    ASSERT_GE(cut.size(), 2u);
    EXPECT_EQ(cut.view().substr(0, 2), L"ab");
}

TEST(WindowArithmetic, ScalesAndCentres) {
    struct Scale {
        int pixels, dpi, want;
    };
    const Scale scales[] = {
        {379, 96, 379},  {379, 144, 569}, {68, 120, 85}, {24, 192, 48},
        {576, 144, 864}, {0, 144, 0},     {50, 0, 50},
    };
    for (const Scale& s : scales) {
        EXPECT_EQ(ScaleForDpi(s.pixels, s.dpi), s.want) << s.pixels << " at " << s.dpi;
    }
    // The templates' start positions on a 1024 x 768 screen.
    EXPECT_EQ(CenteredOrigin(1024, 379), 322);
    EXPECT_EQ(CenteredOrigin(768, 68), 350);
    EXPECT_EQ(CenteredOrigin(1024, 576), 224);
    EXPECT_EQ(CenteredOrigin(768, 413), 177);
    EXPECT_EQ(CenteredOrigin(1024, 405), 309);
    EXPECT_EQ(CenteredOrigin(768, 222), 273);
}

TEST(WindowArithmetic, EnterClicksTheFocusedOrFirstUsableDefaultButton) {
    const ButtonState plain{false, true, true};
    const ButtonState def{true, true, true};
    const ButtonState def_disabled{true, false, true};
    const ButtonState def_hidden{true, true, false};
    // The add-record window: 编辑框5, 透明标签5, 按钮3, 按钮1 (default), 编辑框3, ...
    const std::vector<ButtonState> add = {plain, plain, plain, def, plain, plain};
    EXPECT_EQ(EnterTarget(add, 0), 3);  // Enter in an edit box
    EXPECT_EQ(EnterTarget(add, 2), 3);  // Enter while the ordinary button has the focus
    EXPECT_EQ(EnterTarget(add, 3), 3);
    EXPECT_EQ(EnterTarget(add, -1), 3);  // focus outside the controls
    const std::vector<ButtonState> two = {def, plain, def};
    EXPECT_EQ(EnterTarget(two, 2), 2);  // the focused default button wins over the first
    EXPECT_EQ(EnterTarget(two, 1), 0);
    const std::vector<ButtonState> unusable = {def_disabled, def_hidden, def};
    EXPECT_EQ(EnterTarget(unusable, 0), 2);
    const std::vector<ButtonState> none = {plain, def_disabled};
    EXPECT_EQ(EnterTarget(none, 0), -1);  // a window without a usable default button
    EXPECT_EQ(EnterTarget({}, -1), -1);
}

TEST(WindowArithmetic, DigitsAndMinusFilterActsOnTypedCharactersOnly) {
    for (std::uint32_t ch : {U'0', U'5', U'9', U'-'}) {
        EXPECT_TRUE(DigitsAndMinusAccepts(ch)) << ch;
    }
    for (std::uint32_t ch : {U'a', U'Z', U'+', U' ', U'.', U'\uFF11', U'中'}) {
        EXPECT_FALSE(DigitsAndMinusAccepts(ch)) << ch;
    }
    // Backspace, Ctrl+A, Ctrl+C, Ctrl+V, Ctrl+X, Ctrl+Z and Ctrl+Backspace keep working.
    for (std::uint32_t ch : {0x08u, 0x01u, 0x03u, 0x16u, 0x18u, 0x1Au, 0x7Fu}) {
        EXPECT_TRUE(DigitsAndMinusAccepts(ch)) << ch;
    }
}

}  // namespace
}  // namespace ob::win32

#endif  // _WIN32
