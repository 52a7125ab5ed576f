// The add-record window on the scripted platform with the real store, cipher and account list:
// what "添加" stores and when the list shows it, what it refuses, and the "随机" button.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/program.h"
#include "platform/dialogs.h"
#include "store/account_database.h"
#include "store/field_cipher.h"
#include "tests/support/program_dir.h"
#include "tests/support/scripted_platform.h"
#include "ui/account_list.h"
#include "ui/password_generator.h"

namespace ob::test {
namespace {

constexpr std::string_view kList = "超级列表框1";
constexpr std::string_view kKey = "pw-添加";

ScriptedPlatform::ExpectedBox Box(std::string_view text, std::uint32_t code) {
    return {.text = std::string(text), .caption = "信息：", .style = code | 0x2000u};
}

class AddRecordTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.CreateProtectedDatabase(kKey);
        SetSignInPassword(kKey);
    }

    // The main window as after a sign-in: the database open and the first rebuild done.
    void OpenMainWindow() {
        main = sp.Open(WindowKind::Main);
        ASSERT_NE(main, 0u);
        ASSERT_TRUE(sp.WaitForIdle());
        ASSERT_EQ(sp.ListShownRowCount(main, kList), 0);
    }

    void Fill(WindowRef w, std::string_view url, std::string_view account,
              std::string_view password, std::string_view remark) {
        sp.SetText(w, "编辑框1", url);
        sp.SetText(w, "编辑框2", account);
        sp.SetText(w, "编辑框3", password);
        sp.SetText(w, "编辑框4", remark);
    }

    std::vector<std::string> Boxes(WindowRef w) {
        return {sp.Text(w, "编辑框1"), sp.Text(w, "编辑框2"), sp.Text(w, "编辑框3"),
                sp.Text(w, "编辑框4"), sp.Text(w, "编辑框5")};
    }

    std::vector<TempProgramDir::StoredRecord> Stored() {
        EXPECT_TRUE(sp.WaitForIdle());
        auto lock = DatabaseWorkLock();
        return TempProgramDir::ReadCurrentRecords();
    }

    static std::string Plain(std::string_view cipher) {
        return std::string(DecryptField(cipher, kKey).view());
    }

    ScriptedPlatform sp;
    TempProgramDir dir;
    WindowRef main = 0;
};

TEST_F(AddRecordTest, OnlyTheUrlFilledStoresThreeEmptyFieldsAndTheRowShowsDuringTheMessage) {
    OpenMainWindow();
    WindowRef w = sp.Open(WindowKind::AddRecord);
    sp.SetText(w, "编辑框1", "https://例子.example/登录");
    ScriptedPlatform::ExpectedBox done = Box("添加成功", 64);
    done.while_shown = [&] {
        // The rebuild was started before the message: its row fills in behind the box.
        EXPECT_TRUE(sp.PumpUntil([&] { return sp.ListShownRowCount(main, kList) == 1; }));
    };
    sp.ExpectMessageBox(done);
    ASSERT_TRUE(sp.Click(w, "按钮1"));

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(stored[0].url, "https://例子.example/登录") << "stored enciphered";
    EXPECT_EQ(Plain(stored[0].url), "https://例子.example/登录");
    EXPECT_EQ(stored[0].account, "");
    EXPECT_EQ(stored[0].password, "");
    EXPECT_EQ(stored[0].remark, "");
    const auto rows = sp.ListRows(main, kList);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], "https://例子.example/登录");
    EXPECT_EQ(rows[0][2] + rows[0][3] + rows[0][4], "");
    EXPECT_EQ(Boxes(w), (std::vector<std::string>{"https://例子.example/登录", "", "", "", "10"}));
}

TEST_F(AddRecordTest, TwoClicksStoreTwoRecordsWithDifferentCipherTexts) {
    OpenMainWindow();
    WindowRef w = sp.Open(WindowKind::AddRecord);
    Fill(w, "mail.example", "张三", "Pa55word", "备注 1");
    sp.ExpectMessageBox(Box("添加成功", 64));
    sp.ExpectMessageBox(Box("添加成功", 64));
    ASSERT_TRUE(sp.Click(w, "按钮1"));
    ASSERT_TRUE(sp.PressEnter(w));  // Enter clicks the default button "添加"

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_NE(stored[0].url, stored[1].url);
    EXPECT_NE(stored[0].account, stored[1].account);
    EXPECT_NE(stored[0].password, stored[1].password);
    EXPECT_NE(stored[0].remark, stored[1].remark);
    for (const auto& r : stored) {
        EXPECT_EQ(Plain(r.url), "mail.example");
        EXPECT_EQ(Plain(r.account), "张三");
        EXPECT_EQ(Plain(r.password), "Pa55word");
        EXPECT_EQ(Plain(r.remark), "备注 1");
    }
    EXPECT_EQ(sp.ListRows(main, kList).size(), 2u);
    EXPECT_EQ(Boxes(w),
              (std::vector<std::string>{"mail.example", "张三", "Pa55word", "备注 1", "10"}));
}

TEST_F(AddRecordTest, AnEmptyOrBlankUrlIsRefusedAndNothingIsStored) {
    OpenMainWindow();
    WindowRef w = sp.Open(WindowKind::AddRecord);
    const int threads = sp.ThreadsStarted();
    // A blank URL would be stored as the empty text and never listed: the account typed with it
    // would be out of sight.
    for (std::string_view url : {"", " ", "   ", "　", " 　 "}) {
        Fill(w, url, "acct", "pw", "note");
        sp.ExpectMessageBox(Box("请先添加内容", 64));
        ASSERT_TRUE(sp.Click(w, "按钮1"));
        EXPECT_EQ(Boxes(w),
                  (std::vector<std::string>{std::string(url), "acct", "pw", "note", "10"}));
    }
    EXPECT_TRUE(Stored().empty());
    EXPECT_EQ(sp.ThreadsStarted(), threads) << "no rebuild for a refused record";
}

TEST_F(AddRecordTest, AFailingAddShowsTheErrorStartsNoRebuildAndKeepsTheBoxes) {
    // No main window: no database is open, so AddRecord fails.
    WindowRef w = sp.Open(WindowKind::AddRecord);
    Fill(w, "site", "acct", "pw", "note");
    sp.ExpectMessageBox(Box("添加失败", 16));
    ASSERT_TRUE(sp.Click(w, "按钮1"));
    EXPECT_EQ(sp.ThreadsStarted(), 0);
    EXPECT_EQ(Boxes(w), (std::vector<std::string>{"site", "acct", "pw", "note", "10"}));
}

TEST_F(AddRecordTest, ABoxWithTextGbkCannotHoldStoresNothing) {
    OpenMainWindow();
    WindowRef w = sp.Open(WindowKind::AddRecord);
    Fill(w, "site", "acct", "pw", "note");
    for (std::string_view box : {"编辑框1", "编辑框3"}) {
        sp.SetUnrepresentableText(w, box, "x");
        sp.ExpectMessageBox(Box(kUnrepresentableText, 48));
        ASSERT_TRUE(sp.Click(w, "按钮1"));
        sp.SetText(w, box, "ok");
    }
    EXPECT_TRUE(Stored().empty());
}

TEST_F(AddRecordTest, ShownModallyOverTheMainWindowAndFromTheTemplateEachTime) {
    OpenMainWindow();
    int showing = 0;
    sp.SetUser(WindowKind::AddRecord, [&](ScriptedPlatform& p, WindowRef w) {
        ++showing;
        EXPECT_FALSE(p.IsEnabled(main));
        EXPECT_EQ(Boxes(w), (std::vector<std::string>{"", "", "", "", "10"}));
        Fill(w, "site" + std::to_string(showing), "a", "", "");
        p.Type(w, "编辑框5", "x1y2");  // only digits and "-" are taken as typed
        EXPECT_EQ(p.Text(w, "编辑框5"), "12");
        p.PressEsc(w);  // does nothing here
        ASSERT_TRUE(p.Exists(w));
        p.PressEnter(w);
    });
    sp.ExpectMessageBox(Box("添加成功", 64));
    sp.ExpectMessageBox(Box("添加成功", 64));
    sp.ShowModal(WindowKind::AddRecord);
    sp.ShowModal(WindowKind::AddRecord);
    EXPECT_TRUE(sp.IsEnabled(main));
    EXPECT_EQ(Stored().size(), 2u);
}

// ---- "随机" ------------------------------------------------------------------------------

bool IsPasswordText(std::string_view s) {
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return true;
}

TEST_F(AddRecordTest, RandomFillsThePasswordBoxWithTheCountOfCharacters) {
    WindowRef w = sp.Open(WindowKind::AddRecord);
    Fill(w, "site", "acct", "typed before", "note");
    ASSERT_TRUE(sp.Click(w, "按钮3"));
    const std::string first = sp.Text(w, "编辑框3");
    EXPECT_EQ(first.size(), 10u);
    EXPECT_TRUE(IsPasswordText(first)) << first;
    ASSERT_TRUE(sp.Click(w, "按钮3"));
    EXPECT_NE(sp.Text(w, "编辑框3"), first);

    const struct {
        const char* count_text;  // pasted, so not filtered
        std::size_t length;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"0", 0},
        {"-3", 0},
        {"12abc", 12},
        {"  4", 4},
        {"+5", 5},
        {"１２", 12},
        {"99999", static_cast<std::size_t>(kMaxGeneratedPasswordLength)},
        {"4294967306", 10},
    };
    for (const auto& c : cases) {
        sp.SetText(w, "编辑框3", "typed before");
        sp.SetText(w, "编辑框5", c.count_text);
        ASSERT_TRUE(sp.Click(w, "按钮3"));
        EXPECT_EQ(sp.Text(w, "编辑框3").size(), c.length) << "count text " << c.count_text;
        EXPECT_TRUE(IsPasswordText(sp.Text(w, "编辑框3")));
        EXPECT_EQ(sp.Text(w, "编辑框5"), c.count_text);
    }
    EXPECT_EQ(sp.Text(w, "编辑框1") + sp.Text(w, "编辑框2") + sp.Text(w, "编辑框4"),
              "siteacctnote");
    EXPECT_TRUE(sp.MessageBoxes().empty());
}

bool NoRandomBytes(std::span<std::uint8_t>) {
    return false;
}

TEST_F(AddRecordTest, RandomWithoutASystemGeneratorLeavesThePasswordAndSaysSo) {
    WindowRef w = sp.Open(WindowKind::AddRecord);
    sp.SetText(w, "编辑框3", "mine");
    RandomByteSource old = SetRandomByteSourceForTesting(&NoRandomBytes);
    sp.ExpectMessageBox(Box(kRandomSourceFailedText, 16));
    sp.Click(w, "按钮3");
    SetRandomByteSourceForTesting(old);
    EXPECT_EQ(sp.Text(w, "编辑框3"), "mine");
    sp.SetUnrepresentableText(w, "编辑框5", "1");
    sp.ExpectMessageBox(Box(kUnrepresentableText, 48));
    sp.Click(w, "按钮3");
    EXPECT_EQ(sp.Text(w, "编辑框3"), "mine");
}

}  // namespace
}  // namespace ob::test
