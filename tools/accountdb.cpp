// accountdb: creates and inspects database files of the account store.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/secure.h"
#include "store/account_database.h"
#include "store/db_format.h"
#include "store/field_cipher.h"
#include "store/file_io.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace ob;

constexpr int kOk = 0;
constexpr int kFailed = 1;  // the file is missing, not a database, locked, or the write failed
constexpr int kUsage = 2;

const char kHelp[] =
    "Usage: accountdb COMMAND PATH [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Creates and inspects the account database files of the password keeper.\n"
    "\n"
    "Commands:\n"
    "  create PATH [--fields LIST]\n"
    "      Makes an empty database without access password. Without --fields it has the\n"
    "      four text fields of the program (URL, account, password, remark). LIST is a\n"
    "      comma-separated list of NAME or NAME:text or NAME:number. An existing file is\n"
    "      never overwritten.\n"
    "  info PATH [--password P]\n"
    "      Tells whether PATH is a database of this format and whether it has an access\n"
    "      password; shows its fields and records when it has none, or with --password.\n"
    "  passwd PATH NEW [--password OLD]\n"
    "      Gives the database the access password NEW (the empty text removes it).\n"
    "  add PATH --password P URL ACCOUNT PASSWORD REMARK\n"
    "      Appends one account, each value enciphered with the program's field cipher\n"
    "      under P, as the program does after sign-in with P. P also opens the file when\n"
    "      it has an access password.\n"
    "  list PATH --password P\n"
    "      Prints every record, the values deciphered under P (a * marks a record that\n"
    "      is marked for deletion).\n"
    "\n"
    "Texts are given in the terminal's encoding and stored as GBK, as the program keeps them.\n"
    "Exit codes: 0 success, 1 failure (missing or damaged file, wrong password, file\n"
    "exists, write failed), 2 wrong usage.\n";

// One command-line argument: as a path, as the GBK text the store keeps, and as shown.
struct Arg {
    fs::path path;
    std::optional<std::string> gbk;  // nothing when it holds a character that GBK lacks
    std::string shown;               // UTF-8
};

#if defined(_WIN32)
std::string FromWide(const std::wstring& w, UINT cp, bool* lossless) {
    if (w.empty()) {
        return {};
    }
    BOOL used_default = FALSE;
    const bool strict = cp != CP_UTF8;
    const DWORD flags = strict ? WC_NO_BEST_FIT_CHARS : 0;
    const int n = WideCharToMultiByte(cp, flags, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, strict ? &used_default : nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(cp, flags, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        strict ? &used_default : nullptr);
    if (lossless != nullptr) {
        *lossless = n > 0 && !used_default;
    }
    return s;
}
std::wstring ToWide(std::string_view s, UINT cp) {
    if (s.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}
Arg MakeArg(const wchar_t* a) {
    Arg r;
    const std::wstring w(a);
    r.path = fs::path(w);
    bool lossless = false;
    std::string g = FromWide(w, 936, &lossless);
    if (lossless || w.empty()) {
        r.gbk = std::move(g);
    }
    r.shown = FromWide(w, CP_UTF8, nullptr);
    return r;
}
std::string GbkToUtf8(std::string_view s) {
    return FromWide(ToWide(s, 936), CP_UTF8, nullptr);
}

void Write(FILE* f, std::string_view utf8) {
    const HANDLE h = GetStdHandle(f == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        const std::wstring w = ToWide(utf8, CP_UTF8);
        DWORD written = 0;
        WriteConsoleW(h, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), f);  // pipes and files get UTF-8
}
#else
std::optional<std::string> Convert(std::string_view s, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    std::string in(s), out(s.size() * 4 + 4, '\0');
    char* ip = in.data();
    char* op = out.data();
    std::size_t il = in.size(), ol = out.size();
    const std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1) || il != 0) {
        return std::nullopt;
    }
    out.resize(out.size() - ol);
    return out;
}
Arg MakeArg(const char* a) {
    Arg r;
    r.path = fs::path(a);
    r.gbk = Convert(a, "GBK", "UTF-8");
    r.shown = a;
    return r;
}
std::string GbkToUtf8(std::string_view s) {
    return Convert(s, "UTF-8", "GBK").value_or("?");
}
void Write(FILE* f, std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), f);
}
#endif

void Out(std::string_view s) {
    Write(stdout, s);
}
int Fail(std::string_view s, int code = kFailed) {
    Write(stderr, "accountdb: ");
    Write(stderr, s);
    Write(stderr, "\n");
    return code;
}

struct Command {
    std::vector<Arg> positional;  // after the command name
    std::optional<Arg> password;
    std::optional<Arg> fields;
};

// The GBK text of an argument, or a message that it cannot be kept.
bool Gbk(const Arg& a, std::string& out) {
    if (!a.gbk) {
        Fail("'" + a.shown + "' holds a character that GBK cannot store", kUsage);
        return false;
    }
    out = *a.gbk;
    return true;
}

std::optional<std::vector<db::FieldDef>> ParseFields(const std::string& list) {
    std::vector<db::FieldDef> fields;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        std::string item = list.substr(start, end - start);
        db::FieldDef f;
        const std::size_t colon = item.rfind(':');
        if (colon != std::string::npos) {
            const std::string kind = item.substr(colon + 1);
            if (kind == "text") {
                f.kind = FieldKind::Text;
            } else if (kind == "number") {
                f.kind = FieldKind::Number;
            } else {
                return std::nullopt;
            }
            item.resize(colon);
        }
        f.name = item;
        fields.push_back(std::move(f));
        start = end + 1;
    }
    return fields;
}

std::string DescribeFields(const std::vector<db::FieldDef>& fields) {
    std::string s;
    for (const db::FieldDef& f : fields) {
        s += (s.empty() ? "" : ", ") + GbkToUtf8(f.name) +
             (f.kind == FieldKind::Text ? " (text)" : " (number)");
    }
    return s;
}

int Create(const Command& c) {
    if (c.positional.size() != 1 || c.password) {
        return Fail("usage: accountdb create PATH [--fields LIST]", kUsage);
    }
    const Arg& path = c.positional[0];
    std::vector<db::FieldDef> fields = db::AccountFields();
    if (c.fields) {
        std::string list;
        if (!Gbk(*c.fields, list)) {
            return kUsage;
        }
        std::optional<std::vector<db::FieldDef>> parsed = ParseFields(list);
        if (!parsed || !db::Table::Create(*parsed)) {
            return Fail("bad --fields '" + c.fields->shown +
                            "': give 1 to 255 distinct names, each NAME, NAME:text or NAME:number",
                        kUsage);
        }
        fields = std::move(*parsed);
    }
    const std::string described = DescribeFields(fields);
    const std::optional<std::vector<std::uint8_t>> image = db::NewDatabaseImage(std::move(fields));
    if (!image) {
        return Fail("cannot build the database image");
    }
    // Under the writers' lock, so that no other writer's new file is overwritten either.
    const std::unique_ptr<fileio::WriteLock> lock = fileio::AcquireWriteLock(path.path, 10'000);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path.path, ec))) {
        return Fail(path.shown + " already exists; it is left as it is");
    }
    if (!lock || !fileio::AtomicReplace(path.path, *image)) {
        return Fail("cannot write " + path.shown);
    }
    Out("created " + path.shown + ": an empty database with the fields " + described +
        ", without access password\n");
    return kOk;
}

// Reads and, when it is protected, unseals the database at path with password (may be absent).
struct Loaded {
    db::Header header;
    std::optional<db::Table> table;  // nothing when sealed and no (right) password was given
};
int Load(const Arg& path, const std::string* password, Loaded& out) {
    std::vector<std::uint8_t> bytes;
    const fileio::ReadResult r = fileio::ReadWholeFile(path.path, bytes);
    if (r == fileio::ReadResult::NotFound) {
        return Fail(path.shown + " does not exist");
    }
    if (r != fileio::ReadResult::Ok) {
        return Fail(path.shown + " cannot be read");
    }
    const std::optional<db::Header> h = db::ParseHeader(bytes);
    if (!h) {
        return Fail(path.shown + " is not an account database of this format");
    }
    out.header = *h;
    if (h->protection == db::Protection::None) {
        out.table = db::DecodeFile(bytes, *h, nullptr);
        if (!out.table) {
            return Fail(path.shown + " is an account database, but it is damaged");
        }
    } else if (password != nullptr) {
        db::Key key;
        if (!db::DeriveKey(*password, h->salt, h->iterations, key)) {
            return Fail("key derivation failed");
        }
        out.table = db::DecodeFile(bytes, *h, &key);
        if (!out.table) {
            return Fail(path.shown + ": wrong password, or the file is damaged");
        }
    }
    return kOk;
}

int Info(const Command& c) {
    if (c.positional.size() != 1 || c.fields) {
        return Fail("usage: accountdb info PATH [--password P]", kUsage);
    }
    std::string password;
    if (c.password && !Gbk(*c.password, password)) {
        return kUsage;
    }
    Loaded l;
    if (const int r = Load(c.positional[0], c.password ? &password : nullptr, l); r != kOk) {
        return r;
    }
    std::string s = c.positional[0].shown + ": account database, format " +
                    std::to_string(db::kFormatVersion) + ", ";
    if (l.header.protection == db::Protection::Password) {
        s += "access password: yes (PBKDF2-HMAC-SHA256, " + std::to_string(l.header.iterations) +
             " iterations, AES-256-GCM)\n";
    } else {
        s += "access password: no\n";
    }
    s += "  writes: " + std::to_string(l.header.change_counter) + "\n";
    if (l.table) {
        std::size_t marked = 0;
        for (std::size_t i = 0; i < l.table->size(); ++i) {
            marked += l.table->Deleted(i);
        }
        s += "  fields: " + DescribeFields(l.table->fields()) + "\n";
        s += "  records: " + std::to_string(l.table->size()) + " (" + std::to_string(marked) +
             " marked for deletion)\n";
    } else {
        s += "  fields and records: sealed (give --password to see them)\n";
    }
    Out(s);
    return kOk;
}

// Opens path as the current database: with password when the file has an access password.
bool OpenWith(const Arg& path, const std::string& password) {
    return IsDatabaseEncrypted(path.path) == 1 ? OpenDatabase(path.path, password) == 1
                                               : OpenDatabase(path.path) == 1;
}

int Passwd(const Command& c) {
    if (c.positional.size() != 2 || c.fields) {
        return Fail("usage: accountdb passwd PATH NEW [--password OLD]", kUsage);
    }
    std::string old_password, new_password;
    if ((c.password && !Gbk(*c.password, old_password)) || !Gbk(c.positional[1], new_password)) {
        return kUsage;
    }
    if (new_password == "?") {
        return Fail("\"?\" cannot be an access password", kUsage);
    }
    const Arg& path = c.positional[0];
    if (!OpenWith(path, old_password)) {
        return Fail("cannot open " + path.shown +
                    ": missing, damaged, or the access password (--password) is wrong");
    }
    const int r = SetDatabasePassword(new_password);
    CloseDatabase();
    WipeString(old_password);
    WipeString(new_password);
    if (r != 1) {
        return Fail("cannot write " + path.shown);
    }
    Out(path.shown + (c.positional[1].shown.empty() ? ": access password removed\n"
                                                    : ": access password set\n"));
    return kOk;
}

int Add(const Command& c) {
    if (c.positional.size() != 5 || !c.password || c.fields) {
        return Fail("usage: accountdb add PATH --password P URL ACCOUNT PASSWORD REMARK", kUsage);
    }
    std::string key;
    if (!Gbk(*c.password, key)) {
        return kUsage;
    }
    std::vector<FieldValue> values;
    for (std::size_t i = 1; i < 5; ++i) {
        std::string v;
        if (!Gbk(c.positional[i], v)) {
            return kUsage;
        }
        values.push_back(FieldValue::OfText(EncryptField(v, key)));
        WipeString(v);
    }
    const Arg& path = c.positional[0];
    if (!OpenWith(path, key)) {
        return Fail("cannot open " + path.shown +
                    ": missing, damaged, or the access password (--password) is wrong");
    }
    const int r = AddRecord(values);
    const int count = GetRecordCount();
    CloseDatabase();
    WipeString(key);
    if (r != 1) {
        return Fail("cannot add to " + path.shown +
                    ": its fields do not take four texts, or the file cannot be written");
    }
    Out(path.shown + ": record " + std::to_string(count) + " added\n");
    return kOk;
}

int List(const Command& c) {
    if (c.positional.size() != 1 || !c.password || c.fields) {
        return Fail("usage: accountdb list PATH --password P", kUsage);
    }
    std::string key;
    if (!Gbk(*c.password, key)) {
        return kUsage;
    }
    Loaded l;
    if (const int r = Load(c.positional[0], &key, l); r != kOk) {
        return r;
    }
    std::string s;
    const db::Table& t = *l.table;
    for (std::size_t i = 0; i < t.size(); ++i) {
        s += std::to_string(i + 1) + (t.Deleted(i) ? "*" : "");
        for (std::size_t f = 0; f < t.fields().size(); ++f) {
            s += '\t';
            if (t.fields()[f].kind == FieldKind::Number) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.17g", t.NumberAt(i, f));
                s += buf;
            } else {
                s += GbkToUtf8(DecryptField(t.TextAt(i, f), key).view());
            }
        }
        s += '\n';
    }
    WipeString(key);
    Out(s);
    WipeString(s);
    return kOk;
}

int Run(std::vector<Arg> args) {
    if (args.empty()) {
        Write(stderr, kHelp);
        return kUsage;
    }
    Command c;
    const std::string name = args[0].shown;
    if (name == "--help" || name == "-h" || name == "help") {
        Out(kHelp);
        return kOk;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i].shown;
        if (a == "--help" || a == "-h") {
            Out(kHelp);
            return kOk;
        }
        if (a == "--password" || a == "--fields") {
            if (i + 1 >= args.size()) {
                return Fail(a + " needs a value", kUsage);
            }
            (a == "--password" ? c.password : c.fields) = args[++i];
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return Fail("unknown option " + a + " (see accountdb --help)", kUsage);
        } else {
            c.positional.push_back(args[i]);
        }
    }
    if (name == "create") {
        return Create(c);
    }
    if (name == "info") {
        return Info(c);
    }
    if (name == "passwd") {
        return Passwd(c);
    }
    if (name == "add") {
        return Add(c);
    }
    if (name == "list") {
        return List(c);
    }
    return Fail("unknown command '" + name + "' (see accountdb --help)", kUsage);
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    std::vector<Arg> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(MakeArg(argv[i]));
    }
    return Run(std::move(args));
}
