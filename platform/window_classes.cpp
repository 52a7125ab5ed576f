// The registry of the program's window classes, by kind.
#include "app/sign_in_window.h"
#include "platform/window_template.h"
#include "ui/add_record_window.h"
#include "ui/main_window.h"

namespace ob {

const WindowClass& GetWindowClass(WindowKind kind) {
    switch (kind) {
        case WindowKind::SignIn:
            return SignInWindowClass();
        case WindowKind::Main:
            return MainWindowClass();
        case WindowKind::AddRecord:
            break;
    }
    return AddRecordWindowClass();
}

}  // namespace ob
