// A scripted implementation of the platform interface for native tests: windows made from the
// templates, a test-supplied "user" per window kind, scripted answers for every dialog, recorded
// calls, real worker threads and a UI-thread work queue that the test pumps.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/secure.h"
#include "platform/platform.h"
#include "platform/window_template.h"

namespace ob::test {

// Thrown by ScriptedPlatform::ExitProcess: the process would end here with this exit code.
struct ProcessExit {
    int code;
};

// Thrown when the script runs out of answers for a dialog that the code under test keeps
// showing (an input box asked again and again, for instance), so a test cannot hang.
struct ScriptExhausted : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A GBK text in a form a test failure can show: the text converted to UTF-8, and its bytes in hex.
std::string Readable(std::string_view gbk);

// Windows button identifiers, for scripted message-box answers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

struct MessageBoxCall {
    std::string text, caption;
    std::uint32_t style;
    WindowRef owner;
    bool ui_thread;  // shown from the user-interface thread
};

struct InputBoxCall {
    std::string prompt, caption, initial;
    int mode;
};

struct PopupMenuCall {
    WindowRef owner;
    std::vector<std::string> items;
};

class ScriptedPlatform;

// The user's actions while a window exists: set texts, click, right-click, select rows. Runs on
// the user-interface thread; it may open further modal windows through the handlers it triggers.
using UserScript = std::function<void(ScriptedPlatform&, WindowRef)>;

class ScriptedPlatform final : public Platform {
  public:
    // Installs itself as the process's platform; the thread that constructs it is the
    // user-interface thread. The destructor shuts down, joins every worker thread and uninstalls.
    ScriptedPlatform();
    ~ScriptedPlatform() override;
    ScriptedPlatform(const ScriptedPlatform&) = delete;
    ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

    // ---- Script ----------------------------------------------------------------------------

    // The user of every showing of windows of this kind (modal: inside ShowModal; modeless: when
    // the main message loop reaches it). A window still open when the script returns is closed.
    // Without a script a window is closed as soon as it is the user's turn.
    void SetUser(WindowKind kind, UserScript script);

    // The next message box must show text (and caption/style when given); it is answered with
    // button (a Windows identifier). while_shown runs on the user-interface thread while the box is
    // up, after the pending UI work has been carried out. Expectations are used in order.
    struct ExpectedBox {
        std::string text;
        int button = kIdOk;
        std::optional<std::string> caption = std::nullopt;
        std::optional<std::uint32_t> style = std::nullopt;
        std::function<void()> while_shown = nullptr;
    };
    void ExpectMessageBox(ExpectedBox box);
    void ExpectMessageBox(std::string_view text, int button = kIdOk);
    // Without strictness (default: strict) a box nobody expected is answered OK silently; with it
    // such a box is a test failure.
    void SetStrictMessageBoxes(bool strict);

    // Input box answers in order: a text confirms, nothing cancels. while_shown runs on the
    // user-interface thread while the box is up.
    void QueueInputBox(std::optional<std::string> answer,
                       std::function<void()> while_shown = nullptr);
    // Password prompt answers in order: a text confirms, nothing cancels.
    void QueuePasswordPrompt(std::optional<std::string> answer);
    // Pop-up menu answers in order: the 1-based chosen item, 0 for none.
    void QueuePopupMenu(int choice);
    // Answers for ListSelectedRow, used in order before the list's own selection state.
    void QueueListSelection(int row);

    // ---- What the code did -----------------------------------------------------------------

    std::vector<MessageBoxCall> MessageBoxes() const;
    std::vector<InputBoxCall> InputBoxes() const;
    std::vector<std::string> PasswordPrompts() const;  // their status lines
    std::vector<PopupMenuCall> PopupMenus() const;
    std::vector<std::string> ClipboardTexts() const;
    std::vector<std::string> ShellOpens() const;
    std::optional<int> ExitCode() const;  // set by ExitProcess
    int Showings(WindowKind kind) const;  // windows of this kind created so far
    int QuitsPosted() const;
    // The kinds of the windows that became visible, in order.
    std::vector<WindowKind> VisibleHistory() const;
    // Scripted answers not used yet (a test can check that its script was played out).
    std::size_t PendingAnswers() const;

    // ---- The user's actions (user-interface thread) ------------------------------------------

    bool Exists(WindowRef w) const;
    bool IsVisible(WindowRef w) const;
    bool IsEnabled(WindowRef w) const;
    // The one existing window of this kind, 0 when none (a failure when more than one).
    WindowRef Find(WindowKind kind) const;
    WindowKind KindOf(WindowRef w) const;

    // The text the user sees in a control.
    std::string Text(WindowRef w, std::string_view control) const;
    // Replaces a box's content as by pasting: no typing filter.
    void SetText(WindowRef w, std::string_view control, std::string_view text);
    // Replaces a box's content by typing: a box that takes only digits and "-" drops the rest.
    void Type(WindowRef w, std::string_view control, std::string_view text);
    // Puts into a box text that holds a character GBK cannot hold (shown here as display).
    void SetUnrepresentableText(WindowRef w, std::string_view control, std::string_view display);

    // Clicks a button: its handler runs, then the destruction requests are taken up. False (and
    // a test failure) when the window does not exist, is disabled or has no such button.
    bool Click(WindowRef w, std::string_view control);
    // Enter: clicks the first default button of the template; nothing without one.
    bool PressEnter(WindowRef w);
    // Esc: closes a window whose template says so, else nothing.
    void PressEsc(WindowRef w);
    // The close button: destroys the window.
    void Close(WindowRef w);
    bool RightClick(WindowRef w, std::string_view list_control);
    // The user selects one row of the list (-1: none).
    void SelectRow(WindowRef w, std::string_view list_control, int row);

    // The owner-data list as the front end shows it: the row count last set, each cell read
    // through the window's list_cell handler, columns per the template.
    std::vector<std::vector<std::string>> ListRows(WindowRef w, std::string_view list_control);
    int ListShownRowCount(WindowRef w, std::string_view list_control) const;
    // Every row count the code set on that list, in order.
    std::vector<int> ListRowCountHistory(WindowRef w, std::string_view list_control) const;

    // Opens a window modelessly for a test that drives it directly (created handler, then
    // visible); no user script runs for it. 0 when the created handler destroyed it.
    WindowRef Open(WindowKind kind);

    // ---- Threads and the UI work queue --------------------------------------------------------

    // Carries out the queued UI work and destruction requests; returns how many items ran.
    int Pump();
    // Pumps until pred holds (true) or the timeout passes (false).
    bool PumpUntil(const std::function<bool()>& pred,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Pumps until every worker thread has ended and no UI work is queued; false on timeout.
    bool WaitForIdle(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    int RunningThreads() const;
    int ThreadsStarted() const;
    // From now on RunOnUiThread refuses work, and waiting workers get false.
    void Shutdown();
    bool IsShutDown() const;

    // ---- Platform ----------------------------------------------------------------------------

    void Setup() override;
    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t style,
                   WindowRef owner) override;
    int InputBox(std::string_view prompt, std::string_view caption, std::string_view initial,
                 SecureString& var, int mode) override;
    std::optional<SecureString> PasswordPrompt(std::string_view status_line) override;
    int ShowModal(WindowKind kind) override;
    int ShowModeless(WindowKind kind) override;
    void RequestDestroy(WindowRef w) override;
    bool AnyWindowExists() override;
    std::optional<SecureString> GetControlText(WindowRef w, std::string_view control) override;
    void SetControlText(WindowRef w, std::string_view control, std::string_view text) override;
    void RunMessageLoop() override;
    void PostQuit() override;
    [[noreturn]] void ExitProcess(int code) override;
    void ListSetRowCount(WindowRef w, std::string_view control, int rows) override;
    int ListSelectedRow(WindowRef w, std::string_view control) override;
    int PopupMenu(WindowRef owner, std::span<const std::string_view> items) override;
    void SetClipboardText(std::string_view text) override;
    void ShellOpen(std::string_view text) override;
    bool StartThread(std::function<void()> fn) override;
    bool RunOnUiThread(std::function<void()> fn) override;

    bool setup_called() const { return setup_called_; }

  private:
    struct Control {
        const ControlTemplate* tmpl;
        SecureString text;
        bool unrepresentable = false;
        int list_rows = 0;
        int selected = -1;
        std::vector<int> count_history;
    };
    struct Window {
        WindowRef ref;
        WindowKind kind;
        const WindowClass* cls;
        std::map<std::string, Control, std::less<>> controls;
        bool visible = false;
        bool enabled = true;
        bool destroy_requested = false;
        bool modal = false;
        bool user_ran = false;
    };
    struct Work {
        std::function<void()> fn;
        bool done = false;
        bool refused = false;
    };

    bool OnUiThread() const;
    void RequireUiThread(const char* what) const;
    Window* Get(WindowRef w) const;  // nullptr when it does not exist
    Control* GetControl(WindowRef w, std::string_view control, const char* what) const;
    WindowRef Create(WindowKind kind, bool modal);  // creation, created handler, visible
    void Destroy(WindowRef w);
    void TakeUpDestroyRequests();
    void RunUser(WindowRef w);

    const std::thread::id ui_thread_;
    Platform* previous_;
    bool setup_called_ = false;

    // Windows and controls: user-interface thread only.
    std::map<WindowRef, std::unique_ptr<Window>> windows_;
    WindowRef next_ref_ = 0;
    std::map<WindowKind, UserScript> users_;
    std::map<WindowKind, int> showings_;
    std::vector<WindowKind> visible_history_;
    bool quit_posted_ = false;
    int quits_ = 0;

    // Script and records: any thread, under mu_.
    mutable std::mutex mu_;
    std::deque<ExpectedBox> boxes_;
    bool strict_boxes_ = true;
    struct InputAnswer {
        std::optional<std::string> text;
        std::function<void()> while_shown;
    };
    std::deque<InputAnswer> input_answers_;
    std::deque<std::optional<std::string>> password_answers_;
    std::deque<int> menu_answers_;
    std::deque<int> selection_answers_;
    std::vector<MessageBoxCall> box_calls_;
    std::vector<InputBoxCall> input_calls_;
    std::vector<std::string> password_calls_;
    std::vector<PopupMenuCall> menu_calls_;
    std::vector<std::string> clipboard_;
    std::vector<std::string> shell_opens_;
    std::optional<int> exit_code_;

    // Workers and the UI work queue, under qmu_.
    mutable std::mutex qmu_;
    std::condition_variable qcv_;
    std::deque<std::shared_ptr<Work>> queue_;
    bool shut_down_ = false;
    int running_threads_ = 0;
    int threads_started_ = 0;
    std::vector<std::thread> threads_;
};

}  // namespace ob::test
