// The account store: one process-wide current database with one current-record position, and the
// operations on it. Results: 1 success, 0 failure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "base/secure.h"
#include "base/text.h"

namespace ob {

// Kinds of stored values. Account fields are text; numbers exist for tables made by other means.
enum class FieldKind : std::uint8_t { Text = 1, Number = 2 };

struct FieldValue {
    FieldKind kind = FieldKind::Text;
    SecureString text;  // the value when kind is Text
    double number = 0;  // the value when kind is Number

    static FieldValue OfText(std::string_view t) {
        FieldValue v;
        v.text = SecureString(t);
        return v;
    }
    static FieldValue OfNumber(double n) {
        FieldValue v;
        v.kind = FieldKind::Number;
        v.number = n;
        return v;
    }
};

// The program directory followed by the database file name, built afresh at each call.
std::filesystem::path DatabaseFilePath();

// Opens path as the current database. Without a password, or with the empty text, only a file
// without access password opens. The password "?" asks the user through the password prompt.
int OpenDatabase(const std::filesystem::path& path);
int OpenDatabase(const std::filesystem::path& path, std::string_view password);
void CloseDatabase();
int IsDatabaseEncrypted(const std::filesystem::path& path);
int SetDatabasePassword(std::string_view new_password);
std::int32_t GetRecordCount();
void GoToFirstRecord();
int SkipRecord();
int GoToRecord(std::int32_t n);
int DeleteCurrentRecord();
int PurgeDeletedRecords();
// The value of the named field in the current record. No current database, or no such field:
// a fatal run-time error.
FieldValue ReadField(std::string_view name);
int AddRecord(std::span<const FieldValue> values);

// Beyond the classic operations: every record carries an identity that never changes and is never
// reused in its file, so a caller can find again the record it showed, even after other
// additions, deletions or another process's changes.
// The identity of the current record; 0 at the end position or with no current database.
std::uint64_t CurrentRecordId();
// Moves to the record with that identity: 1 when found, else 0 and the position is unchanged.
int GoToRecordId(std::uint64_t id);

// The access-password question asked when OpenDatabase gets "?". status_line is the empty text at
// the first attempt, then the GBK line about the attempts left. Returns the typed text, or nothing
// for Cancel or a closed dialog. Runs on the calling thread.
using PasswordPromptHandler = std::optional<SecureString> (*)(std::string_view status_line);
PasswordPromptHandler SetPasswordPromptHandler(PasswordPromptHandler handler) noexcept;

// Tests only: the PBKDF2 iteration count given to passwords set from now on (0 restores the
// program's 600,000). Files keep the count they were written with, so opening is unaffected.
void SetKdfIterationsForTesting(std::uint32_t iterations) noexcept;

}  // namespace ob
