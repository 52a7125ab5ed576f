// libFuzzer target: arbitrary bytes as a database file opened by the store, as a clear body
// given to the parser, and as a file whose checksum is made right so the parser is reached.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/fatal.h"
#include "store/account_database.h"
#include "store/crypto.h"
#include "store/db_format.h"

namespace {

namespace fs = std::filesystem;
using namespace ob;

struct Fatal : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void ThrowFatal(int, std::string_view m) {
    throw Fatal(std::string(m));
}

// A file of its own on a memory file system where there is one; removed at exit.
const fs::path& FilePath() {
    static const fs::path* const p = [] {
        const fs::path base =
            fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        const fs::path* file =
            new fs::path(base / ("fuzz-open-" + std::to_string(getpid())) / "fuzz.edb");
        fs::create_directories(file->parent_path());
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(p->parent_path(), ec);
        });
        return file;
    }();
    return *p;
}

void WriteFile(const fs::path& p, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Check(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

// Walks the open database the way the list rebuild does, then writes to it.
void Exercise(const std::vector<db::FieldDef>& fields, bool can_add) {
    GoToFirstRecord();
    const int n = GetRecordCount();
    Check(n >= 0);
    for (int i = 0; i < n; ++i) {
        for (const db::FieldDef& f : fields) {
            const FieldValue v = ReadField(f.name);
            Check(v.kind == f.kind);
        }
        Check(SkipRecord() == 1);
    }
    Check(SkipRecord() == 0);
    GoToRecord(n / 2 + 1);
    const std::uint64_t id = CurrentRecordId();
    Check(n == 0 || id != 0);
    std::vector<FieldValue> values;
    for (const db::FieldDef& f : fields) {
        values.push_back(f.kind == FieldKind::Text ? FieldValue::OfText("v")
                                                   : FieldValue::OfNumber(1));
    }
    if (!can_add) {
        return;  // the record ids are used up
    }
    Check(AddRecord(values) == 1);
    Check(GetRecordCount() == n + 1);
    if (n > 0) {
        Check(GoToRecordId(id) == 1);
        Check(DeleteCurrentRecord() == 1);
        Check(PurgeDeletedRecords() == 1);
        Check(GetRecordCount() <= n);
    }
}

// The table a clear body holds must survive all its operations and a second parse.
void ParseBody(const std::uint8_t* data, std::size_t size) {
    std::optional<db::Table> t = db::Table::Parse(db::SecureBytes(data, data + size));
    if (!t) {
        return;
    }
    Check(t->Body().size() == size && std::memcmp(t->Body().data(), data, size) == 0);
    std::size_t text_bytes = 0;
    for (std::size_t i = 0; i < t->size(); ++i) {
        for (std::size_t f = 0; f < t->fields().size(); ++f) {
            text_bytes += t->TextAt(i, f).size();
            (void)t->NumberAt(i, f);
        }
        Check(t->Find(t->Id(i)) == i);
    }
    Check(text_bytes <= size);
    const FieldValue one[] = {FieldValue::OfText("x")};
    if (t->fields()[0].kind == FieldKind::Text && t->Append(one)) {
        t->SetDeleted(0, true);
    }
    db::Table p = t->WithoutDeleted();
    Check(!p.AnyDeleted());
    std::optional<db::Table> again =
        db::Table::Parse(db::SecureBytes(p.Body().begin(), p.Body().end()));
    Check(again && again->size() == p.size() && again->NextId() == p.NextId());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool init = [] {
        SetFatalErrorHandler(ThrowFatal);
        return true;
    }();
    (void)init;
    const fs::path& path = FilePath();

    // 1. The bytes as they are: the header test and the open, with and without a password.
    WriteFile(path, data, size);
    IsDatabaseEncrypted(path);
    if (OpenDatabase(path) == 1) {
        CloseDatabase();
    }
    const std::optional<db::Header> h = db::ParseHeader(std::span(data, size));
    if (h && h->protection == db::Protection::Password && h->iterations <= 64) {
        if (OpenDatabase(path, "fuzz") == 1) {
            CloseDatabase();
        }
    }

    // 2. The bytes as a clear body.
    ParseBody(data, size);

    // 3. The bytes after a valid unprotected header, with a right checksum: the open reaches the
    // parser, and whatever opens is walked and written to.
    std::vector<std::uint8_t> file(db::kHeaderSize + size + db::kShaTrailerSize);
    db::Header plain;
    plain.body_size = size;
    const db::HeaderBytes hb = db::EncodeHeader(plain);
    std::memcpy(file.data(), hb.data(), db::kHeaderSize);
    if (size != 0) {
        std::memcpy(file.data() + db::kHeaderSize, data, size);
    }
    std::span<std::uint8_t, crypto::kSha256Size> sum(file.data() + db::kHeaderSize + size,
                                                     crypto::kSha256Size);
    Check(crypto::Sha256(std::span(file.data(), db::kHeaderSize + size), sum));
    WriteFile(path, file.data(), file.size());
    const std::optional<db::Table> t = db::Table::Parse(db::SecureBytes(data, data + size));
    const int opened = OpenDatabase(path);
    Check(opened == (t ? 1 : 0));
    if (opened == 1) {
        try {
            Exercise(t->fields(), t->NextId() != UINT64_MAX);
        } catch (const Fatal&) {
            Check(false);  // every name came from the schema
        }
        CloseDatabase();
    }
    return 0;
}
