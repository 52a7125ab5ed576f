// The account list's pop-up menu and its six commands, all run on the user-interface thread.
#pragma once

#include "platform/window_template.h"

namespace ob {

// Pops up the menu "菜单" owned by owner and runs the chosen command; nothing when it closes
// without a choice.
void ShowAccountListMenu(WindowRef owner);

void OpenUrlCommand();       // "打开网址": the shell opens the selected row's URL
void CopyAccountCommand();   // "复制帐号": the selected row's account name to the clipboard
void CopyPasswordCommand();  // "复制密码": the selected row's password to the clipboard
void AddRecordCommand();     // "添加记忆": the add-record window, modally
void DeleteSelectedCommand();  // "删除选中": after confirmation, the record the selected row shows
void RefreshCommand();         // "刷新": a rebuild of the list

}  // namespace ob
