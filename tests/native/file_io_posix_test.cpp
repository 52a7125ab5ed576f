// Durable file access against real POSIX conditions: a full file system, a read-only mount, a
// writer killed mid-write, symbolic links and file modes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "store/file_io.h"

namespace ob::fileio {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes Filled(std::size_t n, std::uint8_t v) {
    return Bytes(n, v);
}

Bytes Read(const fs::path& p) {
    Bytes out;
    EXPECT_EQ(ReadResult::Ok, ReadWholeFile(p, out)) << p;
    return out;
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "ob-fileio-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) != nullptr) {
            path_ = tmpl;
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            if (mounted_) {
                ::umount2(path_.c_str(), MNT_DETACH);
            }
            std::error_code ec;
            fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
            fs::remove_all(path_, ec);
        }
    }
    const fs::path& path() const { return path_; }
    // Mounts a tmpfs of the given size here; the error text when that is not possible.
    std::string MountTmpfs(const char* size) {
        if (::geteuid() != 0) {
            return "needs root to mount a small tmpfs";
        }
        const std::string opts = std::string("size=") + size + ",mode=0700";
        if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, opts.c_str()) != 0) {
            return std::string("mount -t tmpfs failed: ") + std::strerror(errno);
        }
        mounted_ = true;
        return {};
    }
    bool RemountReadOnly() {
        return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    fs::path path_;
    bool mounted_ = false;
};

// When the file system is full, the replacement fails at its write and the old file stays whole.
TEST(FileIoPosix, FullFileSystemLeavesTheFileIntact) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    if (const std::string why = dir.MountTmpfs("256k"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const fs::path db = dir.path() / "db.edb";
    const Bytes old = Filled(64 * 1024, 'A');
    ASSERT_TRUE(AtomicReplace(db, old));

    EXPECT_FALSE(AtomicReplace(db, Filled(512 * 1024, 'B')));  // larger than the whole mount
    EXPECT_EQ(old, Read(db));
    EXPECT_EQ(std::vector<std::string>{"db.edb"}, Listing(dir.path()));

    {  // every remaining page taken
        std::ofstream filler(dir.path() / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 1000 && filler.write(block.data(), block.size()); ++i) {
            filler.flush();
        }
    }
    EXPECT_FALSE(AtomicReplace(db, Filled(100, 'C')));
    EXPECT_EQ(old, Read(db));
    EXPECT_EQ((std::vector<std::string>{"db.edb", "filler"}), Listing(dir.path()));

    fs::remove(dir.path() / "filler");
    EXPECT_TRUE(AtomicReplace(db, Filled(100, 'D')));
    EXPECT_EQ(Filled(100, 'D'), Read(db));
}

// A folder that cannot be written to: a read-only mount for root (whom file modes do not stop),
// a folder without write permission for everyone else.
TEST(FileIoPosix, ReadOnlyFolderFailsCleanly) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path db = dir.path() / "db.edb";
    const Bytes old = Filled(1000, 'A');
    if (::geteuid() == 0) {
        if (const std::string why = dir.MountTmpfs("1m"); !why.empty()) {
            GTEST_SKIP() << why;
        }
        ASSERT_TRUE(AtomicReplace(db, old));
        ASSERT_TRUE(dir.RemountReadOnly()) << std::strerror(errno);
    } else {
        ASSERT_TRUE(AtomicReplace(db, old));
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(AtomicReplace(db, Filled(10, 'B')));
    EXPECT_FALSE(AtomicReplace(dir.path() / "new.edb", Filled(10, 'B')));
    EXPECT_EQ(old, Read(db));
    EXPECT_EQ(std::vector<std::string>{"db.edb"}, Listing(dir.path()));
}

// The value every byte of the file holds, or -1 for a missing, short or mixed file.
int Version(const fs::path& db, std::size_t size) {
    Bytes b;
    if (ReadWholeFile(db, b) != ReadResult::Ok || b.size() != size ||
        !std::all_of(b.begin(), b.end(), [&](std::uint8_t x) { return x == b[0]; })) {
        return -1;
    }
    return b[0];
}

// A child process that is killed and reaped when the test leaves its scope, even by a failed
// assertion.
class KilledOnExit {
  public:
    explicit KilledOnExit(pid_t pid) : pid_(pid) {}
    ~KilledOnExit() { Kill(); }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_;
};

// A writer killed at a random moment leaves the file either as it was or wholly replaced, never
// in between; whatever else it leaves bears the leftover pattern and is removed once old.
void KillWritersIn(const fs::path& dir) {
    const fs::path db = dir / "db.edb";
    constexpr std::size_t kSize = 1024 * 1024;
    ASSERT_TRUE(AtomicReplace(db, Filled(kSize, 0)));
    const std::regex leftover(R"(db\.edb\.~[0-9a-f]{16}\.(tmp|old))");
    std::mt19937 rng(12345);
    int version = 0;
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int v = version + 1;; ++v) {
                AtomicReplace(db, Filled(kSize, static_cast<std::uint8_t>(v % 256)));
            }
        }
        KilledOnExit writer(pid);
        // Kill it at a random point of a later replacement, once it is writing at full pace.
        const auto give_up = std::chrono::steady_clock::now() + 10s;
        int seen = version;
        while (seen == version && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(200us);
            seen = Version(db, kSize);
            ASSERT_NE(-1, seen) << "a torn file while the writer ran, round " << round;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 4000));
        writer.Kill();

        version = Version(db, kSize);
        ASSERT_NE(-1, version) << "a torn file after the kill, round " << round;
        for (const std::string& name : Listing(dir)) {
            EXPECT_TRUE(name == "db.edb" || std::regex_match(name, leftover)) << name;
        }
    }
    // Age whatever is left, as if the crash were long ago; the next write clears it away.
    const auto long_ago = fs::file_time_type::clock::now() - 1h;
    for (const std::string& name : Listing(dir)) {
        if (name != "db.edb") {
            fs::last_write_time(dir / name, long_ago);
        }
    }
    ASSERT_TRUE(AtomicReplace(db, Filled(10, 7)));
    EXPECT_EQ(std::vector<std::string>{"db.edb"}, Listing(dir));
}

// On a disk, where most of a replacement's time is its flush, and on a tmpfs (when one can be
// mounted), where most of it is the copying of the bytes.
TEST(FileIoPosix, KilledWriterLeavesAWholeFileAndRemovableLeftovers) {
    TempDir disk;
    ASSERT_FALSE(disk.path().empty());
    KillWritersIn(disk.path());
    TempDir memory;
    ASSERT_FALSE(memory.path().empty());
    if (memory.MountTmpfs("16m").empty()) {
        KillWritersIn(memory.path());
    }
}

// A database reached through a symbolic link is replaced where it lives; the link stays a link,
// and the file keeps its permissions.
TEST(FileIoPosix, FollowsSymbolicLinksAndKeepsTheMode) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path real_dir = dir.path() / "real";
    fs::create_directory(real_dir);
    const fs::path real = real_dir / "db.edb";
    const fs::path link = dir.path() / "link.edb";
    ASSERT_TRUE(AtomicReplace(real, Filled(10, 1)));
    ::chmod(real.c_str(), 0640);
    fs::create_symlink(real, link);

    ASSERT_TRUE(AtomicReplace(link, Filled(20, 2)));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Filled(20, 2), Read(real));
    struct stat st {};
    ASSERT_EQ(0, ::stat(real.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777);

    // The link and the file it names share one lock.
    auto held = AcquireWriteLock(link, 0);
    ASSERT_NE(nullptr, held);
    std::thread([&] { EXPECT_EQ(nullptr, AcquireWriteLock(real, 20)); }).join();
}

}  // namespace
}  // namespace ob::fileio
