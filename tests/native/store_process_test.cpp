// The store across processes: a writer killed at random moments, two writers sharing one file,
// and a write that meets a full disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "store/account_database.h"
#include "store/db_format.h"
#include "tests/native/store_steps.h"

extern char** environ;

namespace ob {
namespace {

namespace fs = std::filesystem;

struct Child {
    pid_t pid = -1;
    int out = -1;  // the child's stdout
};

Child Spawn(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Child c;
    if (posix_spawn(&c.pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
        ADD_FAILURE() << "posix_spawn " << argv[0];
        c.pid = -1;
    }
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    c.out = fds[0];
    return c;
}

std::string ReadAll(int fd) {
    std::string s;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            s.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fd);
    return s;
}

// Reads the child's output up to its line "R 0" (or its end).
std::string ReadUntilReady(int fd) {
    std::string s;
    char ch = 0;
    while (s.find("R 0\n") == std::string::npos) {
        const ssize_t n = read(fd, &ch, 1);
        if (n == 1) {
            s.push_back(ch);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return s;
}

int WaitStatus(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

class StoreProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("store-process-" + std::to_string(getpid()) + "-" +
                                            std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        path_ = dir_ / fs::path(u8"数据库.edb");
        SetKdfIterationsForTesting(64);
    }
    void TearDown() override {
        CloseDatabase();
        SetKdfIterationsForTesting(0);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // A protected database with records "u1" ... "un".
    void Create(std::string_view password, int n) {
        std::ofstream out(path_, std::ios::binary);
        const std::vector<std::uint8_t> img = *db::NewDatabaseImage(db::AccountFields());
        out.write(reinterpret_cast<const char*>(img.data()),
                  static_cast<std::streamsize>(img.size()));
        out.close();
        ASSERT_EQ(OpenDatabase(path_), 1);
        for (int i = 1; i <= n; ++i) {
            const FieldValue v[] = {FieldValue::OfText("u" + std::to_string(i))};
            ASSERT_EQ(AddRecord(v), 1);
        }
        ASSERT_EQ(SetDatabasePassword(password), 1);
        CloseDatabase();
    }
    fs::path dir_, path_;
};

// After every SIGKILL the file opens and holds the state before or after the write under way.
TEST_F(StoreProcessTest, KilledWriterLeavesTheOldOrTheNewFile) {
    Create("pw-a", 0);
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> delay_us(0, 40000);
    steps::Model acked;  // the file's content as the parent knows it
    long long next = 0;
    int kills = 0, in_flight = 0, landed = 0;
    for (int round = 0; round < 220; ++round) {
        Child c =
            Spawn({OB_STORE_CHILD, "steps", path_.string(), acked.password, std::to_string(next)});
        ASSERT_GT(c.pid, 0);
        // Mostly once the writer is writing (its start takes long under sanitizers), sometimes
        // while it starts.
        std::string out = round % 10 == 0 ? std::string() : ReadUntilReady(c.out);
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(rng)));
        kill(c.pid, SIGKILL);
        out += ReadAll(c.out);
        const int status = WaitStatus(c.pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the writer ended on its own: " << status << "\n"
            << out;
        ++kills;

        long long last_begun = next - 1, last_ended = next - 1;
        std::istringstream lines(out);
        std::string tag;
        long long s = 0;
        while (lines >> tag >> s) {
            if (tag != "R") {
                (tag == "B" ? last_begun : last_ended) = s;
            }
        }
        steps::Model done = acked;
        for (long long k = next; k <= last_ended; ++k) {
            done = steps::Apply(done, k);
        }
        const std::optional<steps::Model> file = steps::ReadModel(path_);
        ASSERT_TRUE(file) << "damaged after kill " << kills;
        if (last_begun > last_ended) {
            ++in_flight;
            const steps::Model after = steps::Apply(done, last_begun);
            ASSERT_TRUE(*file == done || *file == after)
                << "kill " << kills << " during step " << last_begun
                << "\nfile:   " << steps::Describe(*file) << "\nbefore: " << steps::Describe(done)
                << "\nafter:  " << steps::Describe(after);
            if (*file == after && !(after == done)) {
                ++landed;
                done = after;
                last_ended = last_begun;
            }
        } else {
            ASSERT_TRUE(*file == done) << steps::Describe(*file) << " / " << steps::Describe(done);
        }
        acked = done;
        next = last_ended + 1;
        // And the store itself opens it.
        ASSERT_EQ(OpenDatabase(path_, acked.password), 1) << "kill " << kills;
        ASSERT_EQ(GetRecordCount(), static_cast<int>(acked.records.size()));
        CloseDatabase();
    }
    EXPECT_GE(kills, 200);
    EXPECT_GT(next, 100) << "the writer hardly wrote";
    std::printf("[ crash ] %d kills, %d during a write (%d of them landed), %lld steps done\n",
                kills, in_flight, landed, next);
}

// Two processes adding 200 records each to one file: all 400 are there, each in its order.
TEST_F(StoreProcessTest, TwoWritersLoseNothing) {
    Create("shared", 0);
    Child a = Spawn({OB_STORE_CHILD, "add", path_.string(), "shared", "200", "A"});
    Child b = Spawn({OB_STORE_CHILD, "add", path_.string(), "shared", "200", "B"});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ofstream(path_.string() + ".go").put('1');
    const std::string out_a = ReadAll(a.out), out_b = ReadAll(b.out);
    const int sa = WaitStatus(a.pid), sb = WaitStatus(b.pid);
    ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0) << sa << out_a;
    ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0) << sb << out_b;

    ASSERT_EQ(OpenDatabase(path_, "shared"), 1);
    ASSERT_EQ(GetRecordCount(), 400);
    int next_a = 0, next_b = 0, switches = 0;
    char previous = 0;
    GoToFirstRecord();
    for (int i = 0; i < 400; ++i, SkipRecord()) {
        const std::string url(ReadField("网址").text.view());
        ASSERT_FALSE(url.empty());
        int& next = url[0] == 'A' ? next_a : next_b;
        EXPECT_EQ(url.substr(1), std::to_string(next)) << "record " << i + 1;
        ++next;
        switches += previous != 0 && previous != url[0];
        previous = url[0];
    }
    EXPECT_EQ(next_a, 200);
    EXPECT_EQ(next_b, 200);
    EXPECT_GT(switches, 1) << "the two writers did not interleave";
    std::printf("[ two writers ] 400 records, %d switches between the writers\n", switches);
}

// A write that meets the file size limit (as a full disk would) fails and changes nothing.
TEST_F(StoreProcessTest, FullDiskFailsTheWriteAndKeepsTheFile) {
    Create("limited", 3);
    const std::uintmax_t size = fs::file_size(path_);
    Child c =
        Spawn({OB_STORE_CHILD, "limited", path_.string(), "limited", std::to_string(size + 4096)});
    const std::string out = ReadAll(c.out);
    const int status = WaitStatus(c.pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_EQ(WEXITSTATUS(status), 0) << out;
    // Only the small record reached the file, and no temporary file was left behind.
    ASSERT_EQ(OpenDatabase(path_, "limited"), 1);
    ASSERT_EQ(GetRecordCount(), 4);
    ASSERT_EQ(GoToRecord(4), 1);
    EXPECT_EQ(ReadField("网址").text.view(), "small");
    for (const fs::directory_entry& e : fs::directory_iterator(dir_)) {
        if (e.path() != path_) {
            EXPECT_LT(e.file_size(), size) << "left behind: " << e.path();
        }
    }
}

}  // namespace
}  // namespace ob
