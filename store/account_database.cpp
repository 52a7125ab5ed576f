// The process-wide current database: its operations, its durable writes that build on other
// processes' changes, the password question and the one-slot cache of a derived key.
#include "store/account_database.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

#include "base/fatal.h"
#include "base/sys.h"
#include "store/crypto.h"
#include "store/db_format.h"
#include "store/db_testing.h"
#include "store/file_io.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ob {
namespace {

using namespace db;
using Clock = std::chrono::steady_clock;

// A writer waits this long for another process's write to end before it gives up.
constexpr std::uint32_t kWriteLockTimeoutMs = 10'000;
// The sign-in test opens and at once closes the database; a close that soon keeps the cached
// key for the main window's open that follows. A longer-open database takes it away at close.
constexpr auto kQuickClose = std::chrono::seconds(5);
// A cached key is never used longer than this after the open that derived it.
constexpr auto kCacheLifetime = std::chrono::seconds(60);

struct OpenDb {
    std::filesystem::path path;  // as given to OpenDatabase
    std::filesystem::path full;  // absolute and normalised, for comparisons
    Header header;               // of the file as last read or written
    HeaderBytes header_bytes{};  // the same, as stored: tells whether someone wrote since
    Table table;
    std::optional<Key> key;  // while a protected database is open
    std::size_t pos = 0;
    Clock::time_point opened_at;
    // The file's bytes as last read or written (sealed, or a file without password: nothing
    // that the disk does not hold anyway); its storage is reused by the next write.
    std::vector<std::uint8_t> file_buffer;

    explicit OpenDb(Table t) : table(std::move(t)) {}
};

// The content a writer found in the file when another process had changed it.
struct Fresh {
    Header header;
    HeaderBytes header_bytes{};
    Table table;
    std::optional<Key> key;
};

using PasswordHash = std::array<std::uint8_t, crypto::kSha256Size>;

struct KeyCache {
    bool held = false;
    std::filesystem::path full;
    std::array<std::uint8_t, kSaltSize> salt{};
    std::uint32_t iterations = 0;
    PasswordHash password_hash{};
    Key key;
    Clock::time_point filled_at;

    void Wipe() {
        held = false;
        full.clear();
        SecureWipe(password_hash.data(), password_hash.size());
        SecureWipe(key.bytes.data(), key.bytes.size());
    }
    ~KeyCache() { Wipe(); }
};

std::mutex g_mu;                 // guards everything below
std::unique_ptr<OpenDb> g_db;    // the current database
std::uint64_t g_generation = 0;  // grows at every open and close
KeyCache g_cache;
// The protected database of the last quick close, kept beside the cached key: the open that
// follows the sign-in test takes it over without reading and deciphering the file again, as long
// as the file's header is still the one it holds (every write gives the file a fresh header).
std::unique_ptr<OpenDb> g_closed;

// Empties both caches (under g_mu).
void DropCaches() {
    g_cache.Wipe();
    g_closed.reset();
}

std::atomic<PasswordPromptHandler> g_prompt{nullptr};
std::atomic<std::uint32_t> g_new_iterations{kDefaultKdfIterations};
std::atomic<StoreClock> g_clock{nullptr};

Clock::time_point Now() {
    StoreClock c = g_clock.load();
    return c ? c() : Clock::now();
}

// --- Paths -----------------------------------------------------------------------------------

std::filesystem::path FullPath(const std::filesystem::path& p) {
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(p, ec);
    return (ec ? p : a).lexically_normal();
}

bool SameText(const std::filesystem::path& a, const std::filesystem::path& b) {
#if defined(_WIN32)
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
#else
    const std::string& x = a.native();
    const std::string& y = b.native();
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char c, char d) {
        auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch - 'A' + 'a') : ch; };
        return lower(c) == lower(d);
    });
#endif
}

// Full paths compared with letter case ignored; a second name of the same file counts too.
bool SameFile(const std::filesystem::path& full_a, const std::filesystem::path& full_b) {
    if (SameText(full_a, full_b)) {
        return true;
    }
    std::error_code ec;
    return std::filesystem::equivalent(full_a, full_b, ec) && !ec;
}

// --- Reading files ---------------------------------------------------------------------------

// The whole file and its parsed header, when it is a database file of the right size.
bool ReadDatabaseFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                      Header& header) {
    std::vector<std::uint8_t> head;
    std::uint64_t size = 0;
    if (!ReadFileHead(path, kHeaderSize, head, size)) {
        return false;
    }
    std::optional<Header> h = ParseHeader(head);
    if (!h || size != h->FileSize()) {
        return false;
    }
    if (fileio::ReadWholeFile(path, bytes) != fileio::ReadResult::Ok) {
        return false;
    }
    h = ParseHeader(bytes);  // the file may have been replaced in between
    if (!h || bytes.size() != h->FileSize()) {
        return false;
    }
    header = *h;
    return true;
}

HeaderBytes HeaderBytesOf(std::span<const std::uint8_t> file) {
    HeaderBytes b{};
    std::memcpy(b.data(), file.data(), kHeaderSize);
    return b;
}

// --- Password hashing for the cache ----------------------------------------------------------

// SHA-256 of a per-process random secret followed by the password: lets the cache recognise a
// password without holding it. False when no secret could be made (the cache then stays unused).
bool HashPassword(std::string_view password, PasswordHash& out) {
    static std::array<std::uint8_t, 32> secret{};
    static const bool have_secret = crypto::RandomBytes(secret);
    if (!have_secret) {
        return false;
    }
    SecureBytes buf(secret.size() + password.size());
    std::memcpy(buf.data(), secret.data(), secret.size());
    if (!password.empty()) {
        std::memcpy(buf.data() + secret.size(), password.data(), password.size());
    }
    return crypto::Sha256(buf, out);
}

bool EqualHashes(const PasswordHash& a, const PasswordHash& b) {
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    }
    return diff == 0;
}

bool CacheMatches(const KeyCache& c, const std::filesystem::path& full, const Header& h,
                  const PasswordHash& hash) {
    return c.held && Now() - c.filled_at <= kCacheLifetime && c.iterations == h.iterations &&
           c.salt == h.salt && EqualHashes(c.password_hash, hash) && SameFile(c.full, full);
}

// --- Opening ---------------------------------------------------------------------------------

struct Attempt {
    std::optional<Table> table;
    Key key;
    PasswordHash hash{};
    bool hashed = false;
};

// Tests one password against a protected file: the cached key when it fits, else a derivation.
bool TryPassword(std::string_view password, const std::filesystem::path& full,
                 const std::vector<std::uint8_t>& bytes, const Header& header,
                 const KeyCache& cache, Attempt& a) {
    a.hashed = HashPassword(password, a.hash);
    if (a.hashed && CacheMatches(cache, full, header, a.hash)) {
        a.key = cache.key;
    } else if (!DeriveKey(password, header.salt, header.iterations, a.key)) {
        return false;
    }
    a.table = DecodeFile(bytes, header, &a.key);
    return a.table.has_value();
}

std::string AttemptsLeftLine(int left) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "密码错误，您还有 %d 次重新输入的机会。", left);
    return buf;
}

// Makes db the current database and puts its key in the cache (with the password's hash, when
// there is one). 0 when another thread opened the same file meanwhile.
int Install(std::unique_ptr<OpenDb> db, const PasswordHash* hash) {
    std::lock_guard lock(g_mu);
    if (g_db && SameFile(g_db->full, db->full)) {
        return 0;  // another thread opened it meanwhile
    }
    db->opened_at = Now();
    if (db->key && hash != nullptr) {
        g_cache.held = true;
        g_cache.full = db->full;
        g_cache.salt = db->header.salt;
        g_cache.iterations = db->header.iterations;
        g_cache.password_hash = *hash;
        g_cache.key = *db->key;
        g_cache.filled_at = db->opened_at;
    }
    g_db = std::move(db);  // a different database that was open is closed by this
    ++g_generation;
    return 1;
}

int OpenImpl(const std::filesystem::path& path, std::optional<std::string_view> password) {
    // The caches serve this one open at most: they leave their slots now, whatever the outcome.
    KeyCache cache;
    std::unique_ptr<OpenDb> closed;
    {
        std::lock_guard lock(g_mu);
        std::swap(cache, g_cache);
        g_cache.Wipe();
        closed = std::move(g_closed);
    }
    if (path.empty()) {
        return 0;
    }
    const std::filesystem::path full = FullPath(path);
    {
        std::lock_guard lock(g_mu);
        if (g_db && SameFile(g_db->full, full)) {
            return 0;
        }
    }
    const bool asking = password && *password == "?";
    const std::string_view given = password ? *password : std::string_view{};
    if (closed && !asking && !given.empty() && SameFile(closed->full, full)) {
        PasswordHash hash{};
        std::vector<std::uint8_t> head;
        std::uint64_t size = 0;
        if (HashPassword(given, hash) && CacheMatches(cache, full, closed->header, hash) &&
            ReadFileHead(path, kHeaderSize, head, size) && head.size() == kHeaderSize &&
            HeaderBytesOf(head) == closed->header_bytes && size == closed->header.FileSize()) {
            closed->path = path;
            closed->full = full;
            closed->pos = 0;
            return Install(std::move(closed), &hash);
        }
    }
    closed.reset();

    std::vector<std::uint8_t> bytes;
    Header header;
    if (!ReadDatabaseFile(path, bytes, header)) {
        return 0;
    }

    Attempt a;
    if (header.protection == Protection::None) {
        if (!asking && !given.empty()) {
            return 0;
        }
        a.table = DecodeFile(bytes, header, nullptr);
    } else if (!asking) {
        if (given.empty() || !TryPassword(given, full, bytes, header, cache, a)) {
            return 0;
        }
    } else {
        for (int attempt = 1; attempt <= 3 && !a.table; ++attempt) {
            const PasswordPromptHandler ask = g_prompt.load();
            if (ask == nullptr) {
                return 0;
            }
            const std::string status = attempt == 1 ? std::string() : AttemptsLeftLine(4 - attempt);
            std::optional<SecureString> typed = ask(status);
            if (!typed) {
                return 0;
            }
            if (!typed->empty()) {
                TryPassword(*typed, full, bytes, header, cache, a);
            }
        }
    }
    if (!a.table) {
        return 0;
    }

    auto db = std::make_unique<OpenDb>(std::move(*a.table));
    db->path = path;
    db->full = full;
    db->header = header;
    db->header_bytes = HeaderBytesOf(bytes);
    db->file_buffer = std::move(bytes);
    if (header.protection == Protection::Password) {
        db->key = a.key;
    }
    return Install(std::move(db), a.hashed ? &a.hash : nullptr);
}

// --- Writing ---------------------------------------------------------------------------------

enum class Base { Same, Reloaded, Failed };

// Under the write lock: whether the file is still what this process last read or wrote, and if
// another process has changed it, its newer content (read with the key this process holds).
Base CheckFile(const OpenDb& db, std::optional<Fresh>& fresh) {
    // Every write stamps the header with a fresh nonce, so an unchanged header and size tell
    // that nobody wrote since; only otherwise is the whole file read.
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    if (!ReadFileHead(db.path, kHeaderSize, bytes, size)) {
        return Base::Failed;
    }
    if (size == db.header.FileSize() && bytes.size() == kHeaderSize &&
        std::memcmp(bytes.data(), db.header_bytes.data(), kHeaderSize) == 0) {
        return Base::Same;
    }
    if (fileio::ReadWholeFile(db.path, bytes) != fileio::ReadResult::Ok) {
        return Base::Failed;
    }
    std::optional<Header> h = ParseHeader(bytes);
    if (!h) {
        return Base::Failed;
    }
    std::optional<Key> key;
    if (h->protection == Protection::Password) {
        // A password changed by the other process cannot be read with the key held here.
        if (!db.key || h->salt != db.header.salt || h->iterations != db.header.iterations) {
            return Base::Failed;
        }
        key = db.key;
    }
    std::optional<Table> t = DecodeFile(bytes, *h, key ? &*key : nullptr);
    if (!t) {
        return Base::Failed;
    }
    fresh.emplace(Fresh{*h, HeaderBytesOf(bytes), std::move(*t), std::move(key)});
    return Base::Reloaded;
}

// Writes table as the file's next version: durable on success. written gets its header.
bool Commit(OpenDb& db, const Table& table, Header h, std::uint64_t base_counter, const Key* key,
            Header& written, HeaderBytes& written_bytes) {
    h.change_counter = base_counter + 1;
    std::vector<std::uint8_t>& file = db.file_buffer;
    if (!EncodeFileInto(table, h, key, file) || !fileio::AtomicReplace(db.path, file)) {
        return false;
    }
    written_bytes = HeaderBytesOf(file);
    written = *ParseHeader(file);
    return true;
}

// The position in newer content that keeps the current record, or the end position.
std::size_t FollowPosition(const OpenDb& db, const Table& newer) {
    if (db.pos >= db.table.size()) {
        return newer.size();
    }
    if (std::optional<std::size_t> i = newer.Find(db.table.Id(db.pos))) {
        return *i;
    }
    return std::min(db.pos, newer.size());
}

void Adopt(OpenDb& db, Fresh&& f) {
    db.table = std::move(f.table);
    db.header = f.header;
    db.header_bytes = f.header_bytes;
    db.key = std::move(f.key);
}

bool KindsFit(const Table& t, std::span<const FieldValue> values) {
    const std::size_t n = std::min(values.size(), t.fields().size());
    for (std::size_t k = 0; k < n; ++k) {
        if (values[k].kind != t.fields()[k].kind) {
            return false;
        }
    }
    return true;
}

// Holds the write lock and what the file held when it was taken.
struct WriteSession {
    std::unique_ptr<fileio::WriteLock> lock;
    std::optional<Fresh> fresh;

    bool Begin(const OpenDb& db) {
        lock = fileio::AcquireWriteLock(db.path, kWriteLockTimeoutMs);
        return lock && CheckFile(db, fresh) != Base::Failed;
    }
};

}  // namespace

// --- The operations --------------------------------------------------------------------------

std::filesystem::path DatabaseFilePath() {
#if defined(_WIN32)
    std::wstring dir = ProgramDirectory().native();
    while (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) {
        dir.pop_back();
    }
    const char* name = "\\数据库.edb";
    std::wstring wide(64, L'\0');
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, name, -1, wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return std::filesystem::path(dir + wide);
#else
    std::string dir = ProgramDirectory().native();
    while (!dir.empty() && dir.back() == '/') {
        dir.pop_back();
    }
    return std::filesystem::path(dir + reinterpret_cast<const char*>(u8"/数据库.edb"));
#endif
}

int OpenDatabase(const std::filesystem::path& path) {
    return OpenImpl(path, std::nullopt);
}

int OpenDatabase(const std::filesystem::path& path, std::string_view password) {
    return OpenImpl(path, password);
}

void CloseDatabase() {
    std::unique_ptr<OpenDb> closing;
    std::lock_guard lock(g_mu);
    if (!g_db) {
        return;
    }
    closing = std::move(g_db);
    ++g_generation;
    if (Now() - closing->opened_at >= kQuickClose) {
        DropCaches();
    } else if (closing->key && g_cache.held && SameFile(g_cache.full, closing->full)) {
        g_closed = std::move(closing);
    }
}

int IsDatabaseEncrypted(const std::filesystem::path& path) {
    if (path.empty()) {
        return 0;
    }
    const std::filesystem::path full = FullPath(path);
    {
        std::lock_guard lock(g_mu);
        if (g_db && SameFile(g_db->full, full)) {
            return g_db->header.protection == Protection::Password ? 1 : 0;
        }
    }
    std::vector<std::uint8_t> head;
    std::uint64_t size = 0;
    if (!ReadFileHead(path, kHeaderSize, head, size)) {
        return 0;
    }
    std::optional<Header> h = ParseHeader(head);
    return h && size == h->FileSize() && h->protection == Protection::Password ? 1 : 0;
}

int SetDatabasePassword(std::string_view new_password) {
    if (new_password == "?") {
        return 0;
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(g_mu);
        if (!g_db) {
            return 0;
        }
        generation = g_generation;
    }
    // The slow derivation runs without holding the store.
    Header h;
    std::optional<Key> key;
    if (!new_password.empty()) {
        h.protection = Protection::Password;
        h.iterations = g_new_iterations.load();
        key.emplace();
        if (!crypto::RandomBytes(h.salt) || !DeriveKey(new_password, h.salt, h.iterations, *key)) {
            return 0;
        }
    }
    std::lock_guard lock(g_mu);
    if (!g_db || g_generation != generation) {
        return 0;
    }
    OpenDb& db = *g_db;
    WriteSession ws;
    if (!ws.Begin(db)) {
        return 0;
    }
    const Table& target = ws.fresh ? ws.fresh->table : db.table;
    const std::uint64_t base =
        ws.fresh ? ws.fresh->header.change_counter : db.header.change_counter;
    Header written;
    HeaderBytes written_bytes;
    if (!Commit(db, target, h, base, key ? &*key : nullptr, written, written_bytes)) {
        return 0;
    }
    if (ws.fresh) {
        const std::size_t pos = FollowPosition(db, ws.fresh->table);
        Adopt(db, std::move(*ws.fresh));
        db.pos = pos;
    }
    db.header = written;
    db.header_bytes = written_bytes;
    db.key = std::move(key);
    DropCaches();
    return 1;
}

std::int32_t GetRecordCount() {
    std::lock_guard lock(g_mu);
    return g_db ? static_cast<std::int32_t>(g_db->table.size()) : 0;
}

void GoToFirstRecord() {
    std::lock_guard lock(g_mu);
    if (g_db) {
        g_db->pos = 0;
    }
}

int SkipRecord() {
    std::lock_guard lock(g_mu);
    if (!g_db || g_db->pos >= g_db->table.size()) {
        return 0;
    }
    ++g_db->pos;
    return 1;
}

int GoToRecord(std::int32_t n) {
    std::lock_guard lock(g_mu);
    if (!g_db) {
        return 0;
    }
    const std::int64_t count = static_cast<std::int64_t>(g_db->table.size());
    const std::int64_t p =
        std::clamp<std::int64_t>(std::int64_t{n} - 1, 0, std::max<std::int64_t>(count - 1, 0));
    g_db->pos = static_cast<std::size_t>(p);
    return 1;
}

int DeleteCurrentRecord() {
    std::lock_guard lock(g_mu);
    if (!g_db || g_db->pos >= g_db->table.size()) {
        return 0;
    }
    OpenDb& db = *g_db;
    const std::uint64_t id = db.table.Id(db.pos);
    WriteSession ws;
    if (!ws.Begin(db)) {
        return 0;
    }
    Table& target = ws.fresh ? ws.fresh->table : db.table;
    const Header& base = ws.fresh ? ws.fresh->header : db.header;
    const std::optional<std::size_t> at = ws.fresh ? target.Find(id) : db.pos;
    if (!at) {
        return 0;  // another process removed it: no other record is touched
    }
    if (!target.Deleted(*at)) {
        target.SetDeleted(*at, true);
        Header written;
        HeaderBytes written_bytes;
        const Key* key =
            ws.fresh ? (ws.fresh->key ? &*ws.fresh->key : nullptr) : (db.key ? &*db.key : nullptr);
        if (!Commit(db, target, base, base.change_counter, key, written, written_bytes)) {
            target.SetDeleted(*at, false);
            return 0;
        }
        if (ws.fresh) {
            Adopt(db, std::move(*ws.fresh));
        }
        db.header = written;
        db.header_bytes = written_bytes;
    } else if (ws.fresh) {
        Adopt(db, std::move(*ws.fresh));  // already marked there: nothing to write
    }
    db.pos = *at;
    return 1;
}

int PurgeDeletedRecords() {
    std::lock_guard lock(g_mu);
    if (!g_db) {
        return 0;
    }
    OpenDb& db = *g_db;
    WriteSession ws;
    if (!ws.Begin(db)) {
        return 0;
    }
    const Table& target = ws.fresh ? ws.fresh->table : db.table;
    if (target.AnyDeleted()) {
        Table purged = target.WithoutDeleted();
        const Header& base = ws.fresh ? ws.fresh->header : db.header;
        const Key* key =
            ws.fresh ? (ws.fresh->key ? &*ws.fresh->key : nullptr) : (db.key ? &*db.key : nullptr);
        Header written;
        HeaderBytes written_bytes;
        if (!Commit(db, purged, base, base.change_counter, key, written, written_bytes)) {
            return 0;
        }
        if (ws.fresh) {
            Adopt(db, std::move(*ws.fresh));
        }
        db.table = std::move(purged);
        db.header = written;
        db.header_bytes = written_bytes;
    } else if (ws.fresh) {
        Adopt(db, std::move(*ws.fresh));
    }
    db.pos = 0;
    return 1;
}

FieldValue ReadField(std::string_view name) {
    const char* error = nullptr;
    FieldValue v;
    {
        std::lock_guard lock(g_mu);
        if (!g_db) {
            error = "未指定当前数据库或者指定数据库未打开";
        } else if (const int f = g_db->table.FieldIndex(name); f < 0) {
            error = "指定字段不存在";
        } else {
            const OpenDb& db = *g_db;
            v.kind = db.table.fields()[static_cast<std::size_t>(f)].kind;
            if (db.pos < db.table.size()) {
                if (v.kind == FieldKind::Text) {
                    v.text = SecureString(db.table.TextAt(db.pos, static_cast<std::size_t>(f)));
                } else {
                    v.number = db.table.NumberAt(db.pos, static_cast<std::size_t>(f));
                }
            }
        }
    }
    // Raised outside the store's lock: the handler may show a box or throw.
    if (error != nullptr) {
        RaiseFatalError(0, error);
    }
    return v;
}

int AddRecord(std::span<const FieldValue> values) {
    std::lock_guard lock(g_mu);
    if (!g_db || !KindsFit(g_db->table, values)) {
        return 0;
    }
    OpenDb& db = *g_db;
    WriteSession ws;
    if (!ws.Begin(db)) {
        return 0;
    }
    Table& target = ws.fresh ? ws.fresh->table : db.table;
    if (!KindsFit(target, values)) {
        return 0;
    }
    const Table::Mark mark = target.Save();
    if (!target.Append(values)) {
        return 0;
    }
    const Header& base = ws.fresh ? ws.fresh->header : db.header;
    const Key* key =
        ws.fresh ? (ws.fresh->key ? &*ws.fresh->key : nullptr) : (db.key ? &*db.key : nullptr);
    Header written;
    HeaderBytes written_bytes;
    if (!Commit(db, target, base, base.change_counter, key, written, written_bytes)) {
        target.Rollback(mark);
        return 0;
    }
    if (ws.fresh) {
        Adopt(db, std::move(*ws.fresh));
    }
    db.header = written;
    db.header_bytes = written_bytes;
    db.pos = db.table.size() - 1;
    return 1;
}

std::uint64_t CurrentRecordId() {
    std::lock_guard lock(g_mu);
    if (!g_db || g_db->pos >= g_db->table.size()) {
        return 0;
    }
    return g_db->table.Id(g_db->pos);
}

int GoToRecordId(std::uint64_t id) {
    std::lock_guard lock(g_mu);
    if (!g_db) {
        return 0;
    }
    if (std::optional<std::size_t> i = g_db->table.Find(id)) {
        g_db->pos = *i;
        return 1;
    }
    return 0;
}

PasswordPromptHandler SetPasswordPromptHandler(PasswordPromptHandler handler) noexcept {
    return g_prompt.exchange(handler);
}

void SetKdfIterationsForTesting(std::uint32_t iterations) noexcept {
    g_new_iterations.store(iterations == 0 ? kDefaultKdfIterations
                                           : std::min(iterations, kMaxKdfIterations));
}

namespace db {

void SetStoreClockForTesting(StoreClock clock) noexcept {
    g_clock.store(clock);
}

bool KeyCacheHeldForTesting() {
    std::lock_guard lock(g_mu);
    return g_cache.held;
}

}  // namespace db
}  // namespace ob
