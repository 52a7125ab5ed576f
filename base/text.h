// Byte-string text helpers: GBK (code page 936) texts, lengths and positions in bytes from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ob {

// A text of the program: 0-free bytes in the ANSI code page (GBK). Empty and "no text" are one.
using Text = std::string;

// True for a byte that starts a double-byte character (0x80 or more).
constexpr bool IsLeadByte(unsigned char c) noexcept {
    return c >= 0x80;
}

// The first n bytes (all of t when n exceeds its length, the empty text for n < 1). May cut a
// double-byte character.
Text TextLeft(std::string_view t, std::int64_t n);
// The last n bytes, likewise.
Text TextRight(std::string_view t, std::int64_t n);
// n bytes from the 1-based position start; the empty text when start lies past the end.
Text TextMiddle(std::string_view t, std::int64_t start, std::int64_t n);

// Removes ASCII spaces (0x20) and ideographic spaces (0xA1 0xA1) from both ends and nothing else.
// A byte of 0x80 or more is taken together with the byte after it.
Text TextTrim(std::string_view t);
// True when TextTrim would leave nothing.
bool TextIsBlank(std::string_view t) noexcept;

// Splits at every occurrence of sep, scanning from the left; a byte of 0x80 or more is taken
// together with the byte after it, so a separator byte right after it does not split. Empty
// pieces before or between separators count; the rest after the last separator counts only if
// it is not empty.
std::vector<Text> TextSplit(std::string_view t, std::string_view sep);

// TextSplit without allocation: stores the first out.size() pieces as views into t and returns
// the number of pieces there are (which may exceed out.size()).
std::size_t TextSplitViews(std::string_view t, std::string_view sep,
                           std::span<std::string_view> out) noexcept;

}  // namespace ob
