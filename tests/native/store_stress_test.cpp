// Many threads calling the store at once (run under ThreadSanitizer too): every operation stays
// whole, and the table stays in order on disk and in memory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/fatal.h"
#include "store/account_database.h"
#include "store/db_format.h"

namespace ob {
namespace {

namespace fs = std::filesystem;

struct NoDatabase : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void ThrowFatal(int, std::string_view m) {
    throw NoDatabase(std::string(m));
}

// Additions carry growing numbers, so any table that keeps its order has growing URLs.
long long Number(std::string_view url) {
    return url.empty() ? -1 : std::stoll(std::string(url.substr(1)));
}

// The empty text (the end position) or prefix followed by digits.
bool WellFormed(std::string_view v, std::string_view prefix) {
    if (v.empty()) {
        return true;
    }
    if (v.substr(0, prefix.size()) != prefix || v.size() == prefix.size()) {
        return false;
    }
    return v.substr(prefix.size()).find_first_not_of("0123456789") == std::string_view::npos;
}

TEST(StoreStress, ManyThreadsAtOnce) {
    const fs::path dir = fs::temp_directory_path() / ("store-stress-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path path = dir / "stress.edb";
    {
        const std::vector<std::uint8_t> img = *db::NewDatabaseImage(db::AccountFields());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(img.data()),
                   static_cast<std::streamsize>(img.size()));
    }
    SetKdfIterationsForTesting(64);
    const FatalErrorHandler old = SetFatalErrorHandler(ThrowFatal);
    ASSERT_EQ(OpenDatabase(path), 1);
    ASSERT_EQ(SetDatabasePassword("stress"), 1);

    std::atomic<bool> stop{false};
    std::atomic<long long> next_number{0};
    std::atomic<int> adds{0}, failed_adds{0}, walks{0}, disorder{0}, reopen_cycles{0};
    std::vector<std::thread> threads;
    // Rebuild-like walks: every read is whole, and records come in growing order.
    for (int r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            while (!stop) {
                try {
                    GoToFirstRecord();
                    const int n = GetRecordCount();
                    for (int i = 0; i < n; ++i) {
                        // Another thread may move the shared position between two calls,
                        // but every single value must be one that was written, whole.
                        if (!WellFormed(ReadField("网址").text.view(), "n") ||
                            !WellFormed(ReadField("帐号").text.view(), "acct")) {
                            ++disorder;
                        }
                        SkipRecord();
                    }
                    ++walks;
                } catch (const NoDatabase&) {
                }
            }
        });
    }
    threads.emplace_back([&] {  // the adder: fails only while the database is closed
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (adds < 150 && std::chrono::steady_clock::now() < give_up) {
            const long long k = next_number++;
            const std::string s = std::to_string(k);
            const FieldValue v[] = {FieldValue::OfText("n" + s), FieldValue::OfText("acct" + s)};
            if (AddRecord(v) == 1) {
                ++adds;
            } else {
                ++failed_adds;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    });
    threads.emplace_back([&] {  // deletions as the menu makes them
        std::mt19937 rng(7);
        while (!stop) {
            GoToRecord(static_cast<std::int32_t>(rng() % 50));
            DeleteCurrentRecord();
            if (rng() % 3 == 0) {
                PurgeDeletedRecords();
            }
            std::this_thread::yield();
        }
    });
    threads.emplace_back([&] {  // lookers
        while (!stop) {
            IsDatabaseEncrypted(path);
            const std::uint64_t id = CurrentRecordId();
            if (id != 0) {
                GoToRecordId(id);
            }
            std::this_thread::yield();
        }
    });
    threads.emplace_back([&] {  // the main window closing and opening again now and then
        for (int i = 0; i < 20 && !stop; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            CloseDatabase();
            if (OpenDatabase(path, "stress") == 1) {
                ++reopen_cycles;
            }
        }
    });
    threads[3].join();  // the adder ends the run
    stop = true;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        if (i != 3) {
            threads[i].join();
        }
    }
    if (GoToRecord(1) == 0) {  // the last reopening may have left it closed
        ASSERT_EQ(OpenDatabase(path, "stress"), 1);
    }
    EXPECT_EQ(disorder, 0);
    EXPECT_GT(walks, 0);
    // Memory and file agree, and the order of additions is kept.
    const int in_memory = GetRecordCount();
    CloseDatabase();
    ASSERT_EQ(OpenDatabase(path, "stress"), 1);
    ASSERT_EQ(GetRecordCount(), in_memory);
    long long previous = -1;
    GoToFirstRecord();
    for (int i = 0; i < in_memory; ++i, SkipRecord()) {
        const long long k = Number(ReadField("网址").text.view());
        EXPECT_GT(k, previous);
        previous = k;
    }
    EXPECT_EQ(adds, 150);
    std::printf(
        "[ stress ] %d additions (%d refused while closed), %d walks, %d reopenings, "
        "%d records left\n",
        adds.load(), failed_adds.load(), walks.load(), reopen_cycles.load(), in_memory);
    CloseDatabase();
    SetFatalErrorHandler(old);
    SetKdfIterationsForTesting(0);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace ob
