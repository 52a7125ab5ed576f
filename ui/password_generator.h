// The random password generator of the add-record window: uniform draws from the operating
// system's cryptographic generator, passwords of digits and letters, and the 位数 box's count.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/secure.h"
#include "platform/window_template.h"

namespace ob {

// The longest password the "随机" button makes. A larger count in the 位数 box gives a password of
// this length: a count in the millions would otherwise keep the window busy and fill memory, and
// no site takes a password this long anyway.
inline constexpr std::int32_t kMaxGeneratedPasswordLength = 1024;

// Shown when the system's generator gives no random bytes (the password box is left as it was).
inline constexpr std::string_view kRandomSourceFailedText =
    "无法生成随机密码：系统的随机数生成器不可用。";

// A value from low to high inclusive (low < high), every value equally likely: 32-bit draws from
// the system's cryptographic generator, with the draws that would favour some values rejected.
// Nothing when the generator fails.
std::optional<std::int32_t> RandomInRange(std::int32_t low, std::int32_t high);

// count characters, each from one draw for its class (digits, capital letters, small letters,
// one in three each) and one for the character within the class; the empty text for count < 1.
// Nothing when the generator fails.
std::optional<SecureString> GeneratePassword(std::int32_t count);

// The count that a 位数 text stands for: full-width forms of ASCII characters and the ideographic
// space read as their ASCII counterparts, leading white space skipped, one optional sign, then
// the decimal digits up to the first other character (none: 0), accumulated modulo 2^32 and read
// as a signed 32-bit number.
std::int32_t PasswordCountFromText(std::string_view text);

// The click of "随机" (按钮3): fills 编辑框3 with a password of the count in 编辑框5, capped at
// kMaxGeneratedPasswordLength; a count below 1 empties it.
void OnRandomPasswordClicked(WindowRef w);

// Tests only: the source of random bytes (nullptr restores the system's generator).
using RandomByteSource = bool (*)(std::span<std::uint8_t> out);
RandomByteSource SetRandomByteSourceForTesting(RandomByteSource source) noexcept;

}  // namespace ob
