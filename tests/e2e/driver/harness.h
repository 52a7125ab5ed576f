// The end-to-end driver's tools: starts the program in a fresh folder, finds its windows by what
// they show, works them with real keyboard and mouse input, and reads back what they display.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// A failed expectation: what was expected, and what was seen instead.
struct Failure {
    std::wstring message;
};

// Thrown when a scenario cannot run here (a prepared database could not be made): it is reported
// as not run, neither passed nor failed.
struct NotRun {
    std::wstring reason;
};

// Throws a Failure with the message.
[[noreturn]] void Fail(const std::wstring& message);

std::string ToUtf8(std::wstring_view w);
std::wstring FromUtf8(std::string_view s);
// The bytes of w in code page 936 (GBK), as the program keeps its texts.
std::string ToGbk(std::wstring_view w);
std::wstring FromGbk(std::string_view s);
// w with control characters shown as escapes, for messages.
std::wstring Quote(std::wstring_view w);

// Writes UTF-8 text to the driver's standard output and to the report file, if one is open.
void Out(const std::wstring& line);
void OpenReport(const fs::path& path);

// What the suite needs to know about its surroundings.
struct Config {
    fs::path program;         // Obrellin.exe
    fs::path fixtures;        // folder of prepared database files
    fs::path recorder;        // the stand-in URL handler
    fs::path fixture_tool;    // e2e_fixture.exe
    fs::path work;            // parent of the scenarios' fresh folders
    fs::path shots;           // screenshots (BMP)
    std::wstring label;       // prefix of screenshot names (the locale of the run)
    double time_scale = 1.0;  // multiplies every time limit (a slow machine)
};
const Config& TheConfig();
void SetConfig(Config c);

// One visible or hidden window of the program, as seen from outside.
struct WindowInfo {
    HWND hwnd = nullptr;
    std::wstring cls;
    std::wstring title;
    bool visible = false;
    bool enabled = false;
    RECT rect{};
};

// One control inside a window.
struct ControlInfo {
    HWND hwnd = nullptr;
    std::wstring cls;
    std::wstring text;
    int id = 0;
    bool visible = false;
    bool enabled = false;
    RECT rect{};
};

// Text of any window, also of another process's control (WM_GETTEXT with a time limit).
std::wstring WindowText(HWND w);
std::wstring ClassName(HWND w);
std::vector<ControlInfo> Controls(HWND top);

// Saves the screen as a 24-bit BMP; false when it could not.
bool SaveScreenBmp(const fs::path& file);

// Input, as a person's: the mouse moves to a point and clicks; keys go down and up.
void MouseMove(POINT screen);
void MouseClick(POINT screen, bool right = false);
void Click(HWND control, bool right = false);
void KeyPress(WORD vk, bool shift = false, bool ctrl = false, bool alt = false);
// Types each character: keys of the keyboard for ASCII, Unicode key packets for the rest.
void TypeText(std::wstring_view text);
void Pause(int ms);
// Empties the focused edit box the way a person does: End, Shift+Home, Delete.
void ClearFocusedEdit();

// The clipboard as another program would read it.
struct ClipboardContent {
    bool opened = false;
    std::optional<std::string> ansi;          // CF_TEXT bytes without the terminating 0
    std::optional<std::wstring> unicode;      // CF_UNICODETEXT
    std::vector<std::wstring> named_formats;  // registered formats present
};
ClipboardContent ReadClipboard();
// Puts a text of the driver's own on the clipboard, so a copy that does nothing shows.
bool PutClipboardSentinel(const std::wstring& text);

// A running copy of the program in its own fresh folder, watched from the moment it starts.
class Program {
  public:
    // folder: the name of the fresh folder the program is copied into (the scenario's name when
    // empty).
    explicit Program(std::wstring scenario, const std::wstring& folder = L"");
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const fs::path& Folder() const { return folder_; }
    // Copies a prepared database file into the folder as the program's database.
    void PutDatabase(const std::wstring& fixture_name);
    fs::path DatabasePath() const { return folder_ / L"数据库.edb"; }
    void Start();
    bool Running() const;
    DWORD Pid() const { return pid_; }
    HANDLE Process() const { return process_; }

    // Top-level windows of the program (owned ones included).
    std::vector<WindowInfo> Windows() const;
    // Waits for a visible top-level window with this title (and class, when given) that passes
    // the test; fails after the time limit with everything it saw.
    HWND WaitWindow(const std::wstring& title, const std::wstring& cls = L"",
                    int timeout_ms = 10000, const std::function<bool(HWND)>& test = nullptr);
    // Waits for a message box (dialog class) with this caption; returns it and its text.
    HWND WaitMessageBox(const std::wstring& caption, std::wstring* text = nullptr,
                        int timeout_ms = 10000);
    // The message box's text, which must be exactly expected.
    HWND ExpectMessageBox(const std::wstring& caption, const std::wstring& expected,
                          int timeout_ms = 10000);
    // Waits until w is no longer a visible window.
    void WaitGone(HWND w, const std::wstring& what, int timeout_ms = 10000);
    // True when a visible window with this title appears within the time.
    bool Appears(const std::wstring& title, int within_ms);
    // Clicks the button with this control identifier in a dialog (IDOK, IDCANCEL).
    void ClickDialogButton(HWND dialog, int id);
    // The child control of this class whose text is text (any text when empty).
    HWND FindControl(HWND top, const std::wstring& cls, const std::wstring& text = L"",
                     int index = 0) const;
    HWND ExpectControl(HWND top, const std::wstring& cls, const std::wstring& text = L"",
                       int index = 0) const;
    // The window that has the keyboard focus in the program's user-interface thread.
    HWND FocusedControl() const;
    HWND ForegroundWindow() const;
    void WaitFocus(HWND control, const std::wstring& what, int timeout_ms = 5000);

    // Waits for the process to end; fails when it does not. Returns its exit code.
    DWORD WaitExit(int timeout_ms = 10000);
    // Every (title, class) that was visible at some moment since the start.
    std::vector<std::wstring> EverVisible() const;

    // Saves a screenshot named after the scenario and the step.
    void Shot(const std::wstring& step);
    // Everything the driver can see of the program now, for failure messages.
    std::wstring Describe() const;
    void Kill();

  private:
    void Watch();

    std::wstring scenario_;
    fs::path folder_;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    DWORD tid_ = 0;
    std::atomic<bool> watching_{false};
    std::thread watcher_;
    mutable std::mutex seen_mutex_;
    std::vector<std::wstring> seen_;
    int shot_counter_ = 0;
};

// The program's report-view list, read across the process boundary.
class RemoteList {
  public:
    RemoteList(HANDLE process, HWND list);
    ~RemoteList();
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;

    int RowCount() const;
    int ColumnCount() const;
    std::wstring ColumnTitle(int column) const;
    int ColumnWidth(int column) const;
    std::wstring Cell(int row, int column) const;
    std::vector<std::vector<std::wstring>> Rows() const;
    int SelectedRow() const;
    // The screen rectangle of a row (its first cell), for clicking it.
    RECT RowRect(int row) const;

  private:
    HANDLE process_;
    HWND list_;
    void* remote_ = nullptr;  // LVITEMW/LVCOLUMNW/RECT followed by a text buffer
};

// The whole scenario's time limit: every wait fails once it has passed.
void SetScenarioDeadline(std::chrono::steady_clock::time_point t);

// Fails unless the window has this outer size and stands centred on the screen.
void ExpectTemplateRect(HWND w, int width, int height, const std::wstring& what);

// Fails unless the window has a fixed frame with a title bar and system menu, no maximise button,
// a minimise button exactly when asked, and a taskbar button exactly when asked (a window with
// a taskbar button has no owner and is no tool window).
void ExpectFrame(HWND w, bool minimize_box, bool taskbar, const std::wstring& what);

// Waits until test() holds, polling; false after the time limit.
bool WaitUntil(const std::function<bool()>& test, int timeout_ms, int poll_ms = 20);
// Scales a time limit by the configured factor.
int Ms(int ms);

}  // namespace e2e
