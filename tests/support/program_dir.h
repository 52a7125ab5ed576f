// A temporary program directory for handler tests: the database file beside the "program" is
// made, protected or left missing as a test needs, and everything is put back afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ob::test {

class TempProgramDir {
  public:
    // Creates an empty folder, makes it the program directory, resets the program's state and
    // gives new passwords a small key-derivation count so tests stay fast.
    TempProgramDir();
    // Closes the database, restores the program directory and removes the folder.
    ~TempProgramDir();
    TempProgramDir(const TempProgramDir&) = delete;
    TempProgramDir& operator=(const TempProgramDir&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    // Where the program looks for its database.
    std::filesystem::path DatabasePath() const;

    // An empty account database without access password.
    void CreateUnprotectedDatabase();
    // An empty account database with this access password (closed afterwards).
    void CreateProtectedDatabase(std::string_view password);

    // The records of the current (open) database as stored: cipher texts, in table order.
    struct StoredRecord {
        std::string url, account, password, remark;
    };
    static std::vector<StoredRecord> ReadCurrentRecords();

  private:
    std::filesystem::path dir_;
};

}  // namespace ob::test
