// Real Win32 windows built from the portable window templates, with the program's window rules:
// creation before visibility, modal and modeless showing, destruction requests, keys and focus.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "platform/window_template.h"

namespace ob::win32 {

// Control settings that only the front end's own dialogs use (beyond ControlFlag).
enum HostControlFlag : std::uint32_t {
    kPasswordInput = 1u << 16,  // an edit box that shows its characters masked
};

// Registers the window classes and creates the hidden owner window; false when that failed.
// wnd_proc_hidden is the hidden owner's window procedure (it carries out cross-thread calls).
bool SetupWindowHost(HINSTANCE instance, WNDPROC hidden_owner_proc);
HINSTANCE Instance();
HWND HiddenOwner();
void DestroyHiddenOwner();

// Window rules 1-4: both return 1 when the window was created, else 0. ShowModalWindow returns
// once the window is destroyed. internal marks the front end's own dialogs, which count as no
// window of the program (they never end the main loop).
int ShowModalWindow(const WindowClass& cls, bool internal = false);
int ShowModelessWindow(const WindowClass& cls);
// Window rule 5: destroyed once no handler of the window runs any more.
void RequestWindowDestroy(WindowRef w);
// True while a window of the program (not a front-end dialog) exists.
bool AnyProgramWindowExists();

// Handles of a window and of its control by template name; null when there is none.
HWND WindowHandle(WindowRef w);
HWND ControlHandle(WindowRef w, std::string_view control);

// The keys the window rules give (Enter, Esc, Tab, Alt+mnemonic); true when msg was used up.
bool PreTranslateWindowMessage(MSG& msg);

// Runs the message loop until WM_QUIT.
void RunMainMessageLoop();

// The UI font for a DPI: the system's message font, which renders Chinese.
HFONT CreateUiFont(int dpi);
// The DPI of the system at start, and of a window.
int SystemDpi();
int WindowDpi(HWND hwnd);

}  // namespace ob::win32
