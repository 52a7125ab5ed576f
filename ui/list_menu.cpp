// The account list's pop-up menu: a table of items and commands, and the six commands.
#include "ui/list_menu.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "base/secure.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "store/account_database.h"
#include "ui/account_list.h"

namespace ob {
namespace {

constexpr std::string_view kReminderCaption = "温馨提示";

struct MenuItem {
    std::string_view text;
    void (*command)();
};

constexpr std::array<MenuItem, 6> kMenu = {{
    {"打开网址", &OpenUrlCommand},
    {"复制帐号", &CopyAccountCommand},
    {"复制密码", &CopyPasswordCommand},
    {"添加记忆", &AddRecordCommand},
    {"删除选中", &DeleteSelectedCommand},
    {"刷新", &RefreshCommand},
}};

// The first step of every command that needs a row.
bool SelectionTest() {
    if (SelectedRow() == -1) {
        ShowMessageBox("未选中内容", 0, kReminderCaption);
        return false;
    }
    return true;
}

// The text of a cell of the selected row, copied: the platform call it goes to may run queued
// list changes that would invalidate a view into the list.
SecureString SelectedCell(int column) {
    return SecureString(AccountListCell(SelectedRow(), column));
}

void CopySelectedCell(int column) {
    if (!SelectionTest()) {
        return;
    }
    const SecureString text = SelectedCell(column);
    ThePlatform().SetClipboardText(text);
}

}  // namespace

void ShowAccountListMenu(WindowRef owner) {
    std::array<std::string_view, kMenu.size()> texts;
    for (std::size_t i = 0; i < kMenu.size(); ++i) {
        texts[i] = kMenu[i].text;
    }
    const int choice = ThePlatform().PopupMenu(owner, texts);
    if (choice >= 1 && choice <= static_cast<int>(kMenu.size())) {
        kMenu[static_cast<std::size_t>(choice - 1)].command();
    }
}

void OpenUrlCommand() {
    if (!SelectionTest()) {
        return;
    }
    const SecureString url = SelectedCell(1);
    ThePlatform().ShellOpen(url);
}

void CopyAccountCommand() {
    CopySelectedCell(2);
}

void CopyPasswordCommand() {
    CopySelectedCell(3);
}

void AddRecordCommand() {
    ThePlatform().ShowModal(WindowKind::AddRecord);
}

void DeleteSelectedCommand() {
    if (!SelectionTest()) {
        return;
    }
    if (ShowMessageBox("你确定要删除吗？删除后不可恢复！", 1, kReminderCaption) != 0) {
        return;
    }
    // Rebuilds may have run while the question was shown: the row is read again, and the record
    // is found by the identity the rebuild noted for that row, never by its position. No row, or
    // a record that is no longer in the table, deletes nothing.
    const std::uint64_t id = RecordIdOfRow(SelectedRow());
    auto lock = DatabaseWorkLock();
    if (id != 0 && GoToRecordId(id) == 1) {
        DeleteCurrentRecord();
        PurgeDeletedRecords();
    }
    // Requested under the lock, so a rebuild that resumes its walk after the change already
    // finds itself superseded.
    StartAccountListRefresh();
}

void RefreshCommand() {
    StartAccountListRefresh();
}

}  // namespace ob
