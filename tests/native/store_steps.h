// The write sequence shared by the crash test and its child process: what step s does to the
// store, and the same step applied to a model of the file's content.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/account_database.h"
#include "store/db_format.h"
#include "store/file_io.h"

namespace ob::steps {

inline const char* PasswordAfter(long long s) {
    return (s / 6) % 2 == 0 ? "pw-b" : "pw-a";
}

// Step s: three additions, a deletion mark on record 1, a purge, a password change.
inline int RunStep(long long s) {
    switch (s % 6) {
        case 3:
            GoToRecord(1);
            return DeleteCurrentRecord();
        case 4:
            return PurgeDeletedRecords();
        case 5:
            return SetDatabasePassword(PasswordAfter(s));
        default: {
            const std::string url = "s" + std::to_string(s);
            const FieldValue v[] = {FieldValue::OfText(url), FieldValue::OfText("account"),
                                    FieldValue::OfText(std::string(100 + s % 50, 'p')),
                                    FieldValue::OfText("remark")};
            return AddRecord(v);
        }
    }
}

// What the file holds: its password and its records (URL, deletion mark).
struct Model {
    std::string password = "pw-a";
    std::vector<std::pair<std::string, bool>> records;
    bool operator==(const Model&) const = default;
};

inline Model Apply(Model m, long long s) {
    switch (s % 6) {
        case 3:
            if (!m.records.empty()) {
                m.records[0].second = true;
            }
            break;
        case 4:
            std::erase_if(m.records, [](const auto& r) { return r.second; });
            break;
        case 5:
            m.password = PasswordAfter(s);
            break;
        default:
            m.records.emplace_back("s" + std::to_string(s), false);
    }
    return m;
}

inline std::string Describe(const Model& m) {
    std::string d = m.password + ":";
    for (const auto& [url, marked] : m.records) {
        d += " " + url + (marked ? "*" : "");
    }
    return d;
}

// The content of the file at path, read with the format functions (marks included), with
// whichever of the two passwords opens it; nothing when it is damaged or opens with neither.
inline std::optional<Model> ReadModel(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes;
    if (fileio::ReadWholeFile(path, bytes) != fileio::ReadResult::Ok) {
        return std::nullopt;
    }
    const std::optional<db::Header> h = db::ParseHeader(bytes);
    if (!h || h->protection != db::Protection::Password) {
        return std::nullopt;
    }
    for (const char* pw : {"pw-a", "pw-b"}) {
        db::Key key;
        if (!db::DeriveKey(pw, h->salt, h->iterations, key)) {
            return std::nullopt;
        }
        if (std::optional<db::Table> t = db::DecodeFile(bytes, *h, &key)) {
            Model m;
            m.password = pw;
            for (std::size_t i = 0; i < t->size(); ++i) {
                m.records.emplace_back(std::string(t->TextAt(i, 0)), t->Deleted(i));
            }
            return m;
        }
    }
    return std::nullopt;
}

}  // namespace ob::steps
