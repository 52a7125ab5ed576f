// Window templates and handler tables: the portable description of each window that the front end
// builds real windows from, and the handlers it calls on their events.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace ob {

// A window of the program, as the front end names it to the handlers; 0 means none.
using WindowRef = std::uint32_t;

enum class WindowKind { SignIn, Main, AddRecord };

enum class ControlKind { Button, Edit, Label, Picture, List };

// Settings of a control beyond its kind (bit flags).
enum ControlFlag : std::uint32_t {
    kNoFlags = 0,
    kDefaultButton = 1u << 0,  // Enter clicks it (window rule 7)
    kCenterText = 1u << 1,     // caption or edit text centred
    kDigitsAndMinus = 1u << 2, // an edit box that refuses typed characters other than 0-9 and "-"
};

struct ControlTemplate {
    std::string_view name;  // the template's control name, GBK ("按钮1")
    ControlKind kind;
    int x, y, width, height;  // client-area pixels at 96 DPI
    std::string_view text;    // GBK caption or start text; for a picture the resource name
    std::uint32_t flags = kNoFlags;
};

struct ListColumn {
    std::string_view title;  // GBK
    int width;               // pixels at 96 DPI
};

struct WindowTemplate {
    WindowKind kind;
    std::string_view title;  // GBK
    int width, height;       // outer size at 96 DPI; the window starts centred on the screen
    bool minimize_box;
    bool show_in_taskbar;
    bool esc_closes;
    std::string_view focus_control;             // gets the focus when none had it before
    std::span<const ControlTemplate> controls;  // in template order
    std::span<const ListColumn> list_columns;   // columns of the window's list control, if any
};

// Handlers of one window; an empty function means the window does not handle that event.
// All run on the user-interface thread.
struct WindowHandlers {
    std::function<void(WindowRef)> created;     // before the window is visible
    std::function<void(WindowRef)> destroying;  // about to be destroyed
    std::function<void(WindowRef, std::string_view control)> clicked;  // a button's click
    std::function<void(WindowRef, std::string_view control)> right_clicked;  // list right-click
    // Owner-data list: the number of rows and the text of one cell (GBK), read on demand.
    std::function<int(WindowRef, std::string_view control)> list_row_count;
    std::function<std::string_view(WindowRef, std::string_view control, int row, int column)>
        list_cell;
};

struct WindowClass {
    const WindowTemplate* tmpl;
    WindowHandlers handlers;
};

// The window classes of the program, defined by the portable window code.
const WindowClass& GetWindowClass(WindowKind kind);

}  // namespace ob
