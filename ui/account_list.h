// The account list of the main window: its rows, the rebuild from the database on background
// threads, and the selection.
#pragma once

#include <cstdint>

namespace ob {

// Starts a rebuild of the account list on a new, detached thread; the caller does not wait.
void StartAccountListRefresh();

// Rebuilds the account list from the current database (the body of every rebuild thread).
void RefreshAccountList();

// The 0-based index of the first selected row of the account list, or -1.
int SelectedRow();

// The identity of the record (AccountDatabase's CurrentRecordId) that a row of the list shows;
// 0 when there is no such row.
std::uint64_t RecordIdOfRow(int row);

}  // namespace ob
