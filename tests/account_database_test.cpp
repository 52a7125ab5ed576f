// The account store's operations: results, positions, passwords, the password question, fatal
// errors, failed and concurrent writes, and the derived-key cache.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "base/sys.h"
#include "store/account_database.h"
#include "store/db_format.h"
#include "store/db_testing.h"
#include "store/field_cipher.h"
#include "store/file_io.h"

namespace ob {
namespace {

namespace fs = std::filesystem;

struct FatalRaised : std::runtime_error {
    int code;
    FatalRaised(int c, std::string_view m) : std::runtime_error(std::string(m)), code(c) {}
};
[[noreturn]] void ThrowFatal(int code, std::string_view message) {
    throw FatalRaised(code, message);
}

std::vector<std::uint8_t> FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteBytes(const fs::path& p, std::span<const std::uint8_t> b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
void WriteText(const fs::path& p, std::string_view s) {
    WriteBytes(p, std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

std::vector<FieldValue> Rec(std::string_view a, std::string_view b = "", std::string_view c = "",
                            std::string_view d = "") {
    return {FieldValue::OfText(a), FieldValue::OfText(b), FieldValue::OfText(c),
            FieldValue::OfText(d)};
}

// prefix followed by the number (built so that GCC 12's -Wrestrict false alarm stays away).
std::string Numbered(std::string_view prefix, long long i) {
    std::string s(prefix);
    s += std::to_string(i);
    return s;
}

std::string Url() {
    return std::string(ReadField("网址").text.view());
}

// The script of the password question: answers to give, and the status lines seen.
struct PromptScript {
    std::vector<std::optional<std::string>> answers;
    std::vector<std::string> asked;
};
PromptScript* g_script = nullptr;
std::optional<SecureString> ScriptedPrompt(std::string_view status) {
    g_script->asked.emplace_back(status);
    (void)GetRecordCount();  // the question is asked without holding the store
    if (g_script->asked.size() > g_script->answers.size() ||
        !g_script->answers[g_script->asked.size() - 1]) {
        return std::nullopt;
    }
    return SecureString(*g_script->answers[g_script->asked.size() - 1]);
}

// A clock that tests move forward.
std::atomic<long long> g_clock_offset_s{0};
std::chrono::steady_clock::time_point TestClock() {
    return std::chrono::steady_clock::now() + std::chrono::seconds(g_clock_offset_s.load());
}

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        dir_ =
            fs::temp_directory_path() /
            fs::path(u8"帐号库测试-" +
                     std::u8string(reinterpret_cast<const char8_t*>(std::to_string(rd()).c_str())));
        fs::create_directories(dir_);
        SetKdfIterationsForTesting(64);
        old_fatal_ = SetFatalErrorHandler(ThrowFatal);
        SetPasswordPromptHandler(nullptr);
        db::SetStoreClockForTesting(TestClock);
        g_clock_offset_s = 0;
    }
    void TearDown() override {
        CloseDatabase();
        fileio::SetAtomicReplaceFailureForTesting(0);
        SetPasswordPromptHandler(nullptr);
        SetFatalErrorHandler(old_fatal_);
        SetKdfIterationsForTesting(0);
        db::SetStoreClockForTesting(nullptr);
        std::error_code ec;
        fs::permissions(dir_ / u8"数据库.edb", fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    fs::path NewDb(std::vector<db::FieldDef> fields = db::AccountFields(),
                   const char8_t* name = u8"数据库.edb") {
        const fs::path p = dir_ / name;
        WriteBytes(p, *db::NewDatabaseImage(std::move(fields)));
        return p;
    }
    // A database of n records ("u1", "a1", "p1", "r1" ...) with that access password.
    fs::path Filled(int n, std::string_view password = "", const char8_t* name = u8"数据库.edb") {
        const fs::path p = NewDb(db::AccountFields(), name);
        EXPECT_EQ(OpenDatabase(p), 1);
        for (int i = 1; i <= n; ++i) {
            const std::string s = std::to_string(i);
            EXPECT_EQ(AddRecord(Rec("u" + s, "a" + s, "p" + s, "r" + s)), 1);
        }
        if (!password.empty()) {
            EXPECT_EQ(SetDatabasePassword(password), 1);
        }
        CloseDatabase();
        return p;
    }

    fs::path dir_;
    FatalErrorHandler old_fatal_ = nullptr;
};

TEST_F(StoreTest, EmptyTable) {
    ASSERT_EQ(OpenDatabase(NewDb()), 1);
    EXPECT_EQ(GetRecordCount(), 0);
    GoToFirstRecord();
    EXPECT_EQ(SkipRecord(), 0);
    FieldValue v = ReadField("网址");
    EXPECT_EQ(v.kind, FieldKind::Text);
    EXPECT_TRUE(v.text.empty());
    EXPECT_EQ(GoToRecord(1), 1);
    EXPECT_EQ(CurrentRecordId(), 0u);  // position 0 is the end position
    EXPECT_EQ(DeleteCurrentRecord(), 0);
    EXPECT_EQ(PurgeDeletedRecords(), 1);
    EXPECT_EQ(GetRecordCount(), 0);
}

TEST_F(StoreTest, WalkSkipAndGoToRecordBounds) {
    ASSERT_EQ(OpenDatabase(Filled(3)), 1);
    // The list rebuild's walk: the i-th pass reads record i.
    GoToFirstRecord();
    const int n = GetRecordCount();
    ASSERT_EQ(n, 3);
    for (int i = 1; i <= n; ++i) {
        EXPECT_EQ(Url(), Numbered("u", i));
        EXPECT_EQ(ReadField("备注").text.view(), Numbered("r", i));
        EXPECT_EQ(SkipRecord(), 1);
    }
    // From record 3, a step reaches the end position; the next fails.
    EXPECT_EQ(GoToRecord(3), 1);
    EXPECT_EQ(SkipRecord(), 1);
    EXPECT_EQ(SkipRecord(), 0);
    EXPECT_EQ(CurrentRecordId(), 0u);
    FieldValue end = ReadField("密码");
    EXPECT_EQ(end.kind, FieldKind::Text);
    EXPECT_TRUE(end.text.empty());
    EXPECT_EQ(DeleteCurrentRecord(), 0);

    const std::pair<std::int32_t, const char*> cases[] = {
        {INT_MIN, "u1"}, {-5, "u1"}, {0, "u1"},  {1, "u1"},       {2, "u2"},
        {3, "u3"},       {4, "u3"},  {99, "u3"}, {INT_MAX, "u3"},
    };
    for (const auto& [number, url] : cases) {
        EXPECT_EQ(GoToRecord(number), 1) << number;
        EXPECT_EQ(Url(), url) << number;
    }
}

TEST_F(StoreTest, EveryOperationWithoutCurrentDatabase) {
    CloseDatabase();
    CloseDatabase();
    EXPECT_EQ(GetRecordCount(), 0);
    GoToFirstRecord();
    EXPECT_EQ(SkipRecord(), 0);
    EXPECT_EQ(GoToRecord(1), 0);
    EXPECT_EQ(DeleteCurrentRecord(), 0);
    EXPECT_EQ(PurgeDeletedRecords(), 0);
    EXPECT_EQ(SetDatabasePassword("abcdef"), 0);
    EXPECT_EQ(AddRecord(Rec("x")), 0);
    EXPECT_EQ(CurrentRecordId(), 0u);
    EXPECT_EQ(GoToRecordId(1), 0);
    try {
        ReadField("网址");
        FAIL() << "ReadField returned without a current database";
    } catch (const FatalRaised& e) {
        EXPECT_EQ(e.code, 0);
        EXPECT_STREQ(e.what(), "未指定当前数据库或者指定数据库未打开");
    }
}

TEST_F(StoreTest, ReadFieldOfUnknownNameIsFatalAndLeavesTheStore) {
    ASSERT_EQ(OpenDatabase(Filled(2)), 1);
    ASSERT_EQ(GoToRecord(2), 1);
    for (const char* name : {"网站", "", "网址 "}) {
        try {
            ReadField(name);
            FAIL() << "no fatal error for " << name;
        } catch (const FatalRaised& e) {
            EXPECT_EQ(e.code, 0);
            EXPECT_STREQ(e.what(), "指定字段不存在");
        }
    }
    EXPECT_EQ(Url(), "u2");
    EXPECT_EQ(GetRecordCount(), 2);
}

TEST_F(StoreTest, OpenWithAndWithoutAccessPassword) {
    PromptScript script;
    g_script = &script;
    SetPasswordPromptHandler(ScriptedPrompt);
    const fs::path plain = Filled(2, "", u8"无密码.edb");
    const fs::path locked = Filled(2, "Secret", u8"有密码.edb");
    struct Case {
        const fs::path* path;
        std::optional<std::string> password;
        int result;
    };
    const Case cases[] = {
        {&plain, std::nullopt, 1},  {&plain, "", 1},       {&plain, "?", 1},
        {&plain, "x", 0},           {&plain, " ", 0},      {&plain, "??", 0},
        {&locked, std::nullopt, 0}, {&locked, "", 0},      {&locked, "secret", 0},
        {&locked, "Secret ", 0},    {&locked, "Secre", 0}, {&locked, "Secret", 1},
    };
    for (const Case& c : cases) {
        const int r = c.password ? OpenDatabase(*c.path, *c.password) : OpenDatabase(*c.path);
        EXPECT_EQ(r, c.result) << c.path->filename().string() << " / "
                               << c.password.value_or("(none)");
        if (r == 1) {
            EXPECT_EQ(Url(), "u1");  // position 0
            EXPECT_EQ(GetRecordCount(), 2);
        } else {
            EXPECT_EQ(GoToRecord(1), 0);  // nothing is open after a failure
        }
        CloseDatabase();
    }
    EXPECT_TRUE(script.asked.empty());  // "?" on a file without password asks nothing

    const std::vector<fs::path> not_databases = {dir_ / "missing.edb", dir_ / "text.edb",
                                                 dir_ / "empty.edb", dir_, fs::path()};
    WriteText(dir_ / "text.edb", "just some text, not a database\r\n");
    WriteText(dir_ / "empty.edb", "");
    for (const fs::path& p : not_databases) {
        EXPECT_EQ(OpenDatabase(p), 0) << p;
        EXPECT_EQ(OpenDatabase(p, "Secret"), 0) << p;
        EXPECT_EQ(IsDatabaseEncrypted(p), 0) << p;
    }
    g_script = nullptr;
}

TEST_F(StoreTest, QuestionMarkAsksUpToThreeTimes) {
    const fs::path p = Filled(1, "right");
    const std::string left2 = "密码错误，您还有 2 次重新输入的机会。";
    const std::string left1 = "密码错误，您还有 1 次重新输入的机会。";
    struct Case {
        const char* what;
        std::vector<std::optional<std::string>> answers;
        int result;
        std::vector<std::string> asked;
    };
    const Case cases[] = {
        {"cancel", {std::nullopt}, 0, {""}},
        {"right at once", {"right"}, 1, {""}},
        {"right at the second", {"wrong", "right"}, 1, {"", left2}},
        {"empty fails an attempt", {"", "right"}, 1, {"", left2}},
        {"right at the third", {"wrong", "", "right"}, 1, {"", left2, left1}},
        {"three wrong", {"wrong", "Right", "right "}, 0, {"", left2, left1}},
        {"cancel at the second", {"wrong", std::nullopt, "right"}, 0, {"", left2}},
        {"never a fourth", {"a", "b", "c", "right"}, 0, {"", left2, left1}},
    };
    SetPasswordPromptHandler(ScriptedPrompt);
    for (const Case& c : cases) {
        PromptScript script{c.answers, {}};
        g_script = &script;
        EXPECT_EQ(OpenDatabase(p, "?"), c.result) << c.what;
        EXPECT_EQ(script.asked, c.asked) << c.what;
        if (c.result == 1) {
            EXPECT_EQ(Url(), "u1");
        }
        CloseDatabase();
    }
    SetPasswordPromptHandler(nullptr);  // nothing to ask with: the open fails
    EXPECT_EQ(OpenDatabase(p, "?"), 0);
    g_script = nullptr;
}

TEST_F(StoreTest, IsDatabaseEncryptedLooksOnlyAtTheHeader) {
    const fs::path plain = Filled(1, "", u8"无密码.edb");
    const fs::path locked = Filled(1, "abcdef", u8"有密码.edb");
    EXPECT_EQ(IsDatabaseEncrypted(plain), 0);
    EXPECT_EQ(IsDatabaseEncrypted(locked), 1);
    std::vector<std::uint8_t> cut = FileBytes(locked);
    cut.pop_back();
    WriteBytes(dir_ / "cut.edb", cut);
    EXPECT_EQ(IsDatabaseEncrypted(dir_ / "cut.edb"), 0);

    // The open database tells its own state, also right after its password changed.
    ASSERT_EQ(OpenDatabase(plain), 1);
    ASSERT_EQ(AddRecord(Rec("u2")), 1);
    EXPECT_EQ(IsDatabaseEncrypted(plain), 0);
    ASSERT_EQ(SetDatabasePassword("123456"), 1);
    EXPECT_EQ(IsDatabaseEncrypted(plain), 1);
    EXPECT_EQ(IsDatabaseEncrypted(locked), 1);
    EXPECT_EQ(GetRecordCount(), 2);
    EXPECT_EQ(Url(), "u2");
}

TEST_F(StoreTest, SetDatabasePassword) {
    const fs::path p = Filled(3);
    ASSERT_EQ(OpenDatabase(p), 1);
    ASSERT_EQ(GoToRecord(2), 1);
    const std::vector<std::uint8_t> before = FileBytes(p);
    EXPECT_EQ(SetDatabasePassword("?"), 0);
    EXPECT_EQ(FileBytes(p), before);
    EXPECT_EQ(SetDatabasePassword("abc123"), 1);
    EXPECT_EQ(Url(), "u2");  // the position stays
    CloseDatabase();
    EXPECT_EQ(OpenDatabase(p), 0);
    EXPECT_EQ(OpenDatabase(p, "abc12"), 0);
    ASSERT_EQ(OpenDatabase(p, "abc123"), 1);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(GoToRecord(i), 1);
        EXPECT_EQ(ReadField("帐号").text.view(), "a" + std::to_string(i));
    }
    // Changed again, then any length; then removed.
    const std::string long_password(10000, 'k');
    EXPECT_EQ(SetDatabasePassword(long_password), 1);
    CloseDatabase();
    EXPECT_EQ(OpenDatabase(p, "abc123"), 0);
    ASSERT_EQ(OpenDatabase(p, long_password), 1);
    EXPECT_EQ(SetDatabasePassword("?"), 0);
    EXPECT_EQ(SetDatabasePassword(""), 1);
    CloseDatabase();
    EXPECT_EQ(IsDatabaseEncrypted(p), 0);
    EXPECT_EQ(OpenDatabase(p, long_password), 0);
    ASSERT_EQ(OpenDatabase(p), 1);
    EXPECT_EQ(GetRecordCount(), 3);
    // The program's own passwords get the full iteration count.
    SetKdfIterationsForTesting(0);
    ASSERT_EQ(SetDatabasePassword("abcdef"), 1);
    EXPECT_EQ(db::ParseHeader(FileBytes(p))->iterations, db::kDefaultKdfIterations);
}

TEST_F(StoreTest, TheOpenDatabaseCannotBeOpenedAgain) {
    const fs::path p = Filled(3, "pw1234");
    const fs::path other = Filled(0, "", u8"另一个.edb");
    ASSERT_EQ(OpenDatabase(p, "pw1234"), 1);
    ASSERT_EQ(GoToRecord(2), 1);
    std::vector<fs::path> spellings = {p, dir_ / "." / p.filename(),
                                       dir_ / "sub" / ".." / p.filename()};
    spellings.push_back(dir_ / fs::path(u8"数据库.EDB"));
    for (const fs::path& s : spellings) {
        EXPECT_EQ(OpenDatabase(s, "pw1234"), 0) << s;
        EXPECT_EQ(Url(), "u2") << s;  // still current, at its position
    }
    // Another file opens in its place.
    EXPECT_EQ(OpenDatabase(other), 1);
    EXPECT_EQ(GetRecordCount(), 0);
    EXPECT_EQ(OpenDatabase(p, "pw1234"), 1);
    EXPECT_EQ(GetRecordCount(), 3);
}

TEST_F(StoreTest, AddRecordByPositionAndByteExact) {
    const fs::path p = Filled(2);
    ASSERT_EQ(OpenDatabase(p), 1);
    std::string big;
    for (int i = 0; i < 6000; ++i) {
        big.push_back(static_cast<char>(1 + i % 255));  // every byte value but 0
    }
    const std::string gbk = "中文备注：测试";
    ASSERT_EQ(AddRecord(Rec(big, "", gbk, big + big)), 1);
    EXPECT_EQ(GetRecordCount(), 3);
    EXPECT_EQ(Url(), big);  // the new record is current
    EXPECT_EQ(ReadField("帐号").text.view(), "");
    EXPECT_EQ(ReadField("密码").text.view(), gbk);
    EXPECT_EQ(ReadField("备注").text.view(), big + big);

    // Values beyond the fields are ignored; fields without a value get the empty text.
    std::vector<FieldValue> five = Rec("5a", "5b", "5c", "5d");
    five.push_back(FieldValue::OfNumber(7));
    ASSERT_EQ(AddRecord(five), 1);
    EXPECT_EQ(ReadField("备注").text.view(), "5d");
    const std::vector<FieldValue> one = {FieldValue::OfText("only")};
    ASSERT_EQ(AddRecord(one), 1);
    EXPECT_EQ(ReadField("密码").text.view(), "");
    ASSERT_EQ(AddRecord({}), 1);
    EXPECT_EQ(Url(), "");
    EXPECT_EQ(GetRecordCount(), 6);

    // A value of the wrong kind fails before anything is written.
    ASSERT_EQ(GoToRecord(2), 1);
    const std::vector<std::uint8_t> before = FileBytes(p);
    std::vector<FieldValue> wrong = Rec("a", "b", "c", "d");
    wrong[2] = FieldValue::OfNumber(3);
    EXPECT_EQ(AddRecord(wrong), 0);
    EXPECT_EQ(FileBytes(p), before);
    EXPECT_EQ(GetRecordCount(), 6);
    EXPECT_EQ(Url(), "u2");

    // All of it is on disk.
    CloseDatabase();
    ASSERT_EQ(OpenDatabase(p), 1);
    ASSERT_EQ(GoToRecord(3), 1);
    EXPECT_EQ(Url(), big);
    EXPECT_EQ(ReadField("备注").text.view(), big + big);
}

TEST_F(StoreTest, NumberFieldsAndOtherSchemas) {
    const fs::path p = NewDb({{"网址", FieldKind::Number}, {"帐号", FieldKind::Text}});
    ASSERT_EQ(OpenDatabase(p), 1);
    const FieldValue wrong[] = {FieldValue::OfText("http://x"), FieldValue::OfText("a")};
    EXPECT_EQ(AddRecord(wrong), 0);
    const FieldValue right[] = {FieldValue::OfNumber(12.5), FieldValue::OfText("a"),
                                FieldValue::OfText("ignored")};
    ASSERT_EQ(AddRecord(right), 1);
    FieldValue v = ReadField("网址");
    EXPECT_EQ(v.kind, FieldKind::Number);
    EXPECT_EQ(v.number, 12.5);
    EXPECT_EQ(ReadField("帐号").text.view(), "a");
    EXPECT_THROW(ReadField("密码"), FatalRaised);
    CloseDatabase();

    ASSERT_EQ(OpenDatabase(NewDb({{"帐号", FieldKind::Text}}, u8"无网址.edb")), 1);
    EXPECT_EQ(AddRecord(Rec("a", "b")), 1);
    EXPECT_THROW(ReadField("网址"), FatalRaised);
}

TEST_F(StoreTest, DeleteMarksAndPurgeRemoves) {
    const fs::path p = Filled(3);
    ASSERT_EQ(OpenDatabase(p), 1);
    ASSERT_EQ(GoToRecord(2), 1);
    EXPECT_EQ(DeleteCurrentRecord(), 1);
    EXPECT_EQ(DeleteCurrentRecord(), 1);  // a marked record stays marked
    EXPECT_EQ(GetRecordCount(), 3);
    EXPECT_EQ(Url(), "u2");  // reads like any other, position unchanged
    // The mark is on disk.
    CloseDatabase();
    ASSERT_EQ(OpenDatabase(p), 1);
    EXPECT_EQ(GetRecordCount(), 3);
    ASSERT_EQ(GoToRecord(3), 1);
    EXPECT_EQ(PurgeDeletedRecords(), 1);
    EXPECT_EQ(GetRecordCount(), 2);
    EXPECT_EQ(Url(), "u1");  // position 0
    ASSERT_EQ(GoToRecord(2), 1);
    EXPECT_EQ(Url(), "u3");
    EXPECT_EQ(PurgeDeletedRecords(), 1);  // nothing marked: still 1, position 0
    EXPECT_EQ(Url(), "u1");
    EXPECT_EQ(GetRecordCount(), 2);
    CloseDatabase();
    ASSERT_EQ(OpenDatabase(p), 1);
    EXPECT_EQ(GetRecordCount(), 2);
    ASSERT_EQ(GoToRecord(2), 1);
    EXPECT_EQ(Url(), "u3");
}

TEST_F(StoreTest, RecordIdsFindRecordsAgain) {
    ASSERT_EQ(OpenDatabase(Filled(3)), 1);
    ASSERT_EQ(GoToRecord(3), 1);
    const std::uint64_t third = CurrentRecordId();
    ASSERT_EQ(GoToRecord(1), 1);
    const std::uint64_t first = CurrentRecordId();
    EXPECT_NE(first, third);
    ASSERT_EQ(DeleteCurrentRecord(), 1);
    ASSERT_EQ(PurgeDeletedRecords(), 1);
    EXPECT_EQ(GoToRecordId(first), 0);
    EXPECT_EQ(Url(), "u2");  // unchanged by the failure
    EXPECT_EQ(GoToRecordId(third), 1);
    EXPECT_EQ(Url(), "u3");
    ASSERT_EQ(AddRecord(Rec("u4")), 1);
    EXPECT_GT(CurrentRecordId(), third);
}

TEST_F(StoreTest, ProtectedFileHoldsNothingReadable) {
    const fs::path p = Filled(0, "abcdef");
    ASSERT_EQ(OpenDatabase(p, "abcdef"), 1);
    ASSERT_EQ(AddRecord(Rec("VISIBLE-URL", "VISIBLE-ACCOUNT", "VISIBLE-PASS", "中文备注")), 1);
    const std::vector<std::uint8_t> b = FileBytes(p);
    const std::string s(b.begin(), b.end());
    for (const char* t : {"VISIBLE", "中文备注", "网址", "abcdef"}) {
        EXPECT_EQ(s.find(t), std::string::npos) << t;
    }
}

// Damaged protected files: every cut and every changed byte fails to open, without a crash.
TEST_F(StoreTest, DamagedFilesFailToOpen) {
    const fs::path good = Filled(2, "abcdef");
    const std::vector<std::uint8_t> bytes = FileBytes(good);
    const fs::path p = dir_ / "damaged.edb";
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        WriteBytes(p, std::span(bytes).first(n));
        EXPECT_EQ(OpenDatabase(p, "abcdef"), 0) << "cut at " << n;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::vector<std::uint8_t> b = bytes;
        b[i] ^= 0x01;  // keeps a changed iteration count small or out of bounds
        WriteBytes(p, b);
        EXPECT_EQ(OpenDatabase(p, "abcdef"), 0) << "byte " << i;
    }
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(0);
    WriteBytes(p, longer);
    EXPECT_EQ(OpenDatabase(p, "abcdef"), 0);
    EXPECT_EQ(OpenDatabase(good, "abcdef"), 1);
}

// What a failed write must leave: the file byte for byte, the records and the position.
TEST_F(StoreTest, FailedWritesChangeNothing) {
    struct Op {
        const char* name;
        int (*run)();
    };
    const Op ops[] = {
        {"AddRecord", [] { return AddRecord(Rec("new")); }},
        {"DeleteCurrentRecord", [] { return DeleteCurrentRecord(); }},
        {"PurgeDeletedRecords", [] { return PurgeDeletedRecords(); }},
        {"SetDatabasePassword", [] { return SetDatabasePassword("newpass"); }},
    };
    const fs::path p = Filled(4, "oldpass");
    ASSERT_EQ(OpenDatabase(p, "oldpass"), 1);
    ASSERT_EQ(GoToRecord(1), 1);
    ASSERT_EQ(DeleteCurrentRecord(), 1);  // something for the purge to remove
    auto check_unchanged = [&](const std::vector<std::uint8_t>& before, const std::string& what) {
        EXPECT_EQ(FileBytes(p), before) << what;
        EXPECT_EQ(GetRecordCount(), 4) << what;
        EXPECT_EQ(Url(), "u3") << what;
        EXPECT_EQ(IsDatabaseEncrypted(p), 1) << what;
    };
    for (const Op& op : ops) {
        for (int step = 1; step <= 6; ++step) {
            ASSERT_EQ(GoToRecord(3), 1);
            const std::vector<std::uint8_t> before = FileBytes(p);
            fileio::SetAtomicReplaceFailureForTesting(step);
            EXPECT_EQ(op.run(), 0) << op.name << " step " << step;
            fileio::SetAtomicReplaceFailureForTesting(0);
            check_unchanged(before, std::string(op.name) + " step " + std::to_string(step));
        }
        // A read-only file is not replaced either.
        const std::vector<std::uint8_t> before = FileBytes(p);
        fs::permissions(p,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        EXPECT_EQ(op.run(), 0) << op.name << " read-only";
        fs::permissions(p, fs::perms::owner_write, fs::perm_options::add);
        check_unchanged(before, std::string(op.name) + " read-only");
    }
    // The same operations succeed once the writes go through, and the old password still works
    // until it is changed.
    CloseDatabase();
    ASSERT_EQ(OpenDatabase(p, "oldpass"), 1);
    EXPECT_EQ(GetRecordCount(), 4);
    for (const Op& op : ops) {
        ASSERT_EQ(GoToRecord(2), 1);
        EXPECT_EQ(op.run(), 1) << op.name;
    }
}

// Another process's writes, made here behind the store's back: the store builds on them.
class OtherWriter {
  public:
    OtherWriter(fs::path p, std::string_view password) : path_(std::move(p)) {
        bytes_ = FileBytes(path_);
        header_ = *db::ParseHeader(bytes_);
        if (header_.protection == db::Protection::Password) {
            key_.emplace();
            EXPECT_TRUE(db::DeriveKey(password, header_.salt, header_.iterations, *key_));
        }
        table_ = db::DecodeFile(bytes_, header_, key_ ? &*key_ : nullptr);
        EXPECT_TRUE(table_);
    }
    db::Table& table() { return *table_; }
    void Write() {
        ++header_.change_counter;
        WriteBytes(path_, *db::EncodeFile(*table_, header_, key_ ? &*key_ : nullptr));
    }
    void WriteWithNewPassword(std::string_view password) {
        header_.salt[0] ^= 1;
        EXPECT_TRUE(db::DeriveKey(password, header_.salt, header_.iterations, *key_));
        Write();
    }

  private:
    fs::path path_;
    std::vector<std::uint8_t> bytes_;
    db::Header header_;
    std::optional<db::Key> key_;
    std::optional<db::Table> table_;
};

TEST_F(StoreTest, WritesBuildOnAnotherProcessesChanges) {
    const fs::path p = Filled(3, "shared");
    ASSERT_EQ(OpenDatabase(p, "shared"), 1);
    {
        OtherWriter other(p, "shared");
        ASSERT_TRUE(other.table().Append(Rec("other1")));
        other.Write();
    }
    EXPECT_EQ(GetRecordCount(), 3);  // reads come from what this process read
    ASSERT_EQ(AddRecord(Rec("mine1")), 1);
    EXPECT_EQ(GetRecordCount(), 5);
    EXPECT_EQ(Url(), "mine1");
    ASSERT_EQ(GoToRecord(4), 1);
    EXPECT_EQ(Url(), "other1");

    // A deletion follows its record by identity into the newer content.
    ASSERT_EQ(GoToRecord(3), 1);
    {
        OtherWriter other(p, "shared");
        other.table().SetDeleted(0, true);
        other.Write();  // marked only: positions stay the same
        OtherWriter again(p, "shared");
        again.table() = again.table().WithoutDeleted();
        again.Write();  // record 1 gone: "u3" is now record 2
    }
    ASSERT_EQ(DeleteCurrentRecord(), 1);
    EXPECT_EQ(GetRecordCount(), 4);
    EXPECT_EQ(Url(), "u3");
    ASSERT_EQ(PurgeDeletedRecords(), 1);
    EXPECT_EQ(GetRecordCount(), 3);
    const char* left[] = {"u2", "other1", "mine1"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GoToRecord(i + 1), 1);
        EXPECT_EQ(Url(), left[i]);
    }

    // A record the other process removed cannot be deleted: 0, and nothing changes.
    ASSERT_EQ(GoToRecord(1), 1);
    {
        OtherWriter other(p, "shared");
        other.table().SetDeleted(0, true);
        other.table() = other.table().WithoutDeleted();
        other.Write();
    }
    const std::vector<std::uint8_t> before = FileBytes(p);
    EXPECT_EQ(DeleteCurrentRecord(), 0);
    EXPECT_EQ(FileBytes(p), before);
    EXPECT_EQ(GetRecordCount(), 3);
    EXPECT_EQ(Url(), "u2");

    // After the other process changed the password, the key held here no longer fits.
    {
        OtherWriter other(p, "shared");
        other.WriteWithNewPassword("changed");
    }
    const std::vector<std::uint8_t> changed = FileBytes(p);
    EXPECT_EQ(AddRecord(Rec("lost?")), 0);
    EXPECT_EQ(FileBytes(p), changed);
    CloseDatabase();
    EXPECT_EQ(OpenDatabase(p, "shared"), 0);
    ASSERT_EQ(OpenDatabase(p, "changed"), 1);
    EXPECT_EQ(GetRecordCount(), 2);
}

TEST_F(StoreTest, DerivedKeyIsReusedOnceRightAfterTheSignInTest) {
    const fs::path p = Filled(1, "pw-one");
    const fs::path q = Filled(1, "pw-one", u8"另一个.edb");
    auto derivations = [] { return db::KeyDerivationCount(); };

    // Sign-in: test open, close at once; the main window's open derives nothing.
    std::uint64_t n = derivations();
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(derivations(), n + 1);
    CloseDatabase();
    EXPECT_TRUE(db::KeyCacheHeldForTesting());
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(derivations(), n + 1);
    // A main window open for a while leaves no key behind when it closes.
    g_clock_offset_s += 600;
    CloseDatabase();
    EXPECT_FALSE(db::KeyCacheHeldForTesting());
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(derivations(), n + 2);
    CloseDatabase();

    // Neither another password nor another file with the same password uses the cached key,
    // and the open that looked at the cache wipes it whatever its outcome.
    n = derivations();
    EXPECT_EQ(OpenDatabase(p, "pw-onE"), 0);
    EXPECT_FALSE(db::KeyCacheHeldForTesting());
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(derivations(), n + 2);
    CloseDatabase();
    ASSERT_EQ(OpenDatabase(q, "pw-one"), 1);
    EXPECT_EQ(derivations(), n + 3);
    CloseDatabase();

    // A cached key is not used long after it was derived.
    n = derivations();
    g_clock_offset_s += 600;
    ASSERT_EQ(OpenDatabase(q, "pw-one"), 1);
    EXPECT_EQ(derivations(), n + 1);
    // Changing the password drops the cache.
    ASSERT_EQ(SetDatabasePassword("pw-two"), 1);
    EXPECT_FALSE(db::KeyCacheHeldForTesting());
}

// The main window's open right after the sign-in test takes over what the test read, without
// reading the file again, but only while the file is unchanged and for the same password.
TEST_F(StoreTest, QuickReopenTakesOverTheTestedContentOnlyWhileTheFileIsUnchanged) {
    const fs::path p = Filled(3, "pw-one");
    auto decodes = [] { return db::FileDecodeCount(); };

    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    CloseDatabase();
    std::uint64_t n = decodes();
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(decodes(), n);
    EXPECT_EQ(GetRecordCount(), 3);
    EXPECT_EQ(Url(), "u1");  // at the first record, like any open
    ASSERT_EQ(GoToRecord(3), 1);
    EXPECT_EQ(Url(), "u3");
    // What this process wrote before a quick close is what it takes over.
    ASSERT_EQ(AddRecord(Rec("mine")), 1);
    CloseDatabase();
    n = decodes();
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(decodes(), n);
    EXPECT_EQ(GetRecordCount(), 4);
    CloseDatabase();

    // Another process wrote in between: the file is read anew.
    {
        OtherWriter other(p, "pw-one");
        ASSERT_TRUE(other.table().Append(Rec("other")));
        other.Write();
    }
    n = decodes();
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(decodes(), n + 1);
    EXPECT_EQ(GetRecordCount(), 5);
    ASSERT_EQ(GoToRecord(5), 1);
    EXPECT_EQ(Url(), "other");
    CloseDatabase();

    // Another password gets nothing, and the kept content is gone after that attempt.
    EXPECT_EQ(OpenDatabase(p, "pw-onE"), 0);
    n = decodes();
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(decodes(), n + 1);
    CloseDatabase();

    // The file went away: the open fails.
    const std::vector<std::uint8_t> bytes = FileBytes(p);
    fs::remove(p);
    EXPECT_EQ(OpenDatabase(p, "pw-one"), 0);
    EXPECT_EQ(GetRecordCount(), 0);
    WriteBytes(p, bytes);

    // A database open for a while keeps nothing when it closes.
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    g_clock_offset_s += 600;
    CloseDatabase();
    n = decodes();
    ASSERT_EQ(OpenDatabase(p, "pw-one"), 1);
    EXPECT_EQ(decodes(), n + 1);
}

// Files written by the other build: the native accountdb and the Windows one under Wine, each
// with two accounts (fields enciphered under the access password, as the program stores
// them) and then the access password set with the program's 600,000 iterations. Both builds
// open both. Made with:
//   accountdb create F; accountdb add F --password P URL ACCOUNT PASSWORD REMARK (twice);
//   accountdb passwd F P
constexpr std::uint8_t kNativeWritten[] = {
    0x4f, 0x42, 0x41, 0x43, 0x43, 0x44, 0x42, 0x1a, 0x01, 0x00, 0x01, 0x01, 0x40, 0x00, 0x00, 0x00,
    0xc0, 0x27, 0x09, 0x00, 0x9f, 0x7f, 0x8d, 0xff, 0x3b, 0xc1, 0x8b, 0xf0, 0x77, 0xa6, 0xf2, 0x2d,
    0x75, 0xd6, 0x6e, 0xaa, 0x48, 0xb2, 0x16, 0x25, 0x73, 0xbd, 0x97, 0x2f, 0xc0, 0x90, 0xd0, 0x53,
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x93, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xf3, 0xbe, 0x9a, 0xe2, 0xa9, 0xeb, 0x26, 0x35, 0x95, 0x6e, 0x94, 0x46, 0xf9, 0x0a, 0x75, 0xa2,
    0x3f, 0x2e, 0x3a, 0x98, 0x86, 0x5d, 0xcf, 0xd9, 0xb9, 0x1c, 0xe1, 0x4c, 0xf2, 0x71, 0xcb, 0x8b,
    0xc8, 0xba, 0xe1, 0x5e, 0x4a, 0xcd, 0x5c, 0x39, 0x07, 0x68, 0xc3, 0x86, 0xd6, 0xee, 0x00, 0x66,
    0x4f, 0x8f, 0x49, 0xa2, 0xab, 0xed, 0x6c, 0xd6, 0x16, 0xd8, 0xf4, 0x77, 0xf4, 0x8b, 0xd4, 0xf4,
    0xfb, 0x74, 0xb6, 0x7a, 0x5c, 0xf1, 0x3f, 0x33, 0xc0, 0x37, 0x75, 0xea, 0xb2, 0xbc, 0x1a, 0x69,
    0x12, 0x71, 0x6f, 0x37, 0x61, 0xae, 0x0b, 0xe5, 0x5a, 0x54, 0xae, 0xb8, 0x0d, 0x98, 0x65, 0xd9,
    0x5b, 0x92, 0x8e, 0xaa, 0x57, 0xaf, 0xac, 0xf4, 0x73, 0x39, 0x9d, 0xa8, 0x81, 0x75, 0x41, 0xa1,
    0x5d, 0x17, 0x31, 0x0f, 0xbb, 0x23, 0xdc, 0x27, 0x3d, 0xf4, 0xf0, 0xc3, 0x46, 0xa9, 0xde, 0xd4,
    0xae, 0x1e, 0xfb, 0x63, 0x23, 0x4e, 0xc5, 0x3a, 0x3e, 0x22, 0x47, 0x99, 0x96, 0xe6, 0x20, 0xb6,
    0xb5, 0xe2, 0x1f, 0xce, 0x24, 0xaa, 0xc0, 0x8a, 0xef, 0x83, 0xaa, 0xf1, 0xc8, 0x09, 0x32, 0xeb,
    0xa0, 0x3e, 0x32, 0xcc, 0x7a, 0x71, 0xe3, 0x88, 0xf0, 0xf1, 0x63, 0x7f, 0x13, 0xee, 0xe7, 0x7e,
    0xc2, 0x8f, 0x0a, 0x26, 0x23, 0xb6, 0x3e, 0x5c, 0x0a, 0x56, 0x5f, 0xf0, 0x92, 0x5c, 0x12, 0xa3,
    0xc5, 0xed, 0xaa, 0x4f, 0x5d, 0x98, 0x00, 0x55, 0xd9, 0xb6, 0xac, 0xf2, 0xf6, 0xe9, 0xce, 0xad,
    0xf6, 0x2e, 0x90, 0x4c, 0x5f, 0xd5, 0x5a, 0x77, 0x43, 0x77, 0xb0, 0xc2, 0xb1, 0xf3, 0xc5, 0x0f,
    0x3a, 0x26, 0xe5, 0x98, 0xe6, 0x3f, 0x91, 0x8d, 0x04, 0x2a, 0x00, 0x7e, 0xa8, 0x80, 0x4b, 0x42,
    0xba, 0xc6, 0xce, 0x9a, 0x54, 0xdc, 0xae, 0x40, 0x86, 0x64, 0x8b, 0xf9, 0xca, 0xc6, 0x07, 0x5b,
    0x99, 0x84, 0xa8, 0x07, 0x35, 0x32, 0xa9, 0x92, 0xcd, 0xf8, 0xd8, 0xa4, 0xb2, 0x29, 0x84, 0x4c,
    0x06, 0x0d, 0xff, 0x71, 0xee, 0x97, 0x6a, 0x96, 0x90, 0x82, 0x4b, 0xd2, 0x7a, 0xdc, 0x47, 0xc5,
    0x0a, 0x99, 0xda, 0x5d, 0xc9, 0x81, 0x0e, 0xef, 0x59, 0x3d, 0x4d, 0x35, 0x75, 0x64, 0xd0, 0x72,
    0x35, 0x39, 0xf4, 0xa9, 0xab, 0x99, 0x68, 0xc3, 0x39, 0x71, 0x2f, 0x3b, 0x3e, 0xad, 0xa1, 0x71,
    0x0a, 0xf0, 0x68, 0x8c, 0x61, 0x1b, 0xd4, 0x27, 0xb3, 0x55, 0x80, 0xf8, 0x84, 0xac, 0xe9, 0x0e,
    0x33, 0x89, 0x4a, 0x92, 0xc8, 0x59, 0xef, 0xa1, 0x21, 0xc9, 0xbc, 0x95, 0x26, 0xc0, 0x2d, 0xcb,
    0xd9, 0xa0, 0xfa, 0xf3, 0x11, 0xf5, 0x59, 0xfa, 0xcb, 0x0a, 0x47, 0x0f, 0x30, 0x6d, 0xaf, 0xb4,
    0x33, 0xa1, 0x99, 0x6e, 0x0a, 0xd3, 0x50, 0x1a, 0xc0, 0xbe, 0x7d, 0x91, 0x4f, 0x2c, 0x41, 0xd1,
    0x56, 0xad, 0x19, 0x4a, 0xa5, 0x33, 0x97, 0xbe, 0xba, 0x7c, 0xc5, 0x1d, 0xfc, 0xc6, 0x1e, 0xc4,
    0x10, 0xf6, 0xbb, 0xb5, 0x15, 0xd0, 0xfc, 0x0a, 0x32, 0x4e, 0x91, 0xb6, 0x22, 0xde, 0x4c, 0xdf,
    0xc3, 0xc9, 0x10,
};

constexpr std::uint8_t kWindowsWritten[] = {
    0x4f, 0x42, 0x41, 0x43, 0x43, 0x44, 0x42, 0x1a, 0x01, 0x00, 0x01, 0x01, 0x40, 0x00, 0x00, 0x00,
    0xc0, 0x27, 0x09, 0x00, 0xac, 0xa0, 0x49, 0x39, 0xfb, 0x1a, 0x71, 0xf4, 0x5f, 0xe2, 0xf3, 0x59,
    0x42, 0xdd, 0xc6, 0x6a, 0x01, 0x97, 0xfa, 0x57, 0xf0, 0xe5, 0x7d, 0xb6, 0xa7, 0xfe, 0xb8, 0x15,
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x81, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x33, 0x23, 0x21, 0xbb, 0xc7, 0xcd, 0x0c, 0xd1, 0x54, 0x06, 0xb3, 0x20, 0x20, 0x84, 0xcd, 0x46,
    0xd1, 0xb2, 0x85, 0xbb, 0x24, 0x09, 0x4a, 0x87, 0xea, 0x08, 0xad, 0x86, 0xe8, 0x90, 0xd0, 0xf2,
    0xb7, 0x87, 0x81, 0x6a, 0x4f, 0x7e, 0x8b, 0x44, 0x44, 0x4c, 0x03, 0xfb, 0xa8, 0xd9, 0x74, 0x6e,
    0x1f, 0x44, 0x22, 0x97, 0x93, 0x83, 0x8c, 0x2a, 0x94, 0xf8, 0xe2, 0x6d, 0x88, 0x60, 0x8d, 0xb5,
    0x15, 0xe1, 0xdd, 0xbf, 0x44, 0x17, 0xcf, 0x62, 0x1c, 0x86, 0x74, 0x7b, 0x63, 0x30, 0x03, 0x72,
    0xbb, 0xd8, 0x21, 0xc4, 0xdd, 0x4e, 0x82, 0x72, 0x12, 0x44, 0xfe, 0xee, 0x8f, 0x86, 0x67, 0x73,
    0x2b, 0xd4, 0x5b, 0x94, 0x5a, 0xe7, 0x14, 0xaa, 0x81, 0x6a, 0x4d, 0x59, 0xb0, 0x69, 0x33, 0xdb,
    0xb1, 0x54, 0x3d, 0xd8, 0xd0, 0x18, 0x23, 0x35, 0xdc, 0x8f, 0x91, 0x87, 0x51, 0x64, 0xc3, 0x1f,
    0x29, 0xf2, 0x22, 0xd6, 0x6c, 0xc7, 0x08, 0x3a, 0x05, 0x59, 0x79, 0xdb, 0x80, 0xc6, 0x1c, 0x82,
    0x42, 0x12, 0x6f, 0x46, 0x31, 0x22, 0x98, 0xc8, 0x61, 0x1e, 0x3b, 0x52, 0xda, 0xe3, 0x0b, 0xd4,
    0xef, 0x05, 0xe7, 0x08, 0x8a, 0x97, 0xd2, 0x96, 0x71, 0xe4, 0xe3, 0xf0, 0xc5, 0x95, 0x32, 0xae,
    0x39, 0xd9, 0xc0, 0x56, 0x81, 0xaf, 0x39, 0xf1, 0xcd, 0x0b, 0xd5, 0x6b, 0xd6, 0x58, 0xe3, 0x3f,
    0xe6, 0xf1, 0x9c, 0xce, 0xbf, 0x00, 0xd2, 0x13, 0xbc, 0x98, 0x21, 0xf3, 0xd2, 0x74, 0xf2, 0xb4,
    0x85, 0x64, 0x52, 0x3b, 0xf2, 0x6b, 0xed, 0x88, 0x33, 0xa9, 0xd6, 0x14, 0x95, 0xd3, 0xaa, 0xf8,
    0x91, 0xbd, 0x38, 0x69, 0x5b, 0x61, 0x9e, 0xe6, 0x13, 0xf7, 0xff, 0x19, 0xd7, 0x09, 0x8e, 0x4f,
    0x5f, 0x84, 0x91, 0xa9, 0x4e, 0xb8, 0x69, 0x83, 0x51, 0x49, 0x17, 0x81, 0x21, 0xdc, 0x34, 0xd0,
    0x62, 0x66, 0xd7, 0x2e, 0x6f, 0xbe, 0xd7, 0xd3, 0x3c, 0x4d, 0xc3, 0xa7, 0xdd, 0x1e, 0xfa, 0x1f,
    0x76, 0xff, 0xd4, 0xcd, 0xb0, 0x1c, 0x83, 0x76, 0xeb, 0x7d, 0x02, 0x59, 0xaf, 0x13, 0xb4, 0xf8,
    0xd5, 0xf7, 0x6f, 0x80, 0xbf, 0x66, 0x94, 0xcb, 0x52, 0xdb, 0xe1, 0xb3, 0x86, 0x0c, 0xeb, 0x31,
    0xf0, 0x3c, 0xa1, 0x13, 0xda, 0x7c, 0x79, 0x33, 0xe9, 0x91, 0x1c, 0xf8, 0xe4, 0x38, 0x11, 0x3b,
    0x1f, 0xf1, 0x19, 0x94, 0x6a, 0x0c, 0x0b, 0x65, 0x68, 0xfe, 0xce, 0x09, 0x03, 0x1e, 0x5c, 0xe6,
    0xaf, 0x25, 0x2a, 0xca, 0x69, 0xbe, 0x6c, 0xb5, 0xe9, 0xa1, 0x89, 0xe4, 0x11, 0x3e, 0x64, 0xa5,
    0x0a, 0xd6, 0xeb, 0x0c, 0x5b, 0xdb, 0x5f, 0xe6, 0xe4, 0x3c, 0x35, 0x27, 0xa9, 0x88, 0xe6, 0xcb,
    0xca, 0x04, 0xf8, 0x2f, 0x3c, 0x5d, 0xd5, 0x5b, 0x6d, 0x2d, 0xa2, 0x72, 0x0d, 0x79, 0x3c, 0x71,
    0x99, 0x1c, 0x28, 0xa3, 0x29, 0xc6, 0xa0, 0x20, 0xdd, 0xb9, 0xc8, 0x9f, 0x25, 0x5d, 0x2a, 0x5f,
    0x05,
};

TEST_F(StoreTest, FilesWrittenByEitherBuildOpenInBoth) {
    struct Fixture {
        const char* what;
        std::span<const std::uint8_t> bytes;
        const char* password;
        std::vector<std::vector<std::string>> rows;
    };
    const Fixture fixtures[] = {
        {"native",
         kNativeWritten,
         "跨平台N口令",
         {{"https://例子.中国/登录", "张三", "Pa55-密码", "原生写入"},
          {"http://b.example", "李四", "x", ""}}},
        {"windows",
         kWindowsWritten,
         "跨平台W口令",
         {{"http://example.com", "王五", "秘密#1", "Windows 写入"},
          {"ftp://c.example", "赵六", "y", ""}}},
    };
    const char* names[] = {"网址", "帐号", "密码", "备注"};
    for (const Fixture& f : fixtures) {
        const fs::path p = dir_ / (std::string(f.what) + ".edb");
        WriteBytes(p, f.bytes);
        EXPECT_EQ(IsDatabaseEncrypted(p), 1) << f.what;
        EXPECT_EQ(db::ParseHeader(f.bytes)->iterations, db::kDefaultKdfIterations);
        ASSERT_EQ(OpenDatabase(p, f.password), 1) << f.what;
        ASSERT_EQ(GetRecordCount(), 2) << f.what;
        for (std::size_t r = 0; r < 2; ++r) {
            for (std::size_t k = 0; k < 4; ++k) {
                const SecureString plain = DecryptField(ReadField(names[k]).text, f.password);
                EXPECT_EQ(plain.view(), f.rows[r][k]) << f.what << " row " << r << " " << k;
            }
            SkipRecord();
        }
        // And this build writes on it: still readable after an addition.
        ASSERT_EQ(AddRecord(Rec(EncryptField("added here", f.password))), 1);
        CloseDatabase();
        ASSERT_EQ(OpenDatabase(p, f.password), 1);
        ASSERT_EQ(GoToRecord(3), 1);
        EXPECT_EQ(DecryptField(ReadField("网址").text, f.password).view(), "added here");
        CloseDatabase();
    }
}

TEST_F(StoreTest, DatabaseFilePathIsBesideTheProgram) {
    SetProgramDirectoryForTesting(dir_);
    EXPECT_EQ(DatabaseFilePath(), dir_ / fs::path(u8"数据库.edb"));
    const fs::path p = Filled(1, "", u8"数据库.edb");
    EXPECT_EQ(OpenDatabase(DatabaseFilePath()), 1);
#if defined(_WIN32)
    SetProgramDirectoryForTesting(fs::path(L"C:"));
    EXPECT_EQ(DatabaseFilePath().native(), fs::path(u8"C:\\数据库.edb").native());
    SetProgramDirectoryForTesting(fs::path(L"C:\\"));
    EXPECT_EQ(DatabaseFilePath().native(), fs::path(u8"C:\\数据库.edb").native());
#else
    SetProgramDirectoryForTesting(fs::path("/"));
    EXPECT_EQ(DatabaseFilePath().native(),
              std::string(reinterpret_cast<const char*>(u8"/数据库.edb")));
#endif
    SetProgramDirectoryForTesting({});
    EXPECT_EQ(DatabaseFilePath().parent_path(), ProgramDirectory());
}

}  // namespace
}  // namespace ob
