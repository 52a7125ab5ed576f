// Database files with chosen records in a temporary program directory, for the main window's tests.
#include "tests/support/account_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>

#include "app/program.h"
#include "base/sys.h"
#include "store/field_cipher.h"
#include "ui/account_list.h"

namespace ob::test {
namespace {

std::filesystem::path MakeTempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto p = base / ("ob-mainwin-" + std::to_string(rd()) + "-" + std::to_string(++counter));
        std::error_code ec;
        if (std::filesystem::create_directory(p, ec)) {
            return p;
        }
    }
}

std::string TextOf(const FieldValue& v) {
    return std::string(v.text.view());
}

// Walks the open database from its first record.
std::vector<TableRecord> WalkOpenDatabase() {
    std::vector<TableRecord> out;
    GoToFirstRecord();
    const std::int32_t n = GetRecordCount();
    for (std::int32_t i = 0; i < n; ++i) {
        TableRecord r;
        const std::string stored_url = TextOf(ReadField("网址"));
        r.listed = !stored_url.empty();
        r.plain.url = std::string(DecryptField(stored_url, kFixturePassword).view());
        r.plain.account = std::string(DecryptField(TextOf(ReadField("帐号")), kFixturePassword));
        r.plain.password = std::string(DecryptField(TextOf(ReadField("密码")), kFixturePassword));
        r.plain.remark = std::string(DecryptField(TextOf(ReadField("备注")), kFixturePassword));
        r.id = CurrentRecordId();
        out.push_back(std::move(r));
        SkipRecord();
    }
    return out;
}

}  // namespace

std::vector<FieldValue> Enciphered(const PlainRecord& r, std::string_view key) {
    return {FieldValue::OfText(EncryptField(r.url, key)),
            FieldValue::OfText(EncryptField(r.account, key)),
            FieldValue::OfText(EncryptField(r.password, key)),
            FieldValue::OfText(EncryptField(r.remark, key))};
}

std::vector<std::vector<std::string>> RowsOf(const std::vector<PlainRecord>& listed) {
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const PlainRecord& r = listed[i];
        rows.push_back({std::to_string(i + 1), r.url, r.account, r.password, r.remark});
    }
    return rows;
}

AccountFixture::AccountFixture() : dir_(MakeTempDir()) {
    SetProgramDirectoryForTesting(dir_);
    SetKdfIterationsForTesting(1000);
    SetSignInPassword(kFixturePassword);
}

AccountFixture::~AccountFixture() {
    CloseDatabase();
    ReleaseSignInPassword();
    SetKdfIterationsForTesting(0);
    SetProgramDirectoryForTesting({});
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void AccountFixture::WriteDatabase(const std::vector<std::vector<FieldValue>>& records,
                                   std::vector<db::FieldDef> fields, std::string_view password) {
    // The table is built in memory and written once, so large tables cost no rewrite per record.
    std::optional<db::Table> table = db::Table::Create(std::move(fields));
    ASSERT_TRUE(table.has_value());
    for (const auto& r : records) {
        ASSERT_TRUE(table->Append(r));
    }
    std::optional<std::vector<std::uint8_t>> image = db::EncodeFile(*table, db::Header{}, nullptr);
    ASSERT_TRUE(image.has_value());
    const std::filesystem::path path = DatabaseFilePath();
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(image->data()),
                static_cast<std::streamsize>(image->size()));
        ASSERT_TRUE(f.good());
    }
    ASSERT_EQ(OpenDatabase(path), 1);
    ASSERT_EQ(SetDatabasePassword(password), 1);
    CloseDatabase();
}

void AccountFixture::WriteAccounts(const std::vector<PlainRecord>& accounts) {
    std::vector<std::vector<FieldValue>> records;
    for (const PlainRecord& a : accounts) {
        records.push_back(Enciphered(a));
    }
    WriteDatabase(records);
}

std::vector<TableRecord> AccountFixture::ReadTable() {
    auto lock = DatabaseWorkLock();
    // Opening fails for the file that is already the open database.
    if (OpenDatabase(DatabaseFilePath(), kFixturePassword) == 1) {
        std::vector<TableRecord> t = WalkOpenDatabase();
        CloseDatabase();
        return t;
    }
    return WalkOpenDatabase();
}

}  // namespace ob::test
