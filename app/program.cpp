// The program's shell: start, the end-routine list, the sign-in password and the end.
#include "app/program.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "base/fatal.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "store/account_database.h"

namespace ob {
namespace {

SecureString g_sign_in_password;
bool g_main_loop_started = false;  // user-interface thread only

std::mutex g_end_mutex;
std::vector<EndRoutine> g_end_routines;
bool g_end_routines_ran = false;

std::optional<SecureString> AskThroughPlatform(std::string_view status_line) {
    return ThePlatform().PasswordPrompt(status_line);
}

}  // namespace

void ConnectPlatformServices() {
    SetPasswordPromptHandler(&AskThroughPlatform);
    SetFatalErrorHandler(&ShowFatalErrorAndExit);
}

void ResetProgramStateForTesting() {
    ReleaseSignInPassword();
    g_main_loop_started = false;
    std::lock_guard lock(g_end_mutex);
    g_end_routines_ran = false;
}

const SecureString& SignInPassword() noexcept {
    return g_sign_in_password;
}

void SetSignInPassword(std::string_view password) {
    // Assigning into the existing string would leave the old bytes for the allocator to wipe;
    // wiping first keeps the old password out of the buffer that the new one reuses.
    g_sign_in_password.Wipe();
    g_sign_in_password.assign(password.data(), password.size());
}

void ReleaseSignInPassword() noexcept {
    g_sign_in_password.Wipe();
    g_sign_in_password.shrink_to_fit();
}

void RegisterEndRoutine(EndRoutine r) {
    std::lock_guard lock(g_end_mutex);
    if (std::find(g_end_routines.begin(), g_end_routines.end(), r) == g_end_routines.end()) {
        g_end_routines.push_back(r);
    }
}

void RunEndRoutines() {
    std::vector<EndRoutine> routines;
    {
        std::lock_guard lock(g_end_mutex);
        if (g_end_routines_ran) {
            return;
        }
        g_end_routines_ran = true;
        routines = g_end_routines;
    }
    for (EndRoutine r : routines) {
        r();
    }
}

void EndProgram(int exit_code) {
    RunEndRoutines();
    ThePlatform().ExitProcess(exit_code);
    std::_Exit(exit_code);  // not reached: the platform ends the process
}

void NotifyWindowDestroyed() {
    Platform& p = ThePlatform();
    if (g_main_loop_started && !p.AnyWindowExists()) {
        p.PostQuit();
    }
}

bool MainLoopStarted() noexcept {
    return g_main_loop_started;
}

int RunProgram() {
    Platform& p = ThePlatform();
    p.Setup();
    ConnectPlatformServices();
    RegisterEndRoutine(&ReleaseSignInPassword);
    p.ShowModal(WindowKind::SignIn);
    g_main_loop_started = true;
    if (p.AnyWindowExists()) {
        p.RunMessageLoop();
    }
    RunEndRoutines();
    return 0;
}

}  // namespace ob
