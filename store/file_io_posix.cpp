// Durable file access on POSIX: whole reads, crash-safe replacement by rename, a directory lock.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
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

// A file descriptor closed when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const noexcept { return fd_; }
    int Release() noexcept { return std::exchange(fd_, -1); }
    void Reset() noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_;
};

// Temporary files are named "<file name>.~<16 hex digits>.tmp"; the link that keeps the previous
// content while a replacement is being made durable ends in ".old" instead. Neither can be taken
// for the database, which is always opened by its exact name.
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::string_view kBackupSuffix = ".old";
constexpr std::size_t kIdDigits = 16;
static_assert(kTempSuffix.size() == kBackupSuffix.size());
// A leftover of a killed writer is removed once it is this old; a live writer touches its
// temporary file within milliseconds, so it never looks this old.
constexpr std::chrono::seconds kStaleAge{600};

bool UniqueId(std::string& id) noexcept {
    std::uint8_t raw[kIdDigits / 2];
    if (!crypto::RandomBytes(raw)) {
        return false;
    }
    static const char* digits = "0123456789abcdef";
    id.clear();
    for (std::uint8_t b : raw) {
        id += digits[b >> 4];
        id += digits[b & 15];
    }
    return true;
}

// Whether entry is "<name>.~<16 lower-case hex digits><suffix>" for one of our suffixes.
bool IsOurLeftover(std::string_view entry, std::string_view name) noexcept {
    const std::size_t want = name.size() + 2 + kIdDigits + kTempSuffix.size();
    if (entry.size() != want || entry.substr(0, name.size()) != name ||
        entry.substr(name.size(), 2) != ".~") {
        return false;
    }
    const std::string_view id = entry.substr(name.size() + 2, kIdDigits);
    const bool hex = std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
    const std::string_view suffix = entry.substr(name.size() + 2 + kIdDigits);
    return hex && (suffix == kTempSuffix || suffix == kBackupSuffix);
}

// Removes what killed writers left beside name in the folder dirfd: only regular files that bear
// our pattern and have not been written for kStaleAge.
void RemoveStaleLeftovers(int dirfd, const std::string& name) noexcept {
    const int dup = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0) {
        return;
    }
    DIR* dir = ::fdopendir(dup);
    if (dir == nullptr) {
        ::close(dup);
        return;
    }
    const auto now = std::chrono::system_clock::now();
    while (const dirent* e = ::readdir(dir)) {
        if (!IsOurLeftover(e->d_name, name)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        const auto written = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(st.st_mtim.tv_sec) +
                std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
        if (now - written >= kStaleAge) {
            ::unlinkat(dirfd, e->d_name, 0);
        }
    }
    ::closedir(dir);
}

// The file that path stands for: a symbolic link is followed, so that a replacement lands on the
// file it points to instead of turning the link into a plain file. Empty on failure.
fs::path ResolveTarget(const fs::path& path) {
    struct stat st {};
    if (path.empty() || path.filename().empty()) {
        return {};
    }
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            return {};
        }
        fs::path target(real);
        std::free(real);
        return target;
    }
    return path;
}

fs::path FolderOf(const fs::path& target) {
    fs::path dir = target.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

int OpenFolder(const fs::path& dir) noexcept {
    return ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool WriteAll(int fd, std::span<const std::uint8_t> data) noexcept {
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t n = std::min<std::size_t>(data.size() - done, 1u << 30);
        const ssize_t w = ::write(fd, data.data() + done, n);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    return true;
}

bool Sync(int fd) noexcept {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Serialises lock holders inside this process, keyed by the locked folder's identity. flock
// alone would exclude other threads too (each holder has its own open file description), but
// the gate also makes the hand-over visible to thread sanitizers and keeps the lock
// non-recursive in the same way on every platform.
class ProcessGate {
  public:
    using Key = std::pair<dev_t, ino_t>;
    bool Enter(const Key& key, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!freed_.wait_until(lock, deadline, [&] { return held_.count(key) == 0; })) {
            return false;
        }
        held_.insert(key);
        return true;
    }
    void Leave(const Key& key) {
        {
            std::lock_guard lock(mutex_);
            held_.erase(key);
        }
        freed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::set<Key> held_;
};

ProcessGate& Gate() {
    static ProcessGate gate;
    return gate;
}

// The lock: an exclusive flock on the database's folder. The folder is never replaced, so the
// lock holds however often the file in it is renamed over, and nothing is added to the folder.
class FolderLock final : public WriteLock {
  public:
    FolderLock(int fd, ProcessGate::Key key) noexcept : fd_(fd), key_(key) {}
    ~FolderLock() override {
        ::close(fd_);  // releases the flock
        Gate().Leave(key_);
    }

  private:
    int fd_;
    ProcessGate::Key key_;
};

}  // namespace

ReadResult ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::NotFound : ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return ReadResult::Failed;
    }
    try {
        out.reserve(static_cast<std::size_t>(st.st_size));
        std::uint8_t buf[65536];
        for (;;) {
            const ssize_t r = ::read(fd.get(), buf, sizeof buf);
            if (r < 0) {
                if (errno == EINTR) {
                    continue;
                }
                out.clear();
                return ReadResult::Failed;
            }
            if (r == 0) {
                return ReadResult::Ok;
            }
            out.insert(out.end(), buf, buf + r);
        }
    } catch (const std::exception&) {  // no memory for a file of that size
        out.clear();
        return ReadResult::Failed;
    }
}

bool AtomicReplace(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    const fs::path target = ResolveTarget(path);
    if (target.empty()) {
        return false;
    }
    const std::string name = target.filename().string();
    Fd dir(OpenFolder(FolderOf(target)));
    if (dir.get() < 0) {
        return false;
    }
    RemoveStaleLeftovers(dir.get(), name);

    // The file being replaced must be a regular file that may be written: a file that grants
    // nobody write access is read-only for this program too, even when run by root.
    struct stat old {};
    const bool have_old = ::fstatat(dir.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!have_old && errno != ENOENT) {
        return false;
    }
    if (have_old && (!S_ISREG(old.st_mode) || (old.st_mode & 0222) == 0 ||
                     ::faccessat(dir.get(), name.c_str(), W_OK, AT_EACCESS) != 0)) {
        return false;
    }

    std::string id;
    if (!UniqueId(id)) {
        return false;
    }
    const std::string temp = name + ".~" + id + std::string(kTempSuffix);
    const std::string backup = name + ".~" + id + std::string(kBackupSuffix);

    if (Injected(kCreate)) {
        return false;
    }
    Fd fd(::openat(dir.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                   0600));
    if (fd.get() < 0) {
        return false;
    }
    auto fail = [&] {
        fd.Reset();
        ::unlinkat(dir.get(), temp.c_str(), 0);
        return false;
    };
    if (have_old) {
        // The new file keeps the old one's permissions and, where allowed, its owner.
        ::fchmod(fd.get(), old.st_mode & 0777);
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            [[maybe_unused]] const int ignored = ::fchown(fd.get(), old.st_uid, old.st_gid);
        }
    }
    if (Injected(kWrite)) {
        WriteAll(fd.get(), data.first(data.size() / 2));
        return fail();
    }
    if (!WriteAll(fd.get(), data)) {
        return fail();
    }
    if (Injected(kFlush) || !Sync(fd.get())) {
        return fail();
    }
    const int raw = fd.Release();
    if (::close(raw) != 0 || Injected(kClose)) {
        return fail();
    }

    // A second name for the old content, so that it can be put back if the folder cannot be made
    // durable after the rename. Where hard links are not supported the write goes on without it.
    const bool have_backup =
        have_old && ::linkat(dir.get(), name.c_str(), dir.get(), backup.c_str(), 0) == 0;
    auto drop_backup = [&] {
        if (have_backup) {
            ::unlinkat(dir.get(), backup.c_str(), 0);
        }
    };
    if (Injected(kRename) || ::renameat(dir.get(), temp.c_str(), dir.get(), name.c_str()) != 0) {
        drop_backup();
        return fail();
    }
    if (Injected(kSyncFolder) || !Sync(dir.get())) {
        // The rename is visible but not known to be on the disk: report failure, and put the
        // old content back so that what the caller sees matches what it was told.
        if (have_backup) {
            ::renameat(dir.get(), backup.c_str(), dir.get(), name.c_str());
        } else if (!have_old) {
            ::unlinkat(dir.get(), name.c_str(), 0);
        }
        Sync(dir.get());
        return false;
    }
    drop_backup();
    return true;
}

std::unique_ptr<WriteLock> AcquireWriteLock(const std::filesystem::path& path,
                                            std::uint32_t timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const fs::path target = ResolveTarget(path);
    if (target.empty()) {
        return nullptr;
    }
    Fd fd(OpenFolder(FolderOf(target)));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        return nullptr;
    }
    const ProcessGate::Key key{st.st_dev, st.st_ino};
    if (!Gate().Enter(key, deadline)) {
        return nullptr;
    }
    // flock has no time-out of its own: poll, backing off from 1 to 16 ms.
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
            std::unique_ptr<WriteLock> lock(new (std::nothrow) FolderLock(fd.get(), key));
            if (lock == nullptr) {
                Gate().Leave(key);
                return nullptr;
            }
            fd.Release();
            return lock;
        }
        const auto now = Clock::now();
        if ((errno != EWOULDBLOCK && errno != EINTR) || now >= deadline) {
            Gate().Leave(key);
            return nullptr;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(16));
    }
}

void SetAtomicReplaceFailureForTesting(int step) noexcept {
    g_fail_step.store(step, std::memory_order_relaxed);
}

}  // namespace ob::fileio
