// The account list's pop-up menu and its six commands, with and without a selected row, and the
// delete that removes exactly the record the selected row shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/main_window_fixture.h"
#include "ui/list_menu.h"

namespace ob::test {
namespace {

constexpr std::string_view kConfirm = "你确定要删除吗？删除后不可恢复！";

enum Item { kOpenUrl = 1, kCopyAccount, kCopyPassword, kAddRecord, kDelete, kRefresh };

const PlainRecord kA{"https://a.example/登录", "alice", "pw-a", "ra"};
const PlainRecord kB{"b.example", "bob", "pw-b", "rb"};
const PlainRecord kC{"c.example", "", "", "rc"};  // empty account and password
const PlainRecord kHidden1{"", "hidden-1", "h1", ""};
const PlainRecord kHidden2{"", "hidden-2", "h2", ""};

class ListMenu : public MainWindowTest {
  protected:
    // Records 2 and 4 have no row, so row index + 1 is not the record number of B or C.
    void SetUp() override {
        db.WriteAccounts({kA, kHidden1, kB, kHidden2, kC});
        OpenMain();
        ASSERT_EQ(Rows(), RowsOf({kA, kB, kC}));
    }

    void Choose(int item) {
        sp.QueuePopupMenu(item);
        ASSERT_TRUE(sp.RightClick(main_, kAccountList));
    }

    std::vector<std::uint64_t> TableIds() {
        std::vector<std::uint64_t> ids;
        for (const TableRecord& r : db.ReadTable()) {
            ids.push_back(r.id);
        }
        return ids;
    }

    std::size_t ListChanges() { return sp.ListRowCountHistory(main_, kAccountList).size(); }

    static ScriptedPlatform::ExpectedBox ConfirmBox(int button) {
        return {.text = std::string(kConfirm),
                .button = button,
                .caption = "温馨提示",
                .style = 1 | kTaskModal};
    }
};

TEST_F(ListMenu, ShowsTheSixItemsOwnedByTheWindowAndRunsNothingWithoutAChoice) {
    const std::size_t changes = ListChanges();
    Choose(0);
    const auto menus = sp.PopupMenus();
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].owner, main_);
    const std::vector<std::string> want = {"打开网址", "复制帐号", "复制密码",
                                           "添加记忆", "删除选中", "刷新"};
    EXPECT_EQ(menus[0].items, want);
    EXPECT_TRUE(sp.WaitForIdle());
    EXPECT_EQ(ListChanges(), changes);
    EXPECT_TRUE(sp.MessageBoxes().empty());
    EXPECT_TRUE(sp.ClipboardTexts().empty());
    EXPECT_TRUE(sp.ShellOpens().empty());
    EXPECT_EQ(sp.Showings(WindowKind::AddRecord), 0);
}

TEST_F(ListMenu, CommandsThatNeedARowSayNothingIsSelected) {
    const std::vector<std::uint64_t> ids = TableIds();
    for (int item : {kOpenUrl, kCopyAccount, kCopyPassword, kDelete}) {
        SCOPED_TRACE(item);
        const std::size_t changes = ListChanges();
        sp.ExpectMessageBox({.text = "未选中内容", .caption = "温馨提示", .style = kTaskModal});
        Choose(item);
        EXPECT_TRUE(sp.WaitForIdle());
        EXPECT_EQ(ListChanges(), changes);  // no rebuild
    }
    EXPECT_EQ(sp.MessageBoxes().size(), 4u);
    for (const MessageBoxCall& box : sp.MessageBoxes()) {
        EXPECT_EQ(box.owner, 0u);
    }
    EXPECT_TRUE(sp.ClipboardTexts().empty());
    EXPECT_TRUE(sp.ShellOpens().empty());
    EXPECT_EQ(TableIds(), ids);
}

TEST_F(ListMenu, OpenAndCopyUseTheSelectedRowsCells) {
    struct Case {
        int row;
        int item;
        std::string want;
    };
    const Case cases[] = {
        {0, kOpenUrl, kA.url},           {1, kOpenUrl, kB.url}, {1, kCopyAccount, kB.account},
        {1, kCopyPassword, kB.password}, {2, kCopyAccount, ""},  // an empty cell: the empty text
        {2, kCopyPassword, ""},
    };
    std::vector<std::string> shell, clipboard;
    for (const Case& c : cases) {
        sp.SelectRow(main_, kAccountList, c.row);
        Choose(c.item);
        (c.item == kOpenUrl ? shell : clipboard).push_back(c.want);
    }
    EXPECT_EQ(sp.ShellOpens(), shell);
    EXPECT_EQ(sp.ClipboardTexts(), clipboard);
    EXPECT_TRUE(sp.MessageBoxes().empty());
}

TEST_F(ListMenu, AddRecordShowsTheAddWindowModallyWithOrWithoutASelection) {
    const std::size_t changes = ListChanges();
    Choose(kAddRecord);
    sp.SelectRow(main_, kAccountList, 1);
    Choose(kAddRecord);
    EXPECT_EQ(sp.Showings(WindowKind::AddRecord), 2);
    EXPECT_TRUE(sp.MessageBoxes().empty());
    // The command itself starts no rebuild (the add window does, once it has added a record).
    EXPECT_TRUE(sp.WaitForIdle());
    EXPECT_EQ(ListChanges(), changes);
}

TEST_F(ListMenu, RefreshRebuildsTheList) {
    sp.SelectRow(main_, kAccountList, 1);
    const std::size_t changes = ListChanges();
    Choose(kRefresh);
    EXPECT_EQ(RowsWhenIdle(), RowsOf({kA, kB, kC}));
    EXPECT_GT(ListChanges(), changes);
    EXPECT_EQ(SelectedRow(), -1);
    EXPECT_TRUE(sp.MessageBoxes().empty());
}

TEST_F(ListMenu, CancelledDeleteChangesNothingAndStartsNoRebuild) {
    const std::vector<std::uint64_t> ids = TableIds();
    sp.SelectRow(main_, kAccountList, 1);
    const std::size_t changes = ListChanges();
    sp.ExpectMessageBox(ConfirmBox(kIdCancel));
    Choose(kDelete);
    EXPECT_EQ(sp.RunningThreads(), 0);
    EXPECT_TRUE(sp.WaitForIdle());
    EXPECT_EQ(ListChanges(), changes);
    EXPECT_EQ(TableIds(), ids);
    EXPECT_EQ(SelectedRow(), 1);
}

// Records without a row stand before the selected one: the delete still removes the account the
// row shows, and only that one.
TEST_F(ListMenu, DeleteRemovesExactlyTheSelectedAccount) {
    for (int row : {1, 1}) {  // B, then C (which has moved up to row 1)
        const std::vector<TableRecord> before = db.ReadTable();
        sp.SelectRow(main_, kAccountList, row);
        const std::uint64_t chosen = RecordIdOfRow(row);
        sp.ExpectMessageBox(ConfirmBox(kIdOk));
        Choose(kDelete);
        EXPECT_TRUE(sp.WaitForIdle());
        std::vector<TableRecord> want = before;
        std::erase_if(want, [&](const TableRecord& r) { return r.id == chosen; });
        ASSERT_EQ(want.size(), before.size() - 1);
        const std::vector<TableRecord> after = db.ReadTable();
        ASSERT_EQ(after.size(), want.size());
        for (std::size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].id, want[i].id);
            EXPECT_EQ(after[i].plain.account, want[i].plain.account);
        }
        EXPECT_EQ(SelectedRow(), -1);
    }
    // Rebuilt and numbered again from 1; the records without a row are still there.
    EXPECT_EQ(Rows(), RowsOf({kA}));
    const std::vector<TableRecord> rest = db.ReadTable();
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(rest[1].plain.account, kHidden1.account);
    EXPECT_EQ(rest[2].plain.account, kHidden2.account);
}

// A rebuild clears the list while the question is shown: there is no selected row any more, so
// nothing is deleted (the old position-based delete would have removed the first record).
TEST_F(ListMenu, SelectionGoneAfterTheConfirmationDeletesNothing) {
    const std::vector<std::uint64_t> ids = TableIds();
    sp.SelectRow(main_, kAccountList, 1);
    ScriptedPlatform::ExpectedBox box = ConfirmBox(kIdOk);
    box.while_shown = [&] {
        StartAccountListRefresh();
        EXPECT_TRUE(sp.WaitForIdle());
        EXPECT_EQ(SelectedRow(), -1);
    };
    sp.ExpectMessageBox(std::move(box));
    const std::size_t changes = ListChanges();
    Choose(kDelete);
    EXPECT_TRUE(sp.WaitForIdle());
    EXPECT_EQ(TableIds(), ids);
    // The command still rebuilt the list afterwards.
    const std::vector<int> history = sp.ListRowCountHistory(main_, kAccountList);
    EXPECT_EQ(std::count(history.begin() + static_cast<std::ptrdiff_t>(changes), history.end(), 0),
              2);
    EXPECT_EQ(Rows(), RowsOf({kA, kB, kC}));
}

// The selected row's record left the table while the question was shown (the list not yet
// rebuilt): it can no longer be found, and no other record is deleted in its place.
TEST_F(ListMenu, RecordGoneAfterTheConfirmationDeletesNothingElse) {
    sp.SelectRow(main_, kAccountList, 1);
    ScriptedPlatform::ExpectedBox box = ConfirmBox(kIdOk);
    box.while_shown = [&] {
        auto lock = DatabaseWorkLock();
        ASSERT_EQ(GoToRecordId(RecordIdOfRow(1)), 1);
        ASSERT_EQ(DeleteCurrentRecord(), 1);
        ASSERT_EQ(PurgeDeletedRecords(), 1);
    };
    sp.ExpectMessageBox(std::move(box));
    Choose(kDelete);
    EXPECT_TRUE(sp.WaitForIdle());
    const std::vector<TableRecord> after = db.ReadTable();
    std::vector<std::string> accounts;
    for (const TableRecord& r : after) {
        accounts.push_back(r.plain.account);
    }
    EXPECT_EQ(accounts, (std::vector<std::string>{kA.account, kHidden1.account, kHidden2.account,
                                                  kC.account}));
    EXPECT_EQ(Rows(), RowsOf({kA, kC}));
}

}  // namespace
}  // namespace ob::test
