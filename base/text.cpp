// Byte-wise text helpers for GBK texts: parts by byte count, trimming and splitting that keep a
// double-byte character (lead byte 0x80 or more plus the byte after it) in one piece.
#include "base/text.h"

#include <cstddef>
#include <cstring>

namespace ob {
namespace {

// Length in bytes of the character that starts at t[i]: a lead byte takes the next byte with it
// when there is one.
std::size_t CharLength(std::string_view t, std::size_t i) noexcept {
    return IsLeadByte(static_cast<unsigned char>(t[i])) && i + 1 < t.size() ? 2 : 1;
}

// 1 or 2 when a blank character (0x20, or 0xA1 0xA1) starts at t[i], else 0.
std::size_t BlankLength(std::string_view t, std::size_t i) noexcept {
    if (t[i] == ' ') {
        return 1;
    }
    if (static_cast<unsigned char>(t[i]) == 0xA1 && i + 1 < t.size() &&
        static_cast<unsigned char>(t[i + 1]) == 0xA1) {
        return 2;
    }
    return 0;
}

// Byte range [begin, end) of t that trimming leaves. Character boundaries are found from the
// left, so a trailing byte of a double-byte character is never mistaken for a space.
struct Range {
    std::size_t begin;
    std::size_t end;
};

Range TrimRange(std::string_view t) noexcept {
    std::size_t i = 0;
    while (i < t.size()) {
        std::size_t b = BlankLength(t, i);
        if (b == 0) {
            break;
        }
        i += b;
    }
    const std::size_t begin = i;
    std::size_t end = begin;
    while (i < t.size()) {
        std::size_t b = BlankLength(t, i);
        if (b != 0) {
            i += b;
        } else {
            i += CharLength(t, i);
            end = i;
        }
    }
    return {begin, end};
}

}  // namespace

Text TextLeft(std::string_view t, std::int64_t n) {
    if (n < 1) {
        return {};
    }
    return Text(t.substr(
        0, static_cast<std::uint64_t>(n) < t.size() ? static_cast<std::size_t>(n) : t.size()));
}

Text TextRight(std::string_view t, std::int64_t n) {
    if (n < 1) {
        return {};
    }
    if (static_cast<std::uint64_t>(n) >= t.size()) {
        return Text(t);
    }
    return Text(t.substr(t.size() - static_cast<std::size_t>(n)));
}

Text TextMiddle(std::string_view t, std::int64_t start, std::int64_t n) {
    // A start before the first byte counts from the first byte.
    if (n < 1 || (start > 0 && static_cast<std::uint64_t>(start) > t.size())) {
        return {};
    }
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
    const std::size_t rest = t.size() - from;
    const std::size_t count =
        static_cast<std::uint64_t>(n) < rest ? static_cast<std::size_t>(n) : rest;
    return Text(t.substr(from, count));
}

Text TextTrim(std::string_view t) {
    const Range r = TrimRange(t);
    return Text(t.substr(r.begin, r.end - r.begin));
}

bool TextIsBlank(std::string_view t) noexcept {
    // Stops at the first character that is not blank: a long text costs nothing.
    std::size_t i = 0;
    while (i < t.size()) {
        std::size_t b = BlankLength(t, i);
        if (b == 0) {
            return false;
        }
        i += b;
    }
    return true;
}

std::size_t TextSplitViews(std::string_view t, std::string_view sep,
                           std::span<std::string_view> out) noexcept {
    std::size_t count = 0;
    auto emit = [&](std::size_t b, std::size_t e) {
        if (count < out.size()) {
            out[count] = t.substr(b, e - b);
        }
        ++count;
    };
    if (sep.empty()) {
        if (!t.empty()) {
            emit(0, t.size());
        }
        return count;
    }
    std::size_t piece = 0;
    if (sep.size() == 1 && !IsLeadByte(static_cast<unsigned char>(sep[0]))) {
        // Fast path for an ASCII separator: find candidates with memchr. A byte below 0x80 ends
        // any double-byte character, so a candidate at j sits on a character boundary exactly
        // when the run of bytes of 0x80 or more right before it has even length.
        std::size_t from = 0;
        while (from < t.size()) {
            const void* hit = std::memchr(t.data() + from, sep[0], t.size() - from);
            if (hit == nullptr) {
                break;
            }
            const std::size_t j =
                static_cast<std::size_t>(static_cast<const char*>(hit) - t.data());
            std::size_t run = 0;
            while (run < j && IsLeadByte(static_cast<unsigned char>(t[j - 1 - run]))) {
                ++run;
            }
            if (run % 2 == 0) {
                emit(piece, j);
                piece = j + 1;
            }
            from = j + 1;
        }
    } else {
        std::size_t i = 0;
        while (i < t.size()) {
            if (t.compare(i, sep.size(), sep) == 0) {
                emit(piece, i);
                i += sep.size();
                piece = i;
            } else {
                i += CharLength(t, i);
            }
        }
    }
    if (piece < t.size()) {
        emit(piece, t.size());
    }
    return count;
}

std::vector<Text> TextSplit(std::string_view t, std::string_view sep) {
    const std::size_t n = TextSplitViews(t, sep, {});
    std::vector<std::string_view> views(n);
    TextSplitViews(t, sep, views);
    return std::vector<Text>(views.begin(), views.end());
}

}  // namespace ob
