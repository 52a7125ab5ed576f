// The program's entry: sets up COM and the common controls, installs the Win32 platform, the
// fatal-error box and the password prompt, and runs the program.
// First, so that windows.h leaves the interface's method MessageBox as it is.
#include "win32/win32_platform.h"

#include <commctrl.h>
#include <objbase.h>

#include <optional>
#include <string_view>

#include "app/program.h"
#include "base/fatal.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "store/account_database.h"
#include "win32/window_host.h"

namespace {

std::optional<ob::SecureString> AskDatabasePassword(std::string_view status_line) {
    return ob::ThePlatform().PasswordPrompt(status_line);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The shell's "open" verb may use COM; it wants an apartment-threaded caller.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&icc);

    static ob::win32::Win32Platform platform(instance);
    ob::SetPlatform(&platform);
    ob::SetFatalErrorHandler(&ob::ShowFatalErrorAndExit);
    ob::SetPasswordPromptHandler(&AskDatabasePassword);

    const int result = ob::RunProgram();
    ob::win32::DestroyHiddenOwner();
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return result;
}
