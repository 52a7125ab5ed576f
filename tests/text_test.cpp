// Byte semantics of the text helpers: parts by byte count, trimming and splitting that keep a
// double-byte character together.
#include <gtest/gtest.h>

#include <limits>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace ob {
namespace {

constexpr std::int64_t kHuge = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kTiny = std::numeric_limits<std::int64_t>::min();

TEST(Text, ChineseLiteralsAreGbkBytes) {
    // Everything below relies on the build compiling narrow literals to GBK.
    EXPECT_EQ(Text("中文"), Text("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ(Text("　"), Text("\xA1\xA1"));
}

TEST(Text, LeftRightMiddleCountBytes) {
    const std::string_view t = "ab中文";  // a b D6 D0 CE C4
    EXPECT_EQ(TextLeft(t, 3), "ab\xD6");  // cuts the first character in half
    EXPECT_EQ(TextLeft(t, 6), t);
    EXPECT_EQ(TextLeft(t, kHuge), t);
    EXPECT_EQ(TextLeft(t, 0), "");
    EXPECT_EQ(TextLeft(t, -1), "");
    EXPECT_EQ(TextLeft(t, kTiny), "");
    EXPECT_EQ(TextLeft("", 5), "");

    EXPECT_EQ(TextRight(t, 3), "\xD0\xCE\xC4");
    EXPECT_EQ(TextRight(t, 7), t);
    EXPECT_EQ(TextRight(t, kHuge), t);
    EXPECT_EQ(TextRight(t, 0), "");
    EXPECT_EQ(TextRight(t, kTiny), "");

    EXPECT_EQ(TextMiddle(t, 1, 2), "ab");
    EXPECT_EQ(TextMiddle(t, 2, 2), "b\xD6");
    EXPECT_EQ(TextMiddle(t, 4, kHuge), "\xD0\xCE\xC4");
    EXPECT_EQ(TextMiddle(t, 6, 1), "\xC4");
    EXPECT_EQ(TextMiddle(t, 7, 1), "");  // past the end
    EXPECT_EQ(TextMiddle(t, kHuge, kHuge), "");
    EXPECT_EQ(TextMiddle(t, 3, 0), "");
    EXPECT_EQ(TextMiddle(t, 3, -4), "");
    EXPECT_EQ(TextMiddle(t, 0, 2), "ab");  // a start before the first byte counts from it
    EXPECT_EQ(TextMiddle(t, kTiny, 1), "a");
}

struct TrimCase {
    std::string_view in;
    std::string_view trimmed;
};

TEST(Text, TrimRemovesOnlyBothKindsOfSpaceAtTheEnds) {
    const TrimCase cases[] = {
        {"", ""},
        {" ", ""},
        {"\xA1\xA1", ""},
        {" \xA1\xA1  \xA1\xA1 ", ""},
        {"  a b  ", "a b"},
        {"\xA1\xA1中\xA1\xA1文\xA1\xA1", "中\xA1\xA1文"},
        {"\ta\t", "\ta\t"},  // tabs, line breaks and others stay
        {"\r\nx\r\n", "\r\nx\r\n"},
        {"\xA1", "\xA1"},      // a lone 0xA1 is no ideographic space
        {"x\xA1 ", "x\xA1 "},  // 0xA1 takes the space with it: one character, not blank
        {"\xA1 x", "\xA1 x"},
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1"},  // B0 A1 is a character; the last A1 stands alone
        {"\xB0\xA1\xA1\xA1", "\xB0\xA1"},  // B0 A1, then an ideographic space
        {"\xA1\xA1\xA1", "\xA1"},          // ideographic space, then a lone A1
        {" \xA1\xA1\xA1\xA1 x", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
        EXPECT_EQ(TextTrim(c.in), c.trimmed);
        EXPECT_EQ(TextIsBlank(c.in), c.trimmed.empty());
    }
}

struct SplitCase {
    std::string_view in;
    std::string_view sep;
    std::vector<Text> pieces;
};

TEST(Text, SplitCountsEmptyPiecesButNotAnEmptyRest) {
    const SplitCase cases[] = {
        {"", "X", {}},
        {"X", "X", {""}},
        {"XX", "X", {"", ""}},
        {"aXbXc", "X", {"a", "b", "c"}},
        {"aXbXcX", "X", {"a", "b", "c"}},
        {"XaXbXc", "X", {"", "a", "b", "c"}},
        {"aXXb", "X", {"a", "", "b"}},
        {"abc", "X", {"abc"}},
        {"\xB0XaXb", "X", {"\xB0Xa", "b"}},             // B0 X is one character
        {"\xB0\xB0XaXb", "X", {"\xB0\xB0", "a", "b"}},  // B0 B0 is one, then X splits
        {"aX\xB0", "X", {"a", "\xB0"}},                 // lone lead byte at the end
        {"a\xB0", "X", {"a\xB0"}},
        {"a::b::", "::", {"a", "b"}},
        {"a:::b", "::", {"a", ":b"}},
        {"ab", "", {"ab"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.in)));
        EXPECT_EQ(TextSplit(c.in, c.sep), c.pieces);
        EXPECT_EQ(TextSplitViews(c.in, c.sep, {}), c.pieces.size());
    }
}

TEST(Text, SplitViewsFillsOnlyWhatFits) {
    std::string_view out[2];
    EXPECT_EQ(TextSplitViews("aXbXcXd", "X", out), 4u);
    EXPECT_EQ(out[0], "a");
    EXPECT_EQ(out[1], "b");
}

}  // namespace
}  // namespace ob
