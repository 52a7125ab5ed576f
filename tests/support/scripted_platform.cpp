// The scripted platform of the native tests: template windows, a scripted user, scripted dialog
// answers, recorded calls, real worker threads and a UI work queue pumped by the test thread.
#include "tests/support/scripted_platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <utility>

#include "app/program.h"

namespace ob::test {
namespace {

const char* KindName(WindowKind k) {
    switch (k) {
        case WindowKind::SignIn:
            return "SignInWindow";
        case WindowKind::Main:
            return "MainWindow";
        case WindowKind::AddRecord:
            return "AddRecordWindow";
    }
    return "?";
}

}  // namespace

ScriptedPlatform::ScriptedPlatform() : ui_thread_(std::this_thread::get_id()) {
    previous_ = nullptr;
    SetPlatform(this);
}

ScriptedPlatform::~ScriptedPlatform() {
    Shutdown();
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(qmu_);
            threads.swap(threads_);
        }
        if (threads.empty()) {
            break;
        }
        for (std::thread& t : threads) {
            t.join();
        }
    }
    SetPlatform(previous_);
    std::lock_guard lock(mu_);
    for (const ExpectedBox& b : boxes_) {
        ADD_FAILURE() << "expected message box never shown: " << Readable(b.text);
    }
    if (!input_answers_.empty()) {
        ADD_FAILURE() << input_answers_.size() << " input box answer(s) never used";
    }
    if (!password_answers_.empty()) {
        ADD_FAILURE() << password_answers_.size() << " password prompt answer(s) never used";
    }
    if (!menu_answers_.empty()) {
        ADD_FAILURE() << menu_answers_.size() << " pop-up menu answer(s) never used";
    }
}

// ---- Script -------------------------------------------------------------------------------

void ScriptedPlatform::SetUser(WindowKind kind, UserScript script) {
    users_[kind] = std::move(script);
}

void ScriptedPlatform::ExpectMessageBox(ExpectedBox box) {
    std::lock_guard lock(mu_);
    boxes_.push_back(std::move(box));
}

void ScriptedPlatform::ExpectMessageBox(std::string_view text, int button) {
    ExpectedBox b;
    b.text = std::string(text);
    b.button = button;
    ExpectMessageBox(std::move(b));
}

void ScriptedPlatform::SetStrictMessageBoxes(bool strict) {
    std::lock_guard lock(mu_);
    strict_boxes_ = strict;
}

void ScriptedPlatform::QueueInputBox(std::optional<std::string> answer,
                                     std::function<void()> while_shown) {
    std::lock_guard lock(mu_);
    input_answers_.push_back({std::move(answer), std::move(while_shown)});
}

void ScriptedPlatform::QueuePasswordPrompt(std::optional<std::string> answer) {
    std::lock_guard lock(mu_);
    password_answers_.push_back(std::move(answer));
}

void ScriptedPlatform::QueuePopupMenu(int choice) {
    std::lock_guard lock(mu_);
    menu_answers_.push_back(choice);
}

void ScriptedPlatform::QueueListSelection(int row) {
    std::lock_guard lock(mu_);
    selection_answers_.push_back(row);
}

// ---- Records ------------------------------------------------------------------------------

std::vector<MessageBoxCall> ScriptedPlatform::MessageBoxes() const {
    std::lock_guard lock(mu_);
    return box_calls_;
}

std::vector<InputBoxCall> ScriptedPlatform::InputBoxes() const {
    std::lock_guard lock(mu_);
    return input_calls_;
}

std::vector<std::string> ScriptedPlatform::PasswordPrompts() const {
    std::lock_guard lock(mu_);
    return password_calls_;
}

std::vector<PopupMenuCall> ScriptedPlatform::PopupMenus() const {
    std::lock_guard lock(mu_);
    return menu_calls_;
}

std::vector<std::string> ScriptedPlatform::ClipboardTexts() const {
    std::lock_guard lock(mu_);
    return clipboard_;
}

std::vector<std::string> ScriptedPlatform::ShellOpens() const {
    std::lock_guard lock(mu_);
    return shell_opens_;
}

std::optional<int> ScriptedPlatform::ExitCode() const {
    std::lock_guard lock(mu_);
    return exit_code_;
}

int ScriptedPlatform::Showings(WindowKind kind) const {
    auto it = showings_.find(kind);
    return it == showings_.end() ? 0 : it->second;
}

std::vector<WindowKind> ScriptedPlatform::VisibleHistory() const {
    return visible_history_;
}

int ScriptedPlatform::QuitsPosted() const {
    return quits_;
}

std::size_t ScriptedPlatform::PendingAnswers() const {
    std::lock_guard lock(mu_);
    return boxes_.size() + input_answers_.size() + password_answers_.size() + menu_answers_.size() +
           selection_answers_.size();
}

// ---- Windows ------------------------------------------------------------------------------

bool ScriptedPlatform::OnUiThread() const {
    return std::this_thread::get_id() == ui_thread_;
}

void ScriptedPlatform::RequireUiThread(const char* what) const {
    if (!OnUiThread()) {
        ADD_FAILURE() << what << " called off the user-interface thread";
    }
}

ScriptedPlatform::Window* ScriptedPlatform::Get(WindowRef w) const {
    auto it = windows_.find(w);
    return it == windows_.end() ? nullptr : it->second.get();
}

ScriptedPlatform::Control* ScriptedPlatform::GetControl(WindowRef w, std::string_view control,
                                                        const char* what) const {
    RequireUiThread(what);
    Window* win = Get(w);
    if (win == nullptr) {
        ADD_FAILURE() << what << ": window " << w << " does not exist";
        return nullptr;
    }
    auto it = win->controls.find(control);
    if (it == win->controls.end()) {
        ADD_FAILURE() << what << ": " << KindName(win->kind) << " has no control "
                      << Readable(control);
        return nullptr;
    }
    return &it->second;
}

bool ScriptedPlatform::Exists(WindowRef w) const {
    return Get(w) != nullptr;
}

bool ScriptedPlatform::IsVisible(WindowRef w) const {
    Window* win = Get(w);
    return win != nullptr && win->visible;
}

bool ScriptedPlatform::IsEnabled(WindowRef w) const {
    Window* win = Get(w);
    return win != nullptr && win->enabled;
}

WindowRef ScriptedPlatform::Find(WindowKind kind) const {
    WindowRef found = 0;
    for (const auto& [ref, win] : windows_) {
        if (win->kind == kind) {
            if (found != 0) {
                ADD_FAILURE() << "more than one " << KindName(kind) << " exists";
            }
            found = ref;
        }
    }
    return found;
}

WindowKind ScriptedPlatform::KindOf(WindowRef w) const {
    Window* win = Get(w);
    if (win == nullptr) {
        ADD_FAILURE() << "KindOf: window " << w << " does not exist";
        return WindowKind::Main;
    }
    return win->kind;
}

std::string ScriptedPlatform::Text(WindowRef w, std::string_view control) const {
    Control* c = GetControl(w, control, "Text");
    return c == nullptr ? std::string() : std::string(c->text.view());
}

void ScriptedPlatform::SetText(WindowRef w, std::string_view control, std::string_view text) {
    if (Control* c = GetControl(w, control, "SetText")) {
        c->text = SecureString(text);
        c->unrepresentable = false;
    }
}

void ScriptedPlatform::Type(WindowRef w, std::string_view control, std::string_view text) {
    Control* c = GetControl(w, control, "Type");
    if (c == nullptr) {
        return;
    }
    SecureString typed;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const bool double_byte = b >= 0x80 && i + 1 < text.size();
        if (c->tmpl->flags & kDigitsAndMinus) {
            // The filter sees whole characters: a double-byte character is never 0-9 or "-".
            if (!double_byte && ((b >= '0' && b <= '9') || b == '-')) {
                typed.push_back(static_cast<char>(b));
            }
        } else {
            typed.push_back(static_cast<char>(b));
            if (double_byte) {
                typed.push_back(text[i + 1]);
            }
        }
        if (double_byte) {
            ++i;
        }
    }
    c->text = std::move(typed);
    c->unrepresentable = false;
}

void ScriptedPlatform::SetUnrepresentableText(WindowRef w, std::string_view control,
                                              std::string_view display) {
    if (Control* c = GetControl(w, control, "SetUnrepresentableText")) {
        c->text = SecureString(display);
        c->unrepresentable = true;
    }
}

bool ScriptedPlatform::Click(WindowRef w, std::string_view control) {
    RequireUiThread("Click");
    Window* win = Get(w);
    if (win == nullptr || !win->visible || !win->enabled) {
        ADD_FAILURE() << "Click on " << Readable(control) << ": window " << w
                      << (win == nullptr  ? " does not exist"
                          : !win->visible ? " is not visible"
                                          : " is disabled");
        return false;
    }
    Control* c = GetControl(w, control, "Click");
    if (c == nullptr || c->tmpl->kind != ControlKind::Button) {
        ADD_FAILURE() << "Click: " << Readable(control) << " is no button";
        return false;
    }
    auto handler = win->cls->handlers.clicked;
    if (handler) {
        handler(w, control);
    }
    TakeUpDestroyRequests();
    return true;
}

bool ScriptedPlatform::PressEnter(WindowRef w) {
    Window* win = Get(w);
    if (win == nullptr) {
        ADD_FAILURE() << "PressEnter: window " << w << " does not exist";
        return false;
    }
    for (const ControlTemplate& c : win->cls->tmpl->controls) {
        if (c.kind == ControlKind::Button && (c.flags & kDefaultButton)) {
            return Click(w, c.name);
        }
    }
    return false;
}

void ScriptedPlatform::PressEsc(WindowRef w) {
    Window* win = Get(w);
    if (win == nullptr) {
        ADD_FAILURE() << "PressEsc: window " << w << " does not exist";
        return;
    }
    if (win->enabled && win->cls->tmpl->esc_closes) {
        Destroy(w);
    }
}

void ScriptedPlatform::Close(WindowRef w) {
    RequireUiThread("Close");
    Window* win = Get(w);
    if (win == nullptr) {
        ADD_FAILURE() << "Close: window " << w << " does not exist";
        return;
    }
    if (!win->enabled) {
        ADD_FAILURE() << "Close: " << KindName(win->kind) << " is disabled";
        return;
    }
    Destroy(w);
}

bool ScriptedPlatform::RightClick(WindowRef w, std::string_view list_control) {
    RequireUiThread("RightClick");
    Window* win = Get(w);
    if (win == nullptr || !win->visible || !win->enabled) {
        ADD_FAILURE() << "RightClick: window " << w << " does not exist or takes no input";
        return false;
    }
    Control* c = GetControl(w, list_control, "RightClick");
    if (c == nullptr || c->tmpl->kind != ControlKind::List) {
        return false;
    }
    auto handler = win->cls->handlers.right_clicked;
    if (handler) {
        handler(w, list_control);
    }
    TakeUpDestroyRequests();
    return true;
}

void ScriptedPlatform::SelectRow(WindowRef w, std::string_view list_control, int row) {
    Control* c = GetControl(w, list_control, "SelectRow");
    if (c == nullptr) {
        return;
    }
    if (row < -1 || row >= c->list_rows) {
        ADD_FAILURE() << "SelectRow: row " << row << " outside the " << c->list_rows
                      << " rows shown";
        return;
    }
    c->selected = row;
}

std::vector<std::vector<std::string>> ScriptedPlatform::ListRows(WindowRef w,
                                                                 std::string_view list_control) {
    std::vector<std::vector<std::string>> rows;
    Control* c = GetControl(w, list_control, "ListRows");
    if (c == nullptr) {
        return rows;
    }
    Window* win = Get(w);
    const std::size_t columns = win->cls->tmpl->list_columns.size();
    auto cell = win->cls->handlers.list_cell;
    if (c->list_rows > 0 && !cell) {
        ADD_FAILURE() << "ListRows: the window shows rows but has no list_cell handler";
        return rows;
    }
    const int n = c->list_rows;
    for (int r = 0; r < n; ++r) {
        std::vector<std::string> row;
        for (std::size_t col = 0; col < columns; ++col) {
            row.emplace_back(cell(w, list_control, r, static_cast<int>(col)));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

int ScriptedPlatform::ListShownRowCount(WindowRef w, std::string_view list_control) const {
    Control* c = GetControl(w, list_control, "ListShownRowCount");
    return c == nullptr ? 0 : c->list_rows;
}

std::vector<int> ScriptedPlatform::ListRowCountHistory(WindowRef w,
                                                       std::string_view list_control) const {
    Control* c = GetControl(w, list_control, "ListRowCountHistory");
    return c == nullptr ? std::vector<int>() : c->count_history;
}

WindowRef ScriptedPlatform::Open(WindowKind kind) {
    RequireUiThread("Open");
    WindowRef w = Create(kind, false);
    if (Window* win = Get(w)) {
        win->user_ran = true;  // the test itself is the user
        return w;
    }
    return 0;
}

WindowRef ScriptedPlatform::Create(WindowKind kind, bool modal) {
    const WindowClass& cls = GetWindowClass(kind);
    auto win = std::make_unique<Window>();
    win->ref = ++next_ref_;
    win->kind = kind;
    win->cls = &cls;
    win->modal = modal;
    for (const ControlTemplate& c : cls.tmpl->controls) {
        Control ctl;
        ctl.tmpl = &c;
        ctl.text = SecureString(c.text);
        win->controls.emplace(std::string(c.name), std::move(ctl));
    }
    const WindowRef w = win->ref;
    windows_.emplace(w, std::move(win));
    ++showings_[kind];
    if (cls.handlers.created) {
        auto created = cls.handlers.created;
        created(w);
    }
    TakeUpDestroyRequests();
    if (Window* made = Get(w)) {
        made->visible = true;
        visible_history_.push_back(kind);
    }
    return w;
}

void ScriptedPlatform::Destroy(WindowRef w) {
    Window* win = Get(w);
    if (win == nullptr) {
        return;
    }
    if (win->cls->handlers.destroying) {
        auto destroying = win->cls->handlers.destroying;
        destroying(w);
    }
    windows_.erase(w);
    NotifyWindowDestroyed();
}

void ScriptedPlatform::TakeUpDestroyRequests() {
    std::vector<WindowRef> doomed;
    for (const auto& [ref, win] : windows_) {
        if (win->destroy_requested) {
            doomed.push_back(ref);
        }
    }
    for (WindowRef w : doomed) {
        Destroy(w);
    }
}

void ScriptedPlatform::RunUser(WindowRef w) {
    Window* win = Get(w);
    win->user_ran = true;
    const WindowKind kind = win->kind;
    Pump();
    auto it = users_.find(kind);
    if (it != users_.end() && it->second && Exists(w)) {
        UserScript script = it->second;
        script(*this, w);
    }
    TakeUpDestroyRequests();
    if (Exists(w)) {
        Get(w)->enabled = true;
        Destroy(w);
    }
}

// ---- Threads and the UI work queue ----------------------------------------------------------

int ScriptedPlatform::Pump() {
    RequireUiThread("Pump");
    int ran = 0;
    for (;;) {
        std::shared_ptr<Work> work;
        {
            std::lock_guard lock(qmu_);
            if (queue_.empty()) {
                break;
            }
            work = queue_.front();
            queue_.pop_front();
        }
        auto finish = [&] {
            std::lock_guard lock(qmu_);
            work->done = true;
            qcv_.notify_all();
        };
        try {
            work->fn();
        } catch (...) {
            finish();
            throw;
        }
        finish();
        ++ran;
    }
    TakeUpDestroyRequests();
    return ran;
}

bool ScriptedPlatform::PumpUntil(const std::function<bool()>& pred,
                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Pump();
        if (pred()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::unique_lock lock(qmu_);
        qcv_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !queue_.empty(); });
    }
}

bool ScriptedPlatform::WaitForIdle(std::chrono::milliseconds timeout) {
    return PumpUntil(
        [&] {
            std::lock_guard lock(qmu_);
            return running_threads_ == 0 && queue_.empty();
        },
        timeout);
}

int ScriptedPlatform::ThreadsStarted() const {
    std::lock_guard lock(qmu_);
    return threads_started_;
}

int ScriptedPlatform::RunningThreads() const {
    std::lock_guard lock(qmu_);
    return running_threads_;
}

void ScriptedPlatform::Shutdown() {
    std::lock_guard lock(qmu_);
    shut_down_ = true;
    for (auto& work : queue_) {
        work->refused = true;
    }
    queue_.clear();
    qcv_.notify_all();
}

bool ScriptedPlatform::IsShutDown() const {
    std::lock_guard lock(qmu_);
    return shut_down_;
}

bool ScriptedPlatform::StartThread(std::function<void()> fn) {
    std::lock_guard lock(qmu_);
    if (shut_down_) {
        return false;
    }
    ++running_threads_;
    ++threads_started_;
    threads_.emplace_back([this, fn = std::move(fn)] {
        try {
            fn();
        } catch (const ProcessExit&) {
            // The process ended on this thread; ExitProcess has recorded the code.
        } catch (const std::exception& e) {
            ADD_FAILURE() << "worker thread ended by an exception: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "worker thread ended by an unknown exception";
        }
        std::lock_guard done(qmu_);
        --running_threads_;
        qcv_.notify_all();
    });
    return true;
}

bool ScriptedPlatform::RunOnUiThread(std::function<void()> fn) {
    if (OnUiThread()) {
        if (IsShutDown()) {
            return false;
        }
        fn();
        return true;
    }
    auto work = std::make_shared<Work>();
    work->fn = std::move(fn);
    std::unique_lock lock(qmu_);
    if (shut_down_) {
        return false;
    }
    queue_.push_back(work);
    qcv_.notify_all();
    qcv_.wait(lock, [&] { return work->done || work->refused; });
    return work->done;
}

// ---- The rest of the platform ---------------------------------------------------------------

void ScriptedPlatform::Setup() {
    setup_called_ = true;
}

int ScriptedPlatform::MessageBox(std::string_view text, std::string_view caption,
                                 std::uint32_t style, WindowRef owner) {
    const bool ui = OnUiThread();
    std::optional<ExpectedBox> expected;
    bool strict;
    {
        std::lock_guard lock(mu_);
        box_calls_.push_back({std::string(text), std::string(caption), style, owner, ui});
        strict = strict_boxes_;
        if (!boxes_.empty()) {
            expected = std::move(boxes_.front());
            boxes_.pop_front();
        }
    }
    if (!expected) {
        if (strict) {
            ADD_FAILURE() << "unexpected message box " << Readable(text) << " captioned "
                          << Readable(caption);
        }
        if (ui) {
            Pump();
        }
        return kIdOk;
    }
    if (text != expected->text) {
        ADD_FAILURE() << "message box text\n  expected: " << Readable(expected->text)
                      << "\n  shown:    " << Readable(text);
    }
    if (expected->caption && caption != *expected->caption) {
        ADD_FAILURE() << "message box " << Readable(text)
                      << " caption\n  expected: " << Readable(*expected->caption)
                      << "\n  shown:    " << Readable(caption);
    }
    if (expected->style && style != *expected->style) {
        ADD_FAILURE() << "message box " << Readable(text) << " style: expected 0x" << std::hex
                      << *expected->style << ", shown 0x" << style << std::dec;
    }
    if (ui) {
        // A message box runs a modal loop, in which sent messages (UI work) are carried out.
        Pump();
        if (expected->while_shown) {
            expected->while_shown();
        }
    } else if (expected->while_shown) {
        RunOnUiThread(expected->while_shown);
    }
    return expected->button;
}

int ScriptedPlatform::InputBox(std::string_view prompt, std::string_view caption,
                               std::string_view initial, SecureString& var, int mode) {
    RequireUiThread("InputBox");
    InputAnswer answer;
    {
        std::lock_guard lock(mu_);
        input_calls_.push_back(
            {std::string(prompt), std::string(caption), std::string(initial), mode});
        if (input_answers_.empty()) {
            ADD_FAILURE() << "input box " << Readable(prompt) << " asked with no answer left";
            throw ScriptExhausted("no input box answer left");
        }
        answer = std::move(input_answers_.front());
        input_answers_.pop_front();
    }
    Pump();
    if (answer.while_shown) {
        answer.while_shown();
    }
    if (!answer.text) {
        return 0;
    }
    var = SecureString(*answer.text);
    return 1;
}

std::optional<SecureString> ScriptedPlatform::PasswordPrompt(std::string_view status_line) {
    RequireUiThread("PasswordPrompt");
    std::optional<std::string> answer;
    {
        std::lock_guard lock(mu_);
        password_calls_.emplace_back(status_line);
        if (password_answers_.empty()) {
            ADD_FAILURE() << "password prompt asked with no answer left";
            return std::nullopt;
        }
        answer = std::move(password_answers_.front());
        password_answers_.pop_front();
    }
    Pump();
    if (!answer) {
        return std::nullopt;
    }
    return SecureString(*answer);
}

int ScriptedPlatform::ShowModal(WindowKind kind) {
    RequireUiThread("ShowModal");
    const WindowRef w = Create(kind, true);
    if (!Exists(w)) {
        return 1;  // created, and destroyed by its created handler
    }
    // Every other window of the program takes no input while this one is up.
    std::vector<WindowRef> disabled;
    for (auto& [ref, win] : windows_) {
        if (ref != w && win->enabled) {
            win->enabled = false;
            disabled.push_back(ref);
        }
    }
    struct Reenable {
        ScriptedPlatform* self;
        std::vector<WindowRef>& refs;
        ~Reenable() {
            for (WindowRef r : refs) {
                if (Window* win = self->Get(r)) {
                    win->enabled = true;
                }
            }
        }
    } reenable{this, disabled};
    RunUser(w);
    return 1;
}

int ScriptedPlatform::ShowModeless(WindowKind kind) {
    RequireUiThread("ShowModeless");
    Create(kind, false);
    return 1;
}

void ScriptedPlatform::RequestDestroy(WindowRef w) {
    RequireUiThread("RequestDestroy");
    if (Window* win = Get(w)) {
        win->destroy_requested = true;
    } else {
        ADD_FAILURE() << "RequestDestroy: window " << w << " does not exist";
    }
}

bool ScriptedPlatform::AnyWindowExists() {
    RequireUiThread("AnyWindowExists");
    return !windows_.empty();
}

std::optional<SecureString> ScriptedPlatform::GetControlText(WindowRef w,
                                                             std::string_view control) {
    Control* c = GetControl(w, control, "GetControlText");
    if (c == nullptr || c->unrepresentable) {
        return std::nullopt;
    }
    return c->text;
}

void ScriptedPlatform::SetControlText(WindowRef w, std::string_view control,
                                      std::string_view text) {
    if (Control* c = GetControl(w, control, "SetControlText")) {
        c->text = SecureString(text);
        c->unrepresentable = false;
    }
}

void ScriptedPlatform::RunMessageLoop() {
    RequireUiThread("RunMessageLoop");
    for (;;) {
        Pump();
        if (quit_posted_) {
            quit_posted_ = false;
            break;
        }
        WindowRef next = 0;
        for (const auto& [ref, win] : windows_) {
            if (!win->user_ran && win->visible) {
                next = ref;
                break;
            }
        }
        if (next != 0) {
            RunUser(next);
            continue;
        }
        if (!WaitForIdle() || !quit_posted_) {
            ADD_FAILURE() << "the main message loop would wait forever: " << windows_.size()
                          << " window(s) open and no quit request";
            break;
        }
    }
    // After the main loop the program is ending: workers get no more UI work done.
    Shutdown();
}

void ScriptedPlatform::PostQuit() {
    RequireUiThread("PostQuit");
    quit_posted_ = true;
    ++quits_;
}

void ScriptedPlatform::ExitProcess(int code) {
    {
        std::lock_guard lock(mu_);
        exit_code_ = code;
    }
    Shutdown();
    throw ProcessExit{code};
}

void ScriptedPlatform::ListSetRowCount(WindowRef w, std::string_view control, int rows) {
    Control* c = GetControl(w, control, "ListSetRowCount");
    if (c == nullptr) {
        return;
    }
    c->list_rows = rows;
    c->count_history.push_back(rows);
    if (rows == 0 || c->selected >= rows) {
        c->selected = -1;
    }
}

int ScriptedPlatform::ListSelectedRow(WindowRef w, std::string_view control) {
    {
        std::lock_guard lock(mu_);
        if (!selection_answers_.empty()) {
            int row = selection_answers_.front();
            selection_answers_.pop_front();
            return row;
        }
    }
    Control* c = GetControl(w, control, "ListSelectedRow");
    return c == nullptr ? -1 : c->selected;
}

int ScriptedPlatform::PopupMenu(WindowRef owner, std::span<const std::string_view> items) {
    RequireUiThread("PopupMenu");
    int choice = 0;
    {
        std::lock_guard lock(mu_);
        PopupMenuCall call{owner, {}};
        for (std::string_view item : items) {
            call.items.emplace_back(item);
        }
        menu_calls_.push_back(std::move(call));
        if (menu_answers_.empty()) {
            ADD_FAILURE() << "pop-up menu shown with no answer left";
        } else {
            choice = menu_answers_.front();
            menu_answers_.pop_front();
        }
    }
    Pump();
    return choice;
}

void ScriptedPlatform::SetClipboardText(std::string_view text) {
    std::lock_guard lock(mu_);
    clipboard_.emplace_back(text);
}

void ScriptedPlatform::ShellOpen(std::string_view text) {
    std::lock_guard lock(mu_);
    shell_opens_.emplace_back(text);
}

}  // namespace ob::test
