// The account list's rebuild: which records get rows, their numbers and cells, batches, the
// selection, and the fatal error for fields of another kind than text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/field_cipher.h"
#include "tests/support/main_window_fixture.h"
#include "ui/account_list.h"

namespace ob::test {
namespace {

using AccountList = MainWindowTest;

// prefix followed by n in decimal.
std::string Numbered(std::string prefix, int n) {
    return prefix.append(std::to_string(n));
}

TEST_F(AccountList, EmptyTableGivesAnEmptyListAndNoMessage) {
    db.WriteAccounts({});
    OpenMain();
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(sp.MessageBoxes().empty());
    // The rebuild cleared the list and added nothing.
    EXPECT_EQ(sp.ListRowCountHistory(main_, kAccountList), std::vector<int>{0});
}

TEST_F(AccountList, RecordsWithEmptyStoredUrlGetNoRowAndNumbersHaveNoGaps) {
    const PlainRecord a{"https://a.example", "alice", "pw-a", "first"};
    const PlainRecord b{"b.example", "bob", "", ""};  // empty fields stay empty cells
    const PlainRecord c{"网址三", "账号三", "密码三", "备注三"};
    db.WriteAccounts({{"", "no-url-1", "x", "y"}, a, {"", "no-url-2", "", ""}, b, c});
    OpenMain();
    EXPECT_EQ(Rows(), RowsOf({a, b, c}));
}

TEST_F(AccountList, RecordUnderAnotherKeyShowsItsNumberAndFourEmptyCells) {
    const PlainRecord a{"a.example", "alice", "pw", "r"};
    const PlainRecord foreign{"f.example", "fred", "pw-f", "rf"};
    db.WriteDatabase({Enciphered(a),
                      Enciphered(foreign, "another key"),
                      {FieldValue::OfText("not a cipher text"), FieldValue::OfText("x"),
                       FieldValue::OfText(""), FieldValue::OfText("")}});
    OpenMain();
    const std::vector<std::vector<std::string>> want = {
        {"1", "a.example", "alice", "pw", "r"}, {"2", "", "", "", ""}, {"3", "", "", "", ""}};
    EXPECT_EQ(Rows(), want);
}

TEST_F(AccountList, RowNumbersArePlainDecimals) {
    std::vector<PlainRecord> accounts;
    for (int i = 0; i < 12; ++i) {
        accounts.push_back({Numbered("u", i), "a", "p", "r"});
    }
    db.WriteAccounts(accounts);
    OpenMain();
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[0][0], "1");
    EXPECT_EQ(rows[8][0], "9");
    EXPECT_EQ(rows[9][0], "10");
    EXPECT_EQ(rows[11][0], "12");
}

// A table larger than one batch, with long stretches of unlisted records (more than one hold of
// the lock reads), comes out whole and in order, and each row names its own record.
TEST_F(AccountList, LargeTableArrivesInBatchesWholeAndInOrder) {
    std::vector<std::vector<FieldValue>> records;
    std::vector<PlainRecord> listed;
    const std::vector<FieldValue> unlisted = {FieldValue::OfText(""), FieldValue::OfText("x"),
                                              FieldValue::OfText("y"), FieldValue::OfText("z")};
    for (int i = 0; i < 12000; ++i) {
        // Records 1000 to 6999 are all unlisted; elsewhere every third is.
        if ((i >= 1000 && i < 7000) || i % 3 == 0) {
            records.push_back(unlisted);
        } else {
            const PlainRecord p{Numbered("u", i), Numbered("a", i), "p", "r"};
            // Stored without the cipher's cost per record: the rows then show empty cells, but
            // the number and the record identity still tell order and completeness.
            records.push_back({FieldValue::OfText(EncryptField(p.url, kFixturePassword)),
                               FieldValue::OfText(EncryptField(p.account, kFixturePassword)),
                               FieldValue::OfText(""), FieldValue::OfText("")});
            listed.push_back({p.url, p.account, "", ""});
        }
    }
    db.WriteDatabase(records);
    OpenMain();
    EXPECT_EQ(Rows(), RowsOf(listed));

    // More than one hand-over: the row count grew in steps, each larger than the one before.
    const std::vector<int> history = sp.ListRowCountHistory(main_, kAccountList);
    ASSERT_GT(history.size(), 2u);
    EXPECT_EQ(history.front(), 0);
    // The first rows come in a small hand-over of their own, so they show at once.
    EXPECT_LE(history[1], 100);
    for (std::size_t i = 1; i < history.size(); ++i) {
        EXPECT_GT(history[i], history[i - 1]);
    }

    const std::vector<TableRecord> table = db.ReadTable();
    std::size_t row = 0;
    for (const TableRecord& r : table) {
        if (r.listed) {
            EXPECT_EQ(RecordIdOfRow(static_cast<int>(row)), r.id) << "row " << row;
            ++row;
        }
    }
    EXPECT_EQ(row, listed.size());
    EXPECT_EQ(RecordIdOfRow(static_cast<int>(row)), 0u);
    EXPECT_EQ(RecordIdOfRow(-1), 0u);
}

TEST_F(AccountList, RebuildRemovesTheSelectionFirst) {
    db.WriteAccounts({{"a", "1", "", ""}, {"b", "2", "", ""}, {"c", "3", "", ""}});
    OpenMain();
    sp.SelectRow(main_, kAccountList, 2);
    ASSERT_EQ(SelectedRow(), 2);
    const std::size_t changes = sp.ListRowCountHistory(main_, kAccountList).size();

    StartAccountListRefresh();
    ASSERT_TRUE(
        sp.PumpUntil([&] { return sp.ListRowCountHistory(main_, kAccountList).size() > changes; }));
    EXPECT_EQ(sp.ListRowCountHistory(main_, kAccountList)[changes], 0);
    EXPECT_EQ(SelectedRow(), -1);
    EXPECT_EQ(RowsWhenIdle().size(), 3u);
    EXPECT_EQ(SelectedRow(), -1);
}

// A field that yields another kind than text ends the program with the fatal error of code 5,
// shown from the user-interface thread. Each case is a process of its own.
TEST(AccountListFatal, FieldOfAnotherKindIsFatalErrorFive) {
    struct Case {
        const char* name;
        int number_field;  // which of the four fields is a number field
        bool url_empty;    // the stored "网址" of the one record
        bool no_records;   // an empty table: nothing is read
        bool fatal;
    };
    const Case cases[] = {
        {"number url", 0, false, false, true},
        {"number account", 1, false, false, true},
        {"number remark", 3, false, false, true},
        // A record with an empty stored "网址" reads no other field.
        {"number account, unlisted record", 1, true, false, false},
        {"number url, empty table", 0, false, true, false},
    };
    const FatalErrorHandler previous = SetFatalErrorHandler(&ShowFatalErrorAndExit);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountFixture db;
        std::vector<db::FieldDef> fields = db::AccountFields();
        fields[static_cast<std::size_t>(c.number_field)].kind = FieldKind::Number;
        std::vector<FieldValue> record;
        for (int f = 0; f < 4; ++f) {
            if (f == c.number_field) {
                record.push_back(FieldValue::OfNumber(7));
            } else if (f == 0 && c.url_empty) {
                record.push_back(FieldValue::OfText(""));
            } else {
                record.push_back(FieldValue::OfText(EncryptField("v", kFixturePassword)));
            }
        }
        db.WriteDatabase(c.no_records ? std::vector<std::vector<FieldValue>>{}
                                      : std::vector<std::vector<FieldValue>>{record},
                         fields);

        ScriptedPlatform sp;
        if (c.fatal) {
            sp.ExpectMessageBox({.text = FatalErrorText(5, "数据或数组类型不匹配"),
                                 .caption = "错误",
                                 .style = 0x10 | kTaskModal});
        }
        const WindowRef w = sp.Open(WindowKind::Main);
        ASSERT_NE(w, 0u);
        bool ended = false;
        try {
            sp.WaitForIdle();
        } catch (const ProcessExit& e) {
            ended = true;
            EXPECT_EQ(e.code, -1);
        }
        EXPECT_EQ(ended, c.fatal);
        if (c.fatal) {
            const auto boxes = sp.MessageBoxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(boxes[0].ui_thread);
            EXPECT_EQ(boxes[0].owner, 0u);
        } else {
            EXPECT_TRUE(sp.ListRows(w, kAccountList).empty());
            EXPECT_TRUE(sp.MessageBoxes().empty());
        }
        // The scripted process ended without destroying its window: close it, which closes the
        // database, before the next case.
        sp.Close(w);
        sp.WaitForIdle();
    }
    SetFatalErrorHandler(previous);
}

}  // namespace
}  // namespace ob::test
