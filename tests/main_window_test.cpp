// The main window's life: the database open while it exists, the failed open, and a rebuild that
// is still running when the window goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/program.h"
#include "tests/support/main_window_fixture.h"
#include "ui/list_menu.h"

namespace ob::test {
namespace {

using MainWindow = MainWindowTest;

TEST_F(MainWindow, KeepsTheDatabaseOpenWhileItExists) {
    db.WriteAccounts({{"a", "1", "", ""}, {"", "2", "", ""}});
    OpenMain();
    EXPECT_EQ(GetRecordCount(), 2);
    EXPECT_EQ(Rows().size(), 1u);
    sp.Close(main_);
    EXPECT_EQ(GetRecordCount(), 0);  // closed: no current database
    // The file was released and opens again.
    EXPECT_EQ(OpenDatabase(DatabaseFilePath(), kFixturePassword), 1);
    CloseDatabase();
}

TEST_F(MainWindow, FailedOpenShowsWrongPasswordAndLeavesTheListEmpty) {
    db.WriteAccounts({{"a", "1", "", ""}});
    SetSignInPassword("not the password");
    sp.ExpectMessageBox({.text = "密码错误", .caption = "信息：", .style = 16 | kTaskModal});
    OpenMain();
    const auto boxes = sp.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, 0u);
    EXPECT_TRUE(sp.Exists(main_));
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(GetRecordCount(), 0);

    // "刷新" later finds no database: the list stays empty and nothing is shown.
    RefreshCommand();
    EXPECT_TRUE(RowsWhenIdle().empty());
    EXPECT_EQ(sp.MessageBoxes().size(), 1u);
}

// A rebuild interrupted by the window's destruction touches neither the database nor the list
// afterwards: the database is closed at once, and the walker, which had more rows to hand over,
// ends without another list change (the scripted list of a gone window would report one).
TEST_F(MainWindow, RebuildStillRunningWhenTheWindowGoesTouchesNothing) {
    std::vector<std::vector<FieldValue>> records(
        30000, {FieldValue::OfText("stored url"), FieldValue::OfText(""), FieldValue::OfText(""),
                FieldValue::OfText("")});
    db.WriteDatabase(records);
    main_ = sp.Open(WindowKind::Main);
    ASSERT_TRUE(sp.PumpUntil([&] { return sp.ListShownRowCount(main_, kAccountList) > 0; }));
    ASSERT_LT(sp.ListShownRowCount(main_, kAccountList), 30000);
    ASSERT_EQ(sp.RunningThreads(), 1);

    sp.Close(main_);
    EXPECT_EQ(GetRecordCount(), 0);
    EXPECT_EQ(AccountListRowCount(), 0);  // the rows were wiped with the window

    // The test now holds the database at a position of its own; a walker that went on would
    // move it.
    ASSERT_EQ(OpenDatabase(DatabaseFilePath(), kFixturePassword), 1);
    ASSERT_EQ(GoToRecord(123), 1);
    const std::uint64_t at = CurrentRecordId();
    EXPECT_TRUE(sp.WaitForIdle());
    EXPECT_EQ(CurrentRecordId(), at);
    CloseDatabase();
}

}  // namespace
}  // namespace ob::test
