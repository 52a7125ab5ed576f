// The program's entry: sets up COM and the common controls, installs the Win32 platform and runs
// the program (which connects the fatal-error box and the password prompt to it).
// First, so that windows.h leaves the interface's method MessageBox as it is.
#include "win32/win32_platform.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/program.h"
#include "platform/platform.h"
#include "win32/window_host.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The shell's "open" verb may use COM; it wants an apartment-threaded caller.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&icc);

    static ob::win32::Win32Platform platform(instance);
    ob::SetPlatform(&platform);

    const int result = ob::RunProgram();
    ob::win32::DestroyHiddenOwner();
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return result;
}
