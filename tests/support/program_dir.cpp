// Temporary program directories with a database file made to measure for handler tests.
#include "tests/support/program_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "app/program.h"
#include "base/sys.h"
#include "store/account_database.h"
#include "store/db_format.h"

namespace ob::test {

namespace fs = std::filesystem;

TempProgramDir::TempProgramDir() {
    std::random_device rd;
    dir_ =
        fs::temp_directory_path() / ("ob-handlers-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(dir_);
    SetProgramDirectoryForTesting(dir_);
    CloseDatabase();
    ResetProgramStateForTesting();
    SetKdfIterationsForTesting(1000);
}

TempProgramDir::~TempProgramDir() {
    CloseDatabase();
    SetPasswordPromptHandler(nullptr);
    SetKdfIterationsForTesting(0);
    ResetProgramStateForTesting();
    SetProgramDirectoryForTesting({});
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

fs::path TempProgramDir::DatabasePath() const {
    return DatabaseFilePath();
}

void TempProgramDir::CreateUnprotectedDatabase() {
    std::optional<std::vector<std::uint8_t>> image = db::NewDatabaseImage(db::AccountFields());
    ASSERT_TRUE(image.has_value());
    std::ofstream out(DatabasePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image->data()),
              static_cast<std::streamsize>(image->size()));
    ASSERT_TRUE(out.good());
}

void TempProgramDir::CreateProtectedDatabase(std::string_view password) {
    CreateUnprotectedDatabase();
    ASSERT_EQ(OpenDatabase(DatabasePath()), 1);
    ASSERT_EQ(SetDatabasePassword(password), 1);
    CloseDatabase();
    ASSERT_EQ(IsDatabaseEncrypted(DatabasePath()), 1);
}

std::vector<TempProgramDir::StoredRecord> TempProgramDir::ReadCurrentRecords() {
    std::vector<StoredRecord> out;
    GoToFirstRecord();
    for (std::int32_t i = 0; i < GetRecordCount(); ++i) {
        StoredRecord r;
        r.url = ReadField("网址").text.view();
        r.account = ReadField("帐号").text.view();
        r.password = ReadField("密码").text.view();
        r.remark = ReadField("备注").text.view();
        out.push_back(std::move(r));
        SkipRecord();
    }
    return out;
}

}  // namespace ob::test
