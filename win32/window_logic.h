// The arithmetic and choices of the window code that need no window: DPI scaling, the centred
// start position, the button that Enter clicks and the typed-character filter.
#pragma once

#include <cstdint>
#include <span>

namespace ob::win32 {

inline constexpr int kBaseDpi = 96;

// A length in pixels at 96 DPI scaled to dpi, rounded to the nearest pixel (as MulDiv does).
constexpr int ScaleForDpi(int pixels, int dpi) noexcept {
    if (dpi <= 0 || dpi == kBaseDpi) {
        return pixels;
    }
    const std::int64_t p = static_cast<std::int64_t>(pixels) * dpi;
    const std::int64_t half = kBaseDpi / 2;
    return static_cast<int>(p >= 0 ? (p + half) / kBaseDpi : -((-p + half) / kBaseDpi));
}

// The left (or top) of a window of size extent centred in a screen of size screen: integer
// division of the difference by two.
constexpr int CenteredOrigin(int screen, int extent) noexcept {
    return (screen - extent) / 2;
}

// What the Enter key needs to know of a button of the window.
struct ButtonState {
    bool is_default;  // marked as a default button by the template
    bool enabled;
    bool visible;
};

// The index (in template order) of the button that Enter clicks, or -1 for none: the focused
// control when it is an enabled, visible default button, else the first such button.
inline int EnterTarget(std::span<const ButtonState> buttons, int focused) noexcept {
    auto usable = [](const ButtonState& b) { return b.is_default && b.enabled && b.visible; };
    if (focused >= 0 && static_cast<std::size_t>(focused) < buttons.size() &&
        usable(buttons[static_cast<std::size_t>(focused)])) {
        return focused;
    }
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (usable(buttons[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The filter of a digits-and-minus edit box, for one WM_CHAR code: typed printable characters other
// than 0-9 and "-" are refused; control characters (Backspace, Ctrl+C, Ctrl+V, Ctrl+X, Ctrl+A,
// Ctrl+Z, Ctrl+Backspace) pass, so editing keeps working.
constexpr bool DigitsAndMinusAccepts(std::uint32_t ch) noexcept {
    if (ch < 0x20 || ch == 0x7F) {
        return true;
    }
    return (ch >= '0' && ch <= '9') || ch == '-';
}

}  // namespace ob::win32
