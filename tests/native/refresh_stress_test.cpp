// Many overlapping rebuilds with additions and deletions in between: every delete removes exactly
// the record its row showed, and once all rebuilds have ended the list equals the table. Run it
// under ThreadSanitizer too (native-tsan preset).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/support/main_window_fixture.h"
#include "ui/list_menu.h"

namespace ob::test {
namespace {

using RefreshStress = MainWindowTest;

std::vector<std::uint64_t> IdsOf(const std::vector<TableRecord>& t) {
    std::vector<std::uint64_t> ids;
    for (const TableRecord& r : t) {
        ids.push_back(r.id);
    }
    return ids;
}

// Whatever the moment, the list holds rows of one rebuild only: numbered 1, 2, 3 ... and in
// table order, which is the order of growing record identities. Rows of a superseded rebuild
// mixed in would repeat or go back.
void ExpectOneRebuildsRows(int step) {
    const int n = AccountListRowCount();
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(AccountListCell(i, 0), std::to_string(i + 1)) << "step " << step;
        if (i > 0) {
            ASSERT_GT(RecordIdOfRow(i), RecordIdOfRow(i - 1)) << "step " << step << " row " << i;
        }
    }
}

TEST_F(RefreshStress, OverlappingRebuildsAddsAndDeletesEndWithTheListEqualToTheTable) {
    std::mt19937 rng(20261211);
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    int serial = 0;
    auto next_account = [&] {
        ++serial;
        // About one in five has no URL and so no row.
        return PlainRecord{chance(20) ? "" : "https://site" + std::to_string(serial) + ".example",
                           "user" + std::to_string(serial), "pw" + std::to_string(serial),
                           serial % 7 == 0 ? "" : "note"};
    };
    std::vector<PlainRecord> start;
    for (int i = 0; i < 300; ++i) {
        start.push_back(next_account());
    }
    db.WriteAccounts(start);
    main_ = sp.Open(WindowKind::Main);  // its first rebuild runs on while the steps begin

    int deletes = 0, empty_deletes = 0;
    for (int step = 0; step < 600; ++step) {
        const int action = static_cast<int>(rng() % 10);
        if (action < 3) {
            StartAccountListRefresh();
        } else if (action < 5) {
            // What the add-record window does: the addition and its rebuild under the lock.
            auto lock = DatabaseWorkLock();
            const std::vector<FieldValue> values = Enciphered(next_account());
            ASSERT_EQ(AddRecord(values), 1);
            StartAccountListRefresh();
        } else if (action < 7) {
            // Half the deletes come when no rebuild is pending, so the row stays selected.
            if (chance(50)) {
                ASSERT_TRUE(sp.WaitForIdle());
            }
            const int shown = sp.ListShownRowCount(main_, kAccountList);
            if (shown == 0) {
                continue;
            }
            sp.SelectRow(main_, kAccountList, static_cast<int>(rng() % shown));
            const std::vector<std::uint64_t> before = IdsOf(db.ReadTable());
            // Rebuilds go on while the question is shown; what the command then finds selected
            // is what it must delete.
            std::uint64_t chosen = 0;
            ScriptedPlatform::ExpectedBox box{.text = "你确定要删除吗？删除后不可恢复！"};
            box.while_shown = [&] { chosen = RecordIdOfRow(SelectedRow()); };
            sp.ExpectMessageBox(std::move(box));
            DeleteSelectedCommand();
            std::vector<std::uint64_t> want = before;
            std::erase(want, chosen);
            ASSERT_EQ(IdsOf(db.ReadTable()), want) << "step " << step;
            ++deletes;
            empty_deletes += chosen == 0;
        } else {
            for (int i = static_cast<int>(rng() % 8); i > 0; --i) {
                sp.Pump();
            }
        }
        ExpectOneRebuildsRows(step);
    }
    ASSERT_TRUE(sp.WaitForIdle(std::chrono::seconds(60)));

    const std::vector<TableRecord> table = db.ReadTable();
    std::vector<PlainRecord> listed;
    std::vector<std::uint64_t> listed_ids;
    for (const TableRecord& r : table) {
        if (r.listed) {
            listed.push_back(r.plain);
            listed_ids.push_back(r.id);
        }
    }
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), listed.size());
    const auto want = RowsOf(listed);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i], want[i]) << "row " << i;
        EXPECT_EQ(RecordIdOfRow(static_cast<int>(i)), listed_ids[i]) << "row " << i;
    }
    EXPECT_GT(deletes - empty_deletes, 10);  // the run did exercise real deletions
    EXPECT_TRUE(sp.MessageBoxes().size() == static_cast<std::size_t>(deletes));
}

}  // namespace
}  // namespace ob::test
