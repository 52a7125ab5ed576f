// Durable file access on Windows: whole reads, crash-safe replacement by a write-through move, and
// a named mutex as the writers' lock. Every path goes to the wide-character API.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <utility>

#include "store/crypto.h"
#include "store/file_io.h"

namespace ob::fileio {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<int> g_fail_step{0};

// The steps of AtomicReplace, as counted by SetAtomicReplaceFailureForTesting.
enum Step { kCreate = 1, kWrite, kFlush, kClose, kRename, kSyncFolder };

bool Injected(Step s) noexcept {
    return g_fail_step.load(std::memory_order_relaxed) == s;
}

class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) noexcept : h_(h) {}
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const noexcept { return h_; }
    bool ok() const noexcept { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Release() noexcept { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    void Reset() noexcept {
        if (ok()) {
            CloseHandle(h_);
        }
        h_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE h_;
};

// Temporary files are named "<file name>.~<16 hex digits>.tmp", which the database, always
// opened by its exact name, can never be taken for.
constexpr std::wstring_view kTempSuffix = L".tmp";
constexpr std::size_t kIdDigits = 16;
// A leftover of a killed writer is removed once it has not been written for ten minutes (in
// FILETIME units of 100 ns); a live writer's temporary file is never that old.
constexpr ULONGLONG kStaleAge = 600ull * 10'000'000ull;
// Room that a temporary name needs beyond the file's own name.
constexpr std::size_t kTempExtra = 2 + kIdDigits + 4;

// The absolute form of path (GetFullPathNameW), without any "\\?\" prefix; empty on failure.
std::wstring FullPath(const fs::path& path) {
    const std::wstring in = path.wstring();
    if (in.empty()) {
        return {};
    }
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFullPathNameW(in.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0) {
            return {};
        }
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(n);
    }
}

// The form handed to the file API: paths that, with a temporary name, would pass MAX_PATH get
// the "\\?\" prefix, so that a folder of any depth works.
std::wstring ForApi(const std::wstring& full) {
    if (full.size() + kTempExtra < MAX_PATH || full.rfind(L"\\\\?\\", 0) == 0) {
        return full;
    }
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

// Splits a full path into its folder (with the trailing separator) and its name.
bool Split(const std::wstring& full, std::wstring& dir, std::wstring& name) {
    const std::size_t slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 == full.size()) {
        return false;
    }
    dir = full.substr(0, slash + 1);
    name = full.substr(slash + 1);
    return true;
}

bool UniqueId(std::wstring& id) noexcept {
    std::uint8_t raw[kIdDigits / 2];
    if (!crypto::RandomBytes(raw)) {
        return false;
    }
    static const wchar_t* digits = L"0123456789abcdef";
    id.clear();
    for (std::uint8_t b : raw) {
        id += digits[b >> 4];
        id += digits[b & 15];
    }
    return true;
}

bool SameNameIgnoringCase(std::wstring_view a, std::wstring_view b) noexcept {
    return a.size() == b.size() &&
           CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether entry is "<name>.~<16 hex digits>.tmp" (names compared as the file system does).
bool IsOurLeftover(std::wstring_view entry, std::wstring_view name) noexcept {
    if (entry.size() != name.size() + kTempExtra ||
        !SameNameIgnoringCase(entry.substr(0, name.size()), name) ||
        entry.substr(name.size(), 2) != L".~") {
        return false;
    }
    const std::wstring_view id = entry.substr(name.size() + 2, kIdDigits);
    const bool hex = std::all_of(id.begin(), id.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
    });
    return hex && SameNameIgnoringCase(entry.substr(name.size() + 2 + kIdDigits), kTempSuffix);
}

ULONGLONG Ticks(const FILETIME& t) noexcept {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Removes what killed writers left beside name in dir: plain files of our pattern that have not
// been written for kStaleAge.
void RemoveStaleLeftovers(const std::wstring& dir, const std::wstring& name) {
    WIN32_FIND_DATAW found;
    const std::wstring pattern = ForApi(dir + name + L".~*");
    HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    FILETIME now_ft;
    GetSystemTimeAsFileTime(&now_ft);
    const ULONGLONG now = Ticks(now_ft);
    do {
        const bool plain = (found.dwFileAttributes &
                            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        const ULONGLONG written = Ticks(found.ftLastWriteTime);
        if (plain && IsOurLeftover(found.cFileName, name) && now > written &&
            now - written >= kStaleAge) {
            DeleteFileW(ForApi(dir + found.cFileName).c_str());
        }
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

// The move that commits a replacement. Another program (a virus scanner, an indexer) may hold
// the fresh temporary file open for a moment, so a sharing violation is retried briefly.
bool MoveOver(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD err = GetLastError();
        if ((err != ERROR_SHARING_VIOLATION && err != ERROR_LOCK_VIOLATION) || attempt == 20) {
            return false;
        }
        Sleep(25);
    }
}

// Flushes the folder's entries as well. Windows has made the move durable already (write-through);
// Wine renames with rename(2) and ignores write-through, but turns this flush into an fsync of
// the folder. Where a file system cannot flush a folder, the write-through move stands alone,
// so a failure here is not one of the replacement.
void FlushFolder(const std::wstring& dir) {
    Handle folder(CreateFileW(ForApi(dir).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.ok()) {
        FlushFileBuffers(folder.get());
    }
}

// Serialises lock holders inside this process by mutex name. The named mutex alone would let
// the thread that holds it take it again; the gate keeps the lock non-recursive, as on POSIX.
class ProcessGate {
  public:
    bool Enter(const std::wstring& key, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!freed_.wait_until(lock, deadline, [&] { return held_.count(key) == 0; })) {
            return false;
        }
        held_.insert(key);
        return true;
    }
    void Leave(const std::wstring& key) {
        {
            std::lock_guard lock(mutex_);
            held_.erase(key);
        }
        freed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::set<std::wstring> held_;
};

ProcessGate& Gate() {
    static ProcessGate gate;
    return gate;
}

// The name of the writers' mutex for a database: "Local\" (the user's session) and the SHA-256
// of the normalised full path, so that every spelling of one file (letter case, short names,
// relative forms) meets the same mutex and no path characters need escaping.
std::wstring MutexName(const std::wstring& full) {
    std::wstring normal = full;
    std::wstring buf(32768, L'\0');
    DWORD n = GetLongPathNameW(ForApi(full).c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    std::wstring dir, name;
    if (n > 0 && n < buf.size()) {
        buf.resize(n);
        normal = buf;
    } else if (Split(full, dir, name)) {
        // The file may not exist yet: normalise its folder.
        n = GetLongPathNameW(ForApi(dir).c_str(), buf.data(), static_cast<DWORD>(buf.size()));
        if (n > 0 && n < buf.size()) {
            buf.resize(n);
            normal = buf + (buf.back() == L'\\' ? L"" : L"\\") + name;
        }
    }
    if (normal.rfind(L"\\\\?\\", 0) == 0) {
        normal.erase(0, 4);
    }
    CharUpperBuffW(normal.data(), static_cast<DWORD>(normal.size()));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(normal.data());
    std::uint8_t digest[crypto::kSha256Size];
    if (!crypto::Sha256(std::span<const std::uint8_t>(bytes, normal.size() * sizeof(wchar_t)),
                        digest)) {
        return {};
    }
    static const wchar_t* digits = L"0123456789abcdef";
    std::wstring mutex_name = L"Local\\Obrellin.WriteLock.";
    for (std::uint8_t b : digest) {
        mutex_name += digits[b >> 4];
        mutex_name += digits[b & 15];
    }
    return mutex_name;
}

// Holds the named mutex. A mutex belongs to the thread that took it, so the lock is released
// on that thread, as with std::mutex.
class MutexLock final : public WriteLock {
  public:
    MutexLock(HANDLE mutex, std::wstring&& key) : mutex_(mutex), key_(std::move(key)) {}
    ~MutexLock() override {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
        Gate().Leave(key_);
    }

  private:
    HANDLE mutex_;
    std::wstring key_;
};

}  // namespace

ReadResult ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
    out.clear();
    const std::wstring full = FullPath(path);
    if (full.empty()) {
        return ReadResult::Failed;
    }
    // Other readers and writers are not kept out, and the file may be renamed over meanwhile.
    Handle file(CreateFileW(ForApi(full).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.ok()) {
        const DWORD err = GetLastError();
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ReadResult::NotFound
                                                                          : ReadResult::Failed;
    }
    try {
        LARGE_INTEGER size;
        if (GetFileSizeEx(file.get(), &size)) {
            out.reserve(static_cast<std::size_t>(size.QuadPart));
        }
        std::uint8_t buf[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) {
                out.clear();
                return ReadResult::Failed;
            }
            if (got == 0) {
                return ReadResult::Ok;
            }
            out.insert(out.end(), buf, buf + got);
        }
    } catch (const std::exception&) {  // no memory for a file of that size
        out.clear();
        return ReadResult::Failed;
    }
}

bool AtomicReplace(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    const std::wstring full = FullPath(path);
    std::wstring dir, name;
    if (full.empty() || !Split(full, dir, name)) {
        return false;
    }
    RemoveStaleLeftovers(dir, name);

    // The file being replaced must be a plain file without the read-only attribute (the move
    // would refuse it anyway; checking first leaves nothing to clean up). Its hidden, system and
    // not-indexed attributes pass to the new file.
    DWORD keep = FILE_ATTRIBUTE_NORMAL;
    const DWORD attrs = GetFileAttributesW(ForApi(full).c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            return false;
        }
    } else {
        if (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
            return false;
        }
        const DWORD passed = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        if (passed != 0) {
            keep = passed;
        }
    }

    std::wstring id;
    if (!UniqueId(id)) {
        return false;
    }
    const std::wstring temp = ForApi(dir + name + L".~" + id + std::wstring(kTempSuffix));
    if (Injected(kCreate)) {
        return false;
    }
    Handle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, keep, nullptr));
    if (!file.ok()) {
        return false;
    }
    auto fail = [&] {
        file.Reset();
        DeleteFileW(temp.c_str());
        return false;
    };
    const std::size_t limit = Injected(kWrite) ? data.size() / 2 : data.size();
    for (std::size_t done = 0; done < limit;) {
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(limit - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file.get(), data.data() + done, n, &written, nullptr) || written == 0) {
            return fail();
        }
        done += written;
    }
    if (Injected(kWrite) || Injected(kFlush) || !FlushFileBuffers(file.get())) {
        return fail();
    }
    if (!CloseHandle(file.Release()) || Injected(kClose)) {
        return fail();
    }
    // The write-through move renames and flushes the folder entry in one call, so a failure of
    // either step (5 or 6) is a failure of that call, before anything has changed.
    if (Injected(kRename) || Injected(kSyncFolder) || !MoveOver(temp, ForApi(full))) {
        return fail();
    }
    FlushFolder(dir);
    return true;
}

std::unique_ptr<WriteLock> AcquireWriteLock(const std::filesystem::path& path,
                                            std::uint32_t timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const std::wstring full = FullPath(path);
    std::wstring dir, name;
    if (full.empty() || !Split(full, dir, name)) {
        return nullptr;
    }
    // As on POSIX, where the folder itself is locked, there is no lock without the folder.
    const DWORD dir_attrs = GetFileAttributesW(ForApi(dir).c_str());
    if (dir_attrs == INVALID_FILE_ATTRIBUTES || (dir_attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return nullptr;
    }
    std::wstring key = MutexName(full);
    if (key.empty() || !Gate().Enter(key, deadline)) {
        return nullptr;
    }
    Handle mutex(CreateMutexW(nullptr, FALSE, key.c_str()));
    if (!mutex.ok()) {
        Gate().Leave(key);
        return nullptr;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const DWORD wait = static_cast<DWORD>(std::max<std::int64_t>(0, left.count()));
    // An abandoned mutex (its holder died) is ours now; the file is whole, as every replacement
    // is atomic.
    const DWORD got = WaitForSingleObject(mutex.get(), wait);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
        Gate().Leave(key);
        return nullptr;
    }
    std::unique_ptr<WriteLock> lock(new (std::nothrow) MutexLock(mutex.get(), std::move(key)));
    if (lock == nullptr) {  // key was not moved from: the constructor never ran
        ReleaseMutex(mutex.get());
        Gate().Leave(key);
        return nullptr;
    }
    mutex.Release();
    return lock;
}

void SetAtomicReplaceFailureForTesting(int step) noexcept {
    g_fail_step.store(step, std::memory_order_relaxed);
}

}  // namespace ob::fileio
