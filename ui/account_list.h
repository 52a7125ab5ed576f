// The account list of the main window: its rows, the rebuild from the database on background
// threads, and the selection.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "platform/window_template.h"

namespace ob {

// Starts a rebuild of the account list on a new, detached thread; the caller does not wait.
// A newer rebuild supersedes every older one: those hand nothing more to the list.
void StartAccountListRefresh();

// Rebuilds the account list from the current database (the body of every rebuild thread). Runs
// on the calling thread; the list itself is changed on the user-interface thread.
void RefreshAccountList();

// The 0-based index of the first selected row of the account list, or -1.
int SelectedRow();

// The identity of the record (AccountDatabase's CurrentRecordId) that a row of the list shows;
// 0 when there is no such row.
std::uint64_t RecordIdOfRow(int row);

// The "database work" lock. Every sequence of calls on the open database made outside a rebuild
// (a delete, an add, opening and closing for the main window) holds it, so that no rebuild reads
// the table in between. A rebuild holds it only while it reads the store, never while it waits
// for the user-interface thread, so the user-interface thread may take it at any time. Take it
// for a few store calls only; while it is held, do not wait for another thread.
std::unique_lock<std::mutex> DatabaseWorkLock();

// ---- The list model (user-interface thread only) ---------------------------------------------

// The list of window w receives the rebuilds from now on; it starts empty.
void AttachAccountList(WindowRef w);
// The list's window is going away: every running rebuild stops and touches neither the database
// nor the list again, and the rows are wiped. Hold DatabaseWorkLock while calling it, and close
// the database under the same hold.
void DetachAccountList();
// The number of rows, and the text of a cell (columns 0 to 4: number, URL, account, password,
// remark); the empty text outside the list. The view stays valid until the list next changes.
int AccountListRowCount();
std::string_view AccountListCell(int row, int column);

}  // namespace ob
