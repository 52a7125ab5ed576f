// Whole reads, atomic replacement under injected failures, leftovers, and the writers' lock across
// threads and processes (both builds).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "store/crypto.h"
#include "store/file_io.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace ob::fileio {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes Pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return b;
}

Bytes Read(const fs::path& p) {
    Bytes out;
    EXPECT_EQ(ReadResult::Ok, ReadWholeFile(p, out)) << p;
    return out;
}

void WriteRaw(const fs::path& p, const Bytes& data) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(f.good()) << p;
}

// A fresh folder whose name is not plain ASCII (so the wide-character paths are exercised),
// holding the database file name the program uses.
class FileIoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::uint8_t raw[6];
        ASSERT_TRUE(crypto::RandomBytes(raw));
        std::string tag;
        for (std::uint8_t b : raw) {
            tag += "0123456789abcdef"[b >> 4];
            tag += "0123456789abcdef"[b & 15];
        }
        dir_ = fs::temp_directory_path() /
               fs::path(u8"文件 测试-" + std::u8string(tag.begin(), tag.end()));
        ASSERT_TRUE(fs::create_directories(dir_));
        db_ = dir_ / fs::path(u8"数据库.edb");
    }
    void TearDown() override {
        SetAtomicReplaceFailureForTesting(0);
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir_, ec)) {
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(dir_, ec);
    }
    // The names in the folder, sorted.
    std::vector<fs::path> Listing() const {
        std::vector<fs::path> names;
        for (const auto& e : fs::directory_iterator(dir_)) {
            names.push_back(e.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<fs::path> JustTheDatabase() const { return {db_.filename()}; }

    fs::path dir_, db_;
};

TEST_F(FileIoTest, ReadWholeFileResults) {
    Bytes out = {1, 2, 3};
    EXPECT_EQ(ReadResult::NotFound, ReadWholeFile(db_, out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadResult::NotFound, ReadWholeFile(dir_ / "no such folder" / "x.edb", out));
    EXPECT_EQ(ReadResult::Failed, ReadWholeFile(dir_, out));

    WriteRaw(db_, {});
    out = {1};
    EXPECT_EQ(ReadResult::Ok, ReadWholeFile(db_, out));
    EXPECT_TRUE(out.empty());

    const Bytes big = Pattern(300'001, 5);  // several read chunks, zero bytes included
    WriteRaw(db_, big);
    EXPECT_EQ(big, Read(db_));
}

TEST_F(FileIoTest, AtomicReplaceCreatesAndReplacesLeavingNothingElse) {
    const Bytes first = Pattern(1000, 1);
    ASSERT_TRUE(AtomicReplace(db_, first));
    EXPECT_EQ(first, Read(db_));
    const Bytes second = Pattern(2'000'003, 9);
    ASSERT_TRUE(AtomicReplace(db_, second));
    EXPECT_EQ(second, Read(db_));
    ASSERT_TRUE(AtomicReplace(db_, {}));
    EXPECT_TRUE(Read(db_).empty());
    EXPECT_EQ(JustTheDatabase(), Listing());
}

// A failure at any step leaves the old file byte for byte, or no file where there was none, and
// no temporary file; the next call without the failure succeeds.
TEST_F(FileIoTest, AtomicReplaceFailureAtEveryStepChangesNothing) {
    const Bytes old = Pattern(70'000, 3);
    const Bytes fresh = Pattern(90'000, 4);
    for (int step = 1; step <= 6; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        fs::remove(db_);
        SetAtomicReplaceFailureForTesting(step);
        EXPECT_FALSE(AtomicReplace(db_, fresh));
        EXPECT_TRUE(Listing().empty());

        WriteRaw(db_, old);
        EXPECT_FALSE(AtomicReplace(db_, fresh));
        EXPECT_EQ(old, Read(db_));
        EXPECT_EQ(JustTheDatabase(), Listing());
    }
    SetAtomicReplaceFailureForTesting(0);
    EXPECT_TRUE(AtomicReplace(db_, fresh));
    EXPECT_EQ(fresh, Read(db_));
    EXPECT_EQ(JustTheDatabase(), Listing());
}

// A folder deeper than MAX_PATH works like any other.
TEST_F(FileIoTest, DeepFolder) {
    fs::path deep = dir_;
    while (deep.native().size() < 300) {
        deep /= fs::path(u8"很长的文件夹名字-abcdefghij");
    }
#if defined(_WIN32)
    ASSERT_TRUE(fs::create_directories(fs::path(L"\\\\?\\" + deep.wstring())));
#else
    ASSERT_TRUE(fs::create_directories(deep));
#endif
    const fs::path db = deep / db_.filename();
    const Bytes data = Pattern(5000, 8);
    ASSERT_TRUE(AtomicReplace(db, data));
    ASSERT_TRUE(AtomicReplace(db, data));
    EXPECT_EQ(data, Read(db));
    EXPECT_NE(nullptr, AcquireWriteLock(db, 0));
    SetAtomicReplaceFailureForTesting(5);
    EXPECT_FALSE(AtomicReplace(db, Pattern(10, 1)));
    EXPECT_EQ(data, Read(db));
#if defined(_WIN32)
    // The fixture's clean-up does not reach that deep; the chain holds only the one file.
    EXPECT_TRUE(DeleteFileW((L"\\\\?\\" + db.wstring()).c_str()));
    for (fs::path p = deep; p != dir_; p = p.parent_path()) {
        EXPECT_TRUE(RemoveDirectoryW((L"\\\\?\\" + p.wstring()).c_str())) << GetLastError();
    }
#endif
}

TEST_F(FileIoTest, AtomicReplaceRefusesReadOnlyFileDirectoryAndMissingFolder) {
    const Bytes old = Pattern(500, 2);
    WriteRaw(db_, old);
    fs::permissions(db_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(AtomicReplace(db_, Pattern(10, 1)));
    EXPECT_EQ(old, Read(db_));
    EXPECT_EQ(JustTheDatabase(), Listing());
    fs::permissions(db_, fs::perms::owner_write, fs::perm_options::add);

    const fs::path sub = dir_ / "a folder";
    fs::create_directory(sub);
    EXPECT_FALSE(AtomicReplace(sub, Pattern(10, 1)));
    EXPECT_TRUE(fs::is_directory(sub));
    EXPECT_FALSE(AtomicReplace(dir_ / "missing" / "x.edb", Pattern(10, 1)));
    EXPECT_FALSE(AtomicReplace(fs::path(), Pattern(10, 1)));
}

// What a killed writer left (a temporary file of our pattern) goes once it is old; a young one
// may belong to a writer still at work, and files of other names are never touched.
TEST_F(FileIoTest, AtomicReplaceRemovesOnlyOldLeftoversOfItsOwnFile) {
    const fs::path name = db_.filename();
    auto beside = [&](const std::string& suffix) {
        return dir_ / fs::path(name.u8string() + std::u8string(suffix.begin(), suffix.end()));
    };
    const fs::path stale = beside(".~0123456789abcdef.tmp");
    const fs::path young = beside(".~fedcba9876543210.tmp");
    const fs::path not_ours = beside(".~0123456789abcdeg.tmp");
    const fs::path other_file = dir_ / "other.edb.~0123456789abcdef.tmp";
    for (const fs::path& p : {stale, young, not_ours, other_file}) {
        WriteRaw(p, Pattern(10, 1));
    }
    const auto long_ago = fs::file_time_type::clock::now() - 1h;
    for (const fs::path& p : {stale, not_ours, other_file}) {
        fs::last_write_time(p, long_ago);
    }
    ASSERT_TRUE(AtomicReplace(db_, Pattern(10, 2)));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_TRUE(fs::exists(not_ours));
    EXPECT_TRUE(fs::exists(other_file));
}

TEST_F(FileIoTest, LockExcludesOtherThreadsAndIsNotRecursive) {
    auto held = AcquireWriteLock(db_, 0);
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(nullptr, AcquireWriteLock(db_, 0)) << "the lock let its holder in twice";

    std::atomic<bool> waiting{false}, got{false};
    std::thread other([&] {
        EXPECT_EQ(nullptr, AcquireWriteLock(db_, 30));
        waiting = true;
        auto mine = AcquireWriteLock(db_, 10'000);  // granted once the holder lets go
        got = mine != nullptr;
    });
    while (!waiting) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(got);
    held.reset();
    other.join();
    EXPECT_TRUE(got);
    EXPECT_NE(nullptr, AcquireWriteLock(db_, 0));
}

TEST_F(FileIoTest, LockHoldsAcrossReplacementsAndPathSpellings) {
    WriteRaw(db_, Pattern(100, 1));
    auto held = AcquireWriteLock(db_, 0);
    ASSERT_NE(nullptr, held);
    ASSERT_TRUE(AtomicReplace(db_, Pattern(200, 2)));
    ASSERT_TRUE(AtomicReplace(db_, Pattern(300, 3)));
    std::vector<fs::path> spellings = {db_, dir_ / "." / db_.filename(),
                                       dir_ / "sub" / ".." / db_.filename()};
    fs::create_directory(dir_ / "sub");
#if defined(_WIN32)
    std::wstring upper = db_.wstring();
    CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    spellings.push_back(fs::path(upper));
#endif
    for (const fs::path& p : spellings) {
        std::thread([&] { EXPECT_EQ(nullptr, AcquireWriteLock(p, 20)) << p; }).join();
    }
    // A different file has a lock of its own.
    std::thread([&] { EXPECT_NE(nullptr, AcquireWriteLock(dir_ / "sub" / "x.edb", 0)); }).join();
    EXPECT_EQ(nullptr, AcquireWriteLock(dir_ / "missing" / "x.edb", 0));
}

// ---- the lock across processes: this test program runs itself as the other process ----

constexpr const char* kChildPathVar = "OB_FILEIO_CHILD_LOCK";
constexpr const char* kChildModeVar = "OB_FILEIO_CHILD_MODE";
constexpr int kChildGotLock = 10;
constexpr int kChildNoLock = 20;

// Run only as a child: "try" takes the lock with a short time-out and reports by exit code;
// "hold" takes it, announces that with a marker file and waits to be killed.
TEST(FileIoChild, DISABLED_LockHelper) {
    const char* mode = std::getenv(kChildModeVar);
#if defined(_WIN32)
    // The path travels in UTF-16, untouched by the ANSI code page.
    const wchar_t* path = _wgetenv(L"OB_FILEIO_CHILD_LOCK");
#else
    const char* path = std::getenv(kChildPathVar);
#endif
    if (path == nullptr || mode == nullptr) {
        GTEST_SKIP() << "only run as a child process";
    }
    const fs::path db(path);
    auto lock = AcquireWriteLock(db, std::string(mode) == "try" ? 100 : 5000);
    if (std::string(mode) == "hold" && lock != nullptr) {
        WriteRaw(fs::path(db).concat(".held"), {1});
        std::this_thread::sleep_for(60s);
    }
    std::fflush(stdout);
    std::_Exit(lock != nullptr ? kChildGotLock : kChildNoLock);
}

class Child {
  public:
    Child(const fs::path& db, const char* mode) {
#if defined(_WIN32)
        _wputenv_s(L"OB_FILEIO_CHILD_LOCK", db.c_str());
        _putenv_s(kChildModeVar, mode);
        wchar_t exe[MAX_PATH * 4];
        GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
        std::wstring cmd = L"\"" + std::wstring(exe) +
                           L"\" --gtest_also_run_disabled_tests --gtest_brief=1 "
                           L"--gtest_filter=FileIoChild.DISABLED_LockHelper";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        started_ = CreateProcessW(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &si, &pi) != 0;
        if (started_) {
            CloseHandle(pi.hThread);
            process_ = pi.hProcess;
        }
#else
        setenv(kChildPathVar, db.c_str(), 1);
        setenv(kChildModeVar, mode, 1);
        char exe[] = "/proc/self/exe";
        char a1[] = "--gtest_also_run_disabled_tests";
        char a2[] = "--gtest_brief=1";
        char a3[] = "--gtest_filter=FileIoChild.DISABLED_LockHelper";
        char* argv[] = {exe, a1, a2, a3, nullptr};
        started_ = posix_spawn(&pid_, exe, nullptr, nullptr, argv, environ) == 0;
#endif
    }
    ~Child() {
        Kill();
        Wait();
    }
    bool started() const {
        return started_;
    }
    void Kill() {
        if (!started_ || done_) {
            return;
        }
#if defined(_WIN32)
        TerminateProcess(process_, 99);
#else
        kill(pid_, SIGKILL);
#endif
    }
    int Wait() {
        if (!started_ || done_) {
            return code_;
        }
        done_ = true;
#if defined(_WIN32)
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        CloseHandle(process_);
        code_ = static_cast<int>(code);
#else
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        return code_;
    }

  private:
    bool started_ = false;
    bool done_ = false;
    int code_ = -1;
#if defined(_WIN32)
    HANDLE process_ = nullptr;
#else
    pid_t pid_ = -1;
#endif
};

int TryInChild(const fs::path& db) {
    Child c(db, "try");
    EXPECT_TRUE(c.started());
    return c.Wait();
}

TEST_F(FileIoTest, LockExcludesAnotherProcessAlsoAfterReplacement) {
    WriteRaw(db_, Pattern(100, 1));
    {
        auto held = AcquireWriteLock(db_, 0);
        ASSERT_NE(nullptr, held);
        EXPECT_EQ(kChildNoLock, TryInChild(db_));
        ASSERT_TRUE(AtomicReplace(db_, Pattern(200, 2)));
        EXPECT_EQ(kChildNoLock, TryInChild(db_));
    }
    EXPECT_EQ(kChildGotLock, TryInChild(db_));
}

// A holder that is killed gives the lock up; the waiting process gets it.
TEST_F(FileIoTest, LockOfAKilledProcessIsReleased) {
    Child holder(db_, "hold");
    ASSERT_TRUE(holder.started());
    const fs::path marker = fs::path(db_).concat(".held");
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(fs::exists(marker)) << "the child never took the lock";
    EXPECT_EQ(nullptr, AcquireWriteLock(db_, 50));
    holder.Kill();
    EXPECT_NE(nullptr, AcquireWriteLock(db_, 10'000));
}

}  // namespace
}  // namespace ob::fileio
