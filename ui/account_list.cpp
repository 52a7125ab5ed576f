// The account list: an owner-data model on the user-interface thread, rebuilt from the database by
// background threads that read the table in batches under the database work lock and hand the
// rows over to the user-interface thread.
#include "ui/account_list.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "app/program.h"
#include "base/fatal.h"
#include "base/secure.h"
#include "platform/platform.h"
#include "store/account_database.h"
#include "store/field_cipher.h"

namespace ob {
namespace {

constexpr std::string_view kListControl = "超级列表框1";
constexpr std::array<std::string_view, 4> kFields = {"网址", "帐号", "密码", "备注"};

// Rows handed over at once: the first hand-over is small so the first rows show at once, later
// ones double so that a large table costs the user-interface thread few hand-overs (each one
// updates the list control, which costs it milliseconds whatever the number of rows).
constexpr std::size_t kFirstHandOverRows = 64;
constexpr std::size_t kMaxHandOverRows = 16384;
// Listed rows and records read under one hold of the lock, so that a delete or an add never
// waits long for a rebuild.
constexpr std::size_t kMaxRowsPerHold = 1024;
constexpr std::int32_t kMaxPassesPerHold = 4096;

struct Row {
    std::string number;                 // column 0: the row's index + 1
    std::array<SecureString, 4> cells;  // columns 1 to 4, deciphered
    std::uint64_t record_id = 0;        // the record the row shows
};

// A listed record as the store holds it, read under the lock and deciphered after it.
struct StoredRow {
    std::array<SecureString, 4> values;
    std::uint64_t record_id = 0;
};

// The model: the rows in the batches they came in, each built on its rebuild's thread, so that
// taking one over costs the user-interface thread no copying. User-interface thread only.
struct Batch {
    int first;  // index of its first row in the list
    std::vector<Row> rows;
};
std::vector<Batch> g_batches;
int g_row_count = 0;

const Row* RowAt(int row) {
    if (row < 0 || row >= g_row_count) {
        return nullptr;
    }
    auto it = std::upper_bound(g_batches.begin(), g_batches.end(), row,
                               [](int r, const Batch& b) { return r < b.first; });
    --it;  // the last batch that starts at or before row
    return &it->rows[static_cast<std::size_t>(row - it->first)];
}

std::mutex g_database_work;
// The window whose list is rebuilt; 0 when there is none. Changed under g_database_work.
std::atomic<WindowRef> g_window{0};
// Every request of a rebuild, and every detach, takes a new generation; a rebuild goes on only
// while the generation is still its own.
std::atomic<std::uint64_t> g_generation{0};

bool IsCurrent(std::uint64_t generation) {
    return g_generation.load() == generation && g_window.load() != 0;
}

// Runs apply on the user-interface thread if the rebuild is still current there. False when the
// rebuild must stop: superseded, the window gone, or the program ending.
template <class Apply>
bool HandOver(std::uint64_t generation, Apply&& apply) {
    bool applied = false;
    const bool ran = ThePlatform().RunOnUiThread([&] {
        if (!IsCurrent(generation)) {
            return;
        }
        apply(g_window.load());
        applied = true;
    });
    return ran && applied;
}

// A field of another kind than text: the fatal run-time error, shown from the user-interface
// thread like every other message box (the caller has released the lock).
void RaiseTypeMismatch() {
    ThePlatform().RunOnUiThread([] { RaiseFatalError(5, "数据或数组类型不匹配"); });
}

enum class ReadResult { Ok, Stop, TypeMismatch };

// One pass of the walk at the current record: a listed record is appended to batch. Under the
// lock.
ReadResult ReadOneRecord(std::vector<StoredRow>& batch) {
    FieldValue url = ReadField(kFields[0]);
    if (url.kind != FieldKind::Text) {
        return ReadResult::TypeMismatch;
    }
    if (!url.text.empty()) {
        StoredRow stored;
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            FieldValue v = ReadField(kFields[i]);
            if (v.kind != FieldKind::Text) {
                return ReadResult::TypeMismatch;
            }
            stored.values[i] = std::move(v.text);
        }
        stored.record_id = CurrentRecordId();
        batch.push_back(std::move(stored));
    }
    SkipRecord();
    return ReadResult::Ok;
}

void WalkTable(std::uint64_t generation) {
    if (!IsCurrent(generation)) {
        return;
    }
    // Remove all rows first, so the selection goes at once. The old rows are wiped and freed on
    // this thread, not on the user-interface thread (for a large list that is most of the
    // clearing), once the first new rows are shown.
    std::vector<Batch> old_rows;
    if (!HandOver(generation, [&old_rows](WindowRef w) {
            old_rows.swap(g_batches);
            g_row_count = 0;
            ThePlatform().ListSetRowCount(w, kListControl, 0);
        })) {
        return;
    }

    std::unique_lock lock(g_database_work);
    if (!IsCurrent(generation)) {
        return;
    }
    // The key is copied while the window surely exists: the sign-in password is released after
    // the main window has gone, and this thread may outlive it.
    const SecureString key = SignInPassword();
    GoToFirstRecord();
    const std::int32_t n = GetRecordCount();

    std::int32_t pass = 0;
    int next_number = 1;
    std::size_t hand_over_rows = kFirstHandOverRows;
    std::vector<StoredRow> stored;
    std::vector<Row> ready;  // deciphered, not yet handed over
    while (pass < n) {
        stored.clear();
        const std::size_t hold_rows = std::min(kMaxRowsPerHold, hand_over_rows - ready.size());
        const std::int32_t hold_end = pass + std::min(n - pass, kMaxPassesPerHold);
        while (pass < hold_end && stored.size() < hold_rows) {
            if (!IsCurrent(generation)) {
                return;
            }
            const ReadResult r = ReadOneRecord(stored);
            if (r == ReadResult::TypeMismatch) {
                lock.unlock();
                RaiseTypeMismatch();
                return;
            }
            ++pass;
        }
        // Where the walk goes on; 0 at the end position, after which every pass would read an
        // empty "网址" and list nothing.
        const std::uint64_t resume_id = pass < n ? CurrentRecordId() : 0;
        lock.unlock();

        const std::size_t before = ready.size();
        if (ready.capacity() == 0) {
            ready.reserve(hand_over_rows);
        }
        ready.resize(before + stored.size());
        for (std::size_t k = 0; k < stored.size(); ++k) {
            Row& row = ready[before + k];
            row.number = std::to_string(next_number++);
            for (std::size_t i = 0; i < kFields.size(); ++i) {
                row.cells[i] = DecryptField(stored[k].values[i], key);
            }
            row.record_id = stored[k].record_id;
        }
        if (!ready.empty() && (ready.size() >= hand_over_rows || resume_id == 0)) {
            if (!HandOver(generation, [&ready](WindowRef w) {
                    const int added = static_cast<int>(ready.size());
                    g_batches.push_back({g_row_count, std::move(ready)});
                    g_row_count += added;
                    ThePlatform().ListSetRowCount(w, kListControl, g_row_count);
                })) {
                return;
            }
            ready = std::vector<Row>();
            hand_over_rows = std::min(hand_over_rows * 2, kMaxHandOverRows);
            if (!old_rows.empty()) {
                old_rows = std::vector<Batch>();
            }
        }
        if (resume_id == 0) {
            return;
        }

        lock.lock();
        // Others may have used the database meanwhile: go back to the record the walk stopped
        // at. A record that has gone means the table changed under the walk; the change that
        // removed it requests a newer rebuild, so this one ends.
        if (!IsCurrent(generation) || GoToRecordId(resume_id) != 1) {
            return;
        }
    }
}

}  // namespace

void StartAccountListRefresh() {
    const std::uint64_t generation = ++g_generation;
    if (g_window.load() == 0) {
        return;  // no list to rebuild
    }
    // A thread that cannot be started is not reported.
    ThePlatform().StartThread([generation] { WalkTable(generation); });
}

void RefreshAccountList() {
    WalkTable(++g_generation);
}

int SelectedRow() {
    const WindowRef w = g_window.load();
    if (w == 0) {
        return -1;
    }
    const int row = ThePlatform().ListSelectedRow(w, kListControl);
    return row < 0 ? -1 : row;
}

std::uint64_t RecordIdOfRow(int row) {
    const Row* r = RowAt(row);
    return r != nullptr ? r->record_id : 0;
}

std::unique_lock<std::mutex> DatabaseWorkLock() {
    return std::unique_lock(g_database_work);
}

void AttachAccountList(WindowRef w) {
    ++g_generation;
    g_batches.clear();
    g_row_count = 0;
    g_window.store(w);
}

void DetachAccountList() {
    g_window.store(0);
    ++g_generation;
    std::vector<Batch>().swap(g_batches);  // wipes every deciphered value and frees the storage
    g_row_count = 0;
}

int AccountListRowCount() {
    return g_row_count;
}

std::string_view AccountListCell(int row, int column) {
    const Row* r = RowAt(row);
    if (r == nullptr || column < 0 || column > 4) {
        return {};
    }
    return column == 0 ? std::string_view(r->number)
                       : r->cells[static_cast<std::size_t>(column - 1)].view();
}

}  // namespace ob
