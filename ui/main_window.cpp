// The main window's template and handlers: the database is open while the window exists, and its
// one control is the owner-data account list with its pop-up menu.
#include "ui/main_window.h"

#include <utility>

#include "app/program.h"
#include "platform/dialogs.h"
#include "store/account_database.h"
#include "ui/account_list.h"
#include "ui/list_menu.h"

namespace ob {
namespace {

constexpr std::string_view kListControl = "超级列表框1";

constexpr ControlTemplate kControls[] = {
    {kListControl, ControlKind::List, 0, 0, 568, 384, "", kNoFlags},
};

constexpr ListColumn kColumns[] = {
    {"序号", 50}, {"网址", 160}, {"帐号", 100}, {"密码", 100}, {"备注", 150},
};

constexpr WindowTemplate kTemplate = {
    WindowKind::Main,         "Obrellin",   576,       413,
    /*minimize_box=*/true,
    /*show_in_taskbar=*/true,
    /*esc_closes=*/false,     kListControl, kControls, kColumns,
};

void Created(WindowRef w) {
    AttachAccountList(w);
    int opened;
    {
        auto lock = DatabaseWorkLock();
        opened = OpenDatabase(DatabaseFilePath(), SignInPassword());
    }
    if (opened == 1) {
        StartAccountListRefresh();
    } else {
        ShowMessageBox("密码错误", 16);
    }
}

void Destroying(WindowRef) {
    // Under the lock no rebuild is reading the store; once the list is detached, none reads it
    // again, so the database can be closed.
    auto lock = DatabaseWorkLock();
    DetachAccountList();
    CloseDatabase();
}

void RightClicked(WindowRef w, std::string_view control) {
    if (control == kListControl) {
        ShowAccountListMenu(w);
    }
}

int ListRowCount(WindowRef, std::string_view control) {
    return control == kListControl ? AccountListRowCount() : 0;
}

std::string_view ListCell(WindowRef, std::string_view control, int row, int column) {
    return control == kListControl ? AccountListCell(row, column) : std::string_view();
}

}  // namespace

const WindowClass& MainWindowClass() {
    static const WindowClass cls = [] {
        WindowHandlers h;
        h.created = &Created;
        h.destroying = &Destroying;
        h.right_clicked = &RightClicked;
        h.list_row_count = &ListRowCount;
        h.list_cell = &ListCell;
        return WindowClass{&kTemplate, std::move(h)};
    }();
    return cls;
}

}  // namespace ob
