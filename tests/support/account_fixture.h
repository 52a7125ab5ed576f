// Test fixture for the main window and its list: a database file with chosen records in a
// temporary program directory, a signed-in password, and the table read back for comparison.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "store/account_database.h"
#include "store/db_format.h"

namespace ob::test {

inline constexpr std::string_view kFixturePassword = "fixture-pass";

// One account as the user typed it.
struct PlainRecord {
    std::string url, account, password, remark;
};

// A record of the table as it stands: its identity, its deciphered fields and whether the list
// shows it (a non-empty stored "网址").
struct TableRecord {
    std::uint64_t id = 0;
    PlainRecord plain;
    bool listed = false;
};

// The stored values of an account: each field enciphered under key.
std::vector<FieldValue> Enciphered(const PlainRecord& r, std::string_view key = kFixturePassword);

// The rows the list should show for these accounts: number, then the four fields (GBK).
std::vector<std::vector<std::string>> RowsOf(const std::vector<PlainRecord>& listed);

class AccountFixture {
  public:
    // A fresh temporary program directory, fast key derivation for new passwords, and the
    // sign-in password set to kFixturePassword.
    AccountFixture();
    ~AccountFixture();
    AccountFixture(const AccountFixture&) = delete;
    AccountFixture& operator=(const AccountFixture&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }

    // Writes the database file at DatabaseFilePath with these stored records, protected by
    // password. Fields default to the four text fields of an account table.
    void WriteDatabase(const std::vector<std::vector<FieldValue>>& records,
                       std::vector<db::FieldDef> fields = db::AccountFields(),
                       std::string_view password = kFixturePassword);
    // The same with accounts enciphered under kFixturePassword.
    void WriteAccounts(const std::vector<PlainRecord>& accounts);

    // The whole table, deciphered under kFixturePassword. Walks the open database under the
    // database work lock, or opens the file for the look when no database is open.
    std::vector<TableRecord> ReadTable();

  private:
    std::filesystem::path dir_;
};

}  // namespace ob::test
