// Benchmark of the account list's rebuild: from the request to all rows available, for 10k and
// 100k records, with the time to the first rows and the user-interface thread's share.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "app/program.h"
#include "base/sys.h"
#include "platform/platform.h"
#include "platform/window_template.h"
#include "store/account_database.h"
#include "store/db_format.h"
#include "store/field_cipher.h"
#include "ui/account_list.h"

namespace ob {
namespace {

using Clock = std::chrono::steady_clock;

// CPU time of the calling thread: what the user-interface thread spends, undisturbed by other
// processes on a busy machine.
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct UiWork {
    double cpu_seconds = 0;      // all hand-overs of one rebuild
    double longest_seconds = 0;  // the longest single hand-over
};
constexpr std::string_view kPassword = "bench-password";

// Just enough platform for a rebuild: a user-interface work queue that the benchmark's thread
// runs, which times every piece of work it carries out, and real detached threads.
class BenchPlatform final : public Platform {
  public:
    void Setup() override {}
    int MessageBox(std::string_view, std::string_view, std::uint32_t, WindowRef) override {
        return 1;
    }
    int InputBox(std::string_view, std::string_view, std::string_view, SecureString&,
                 int) override {
        return 0;
    }
    std::optional<SecureString> PasswordPrompt(std::string_view) override { return {}; }
    int ShowModal(WindowKind) override { return 0; }
    int ShowModeless(WindowKind) override { return 0; }
    void RequestDestroy(WindowRef) override {}
    bool AnyWindowExists() override { return true; }
    std::optional<SecureString> GetControlText(WindowRef, std::string_view) override { return {}; }
    void SetControlText(WindowRef, std::string_view, std::string_view) override {}
    void RunMessageLoop() override {}
    void PostQuit() override {}
    [[noreturn]] void ExitProcess(int code) override { std::exit(code); }
    void ListSetRowCount(WindowRef, std::string_view, int rows) override {
        if (rows > 0 && first_rows_at_ == Clock::time_point{}) {
            first_rows_at_ = Clock::now();
        }
        rows_ = rows;
    }
    int ListSelectedRow(WindowRef, std::string_view) override { return -1; }
    int PopupMenu(WindowRef, std::span<const std::string_view>) override { return 0; }
    void SetClipboardText(std::string_view) override {}
    void ShellOpen(std::string_view) override {}

    bool StartThread(std::function<void()> fn) override {
        {
            std::lock_guard lock(mu_);
            ++running_;
        }
        std::thread([this, fn = std::move(fn)] {
            fn();
            std::lock_guard lock(mu_);
            --running_;
            cv_.notify_all();
        }).detach();
        return true;
    }

    bool RunOnUiThread(std::function<void()> fn) override {
        if (std::this_thread::get_id() == ui_thread_) {
            fn();
            return true;
        }
        auto done = std::make_shared<bool>(false);
        std::unique_lock lock(mu_);
        queue_.push_back({std::move(fn), done});
        cv_.notify_all();
        cv_.wait(lock, [&] { return *done; });
        return true;
    }

    // Runs the queued work until no rebuild thread is left; returns the CPU time spent in it.
    UiWork PumpUntilIdle() {
        UiWork busy;
        std::unique_lock lock(mu_);
        for (;;) {
            cv_.wait(lock, [&] { return !queue_.empty() || running_ == 0; });
            if (queue_.empty()) {
                return busy;
            }
            Work w = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            const double t0 = ThreadCpuSeconds();
            w.fn();
            const double spent = ThreadCpuSeconds() - t0;
            busy.cpu_seconds += spent;
            busy.longest_seconds = std::max(busy.longest_seconds, spent);
            lock.lock();
            *w.done = true;
            cv_.notify_all();
        }
    }

    void ResetFirstRows() { first_rows_at_ = {}; }
    Clock::time_point FirstRowsAt() const { return first_rows_at_; }
    int Rows() const { return rows_; }

  private:
    struct Work {
        std::function<void()> fn;
        std::shared_ptr<bool> done;
    };
    const std::thread::id ui_thread_ = std::this_thread::get_id();
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Work> queue_;
    int running_ = 0;
    Clock::time_point first_rows_at_{};
    int rows_ = 0;
};

// A database of n listed records in a fresh temporary program directory.
std::filesystem::path WriteDatabase(int n) {
    std::random_device rd;
    const auto dir =
        std::filesystem::temp_directory_path() / ("ob-refresh-bench-" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    SetProgramDirectoryForTesting(dir);

    // A few dozen distinct accounts, repeated: the cipher's cost per value does not depend on
    // which value it is.
    std::vector<std::vector<FieldValue>> distinct;
    for (int i = 0; i < 64; ++i) {
        const std::string s = std::to_string(i);
        distinct.push_back(
            {FieldValue::OfText(EncryptField("https://site" + s + ".example/login", kPassword)),
             FieldValue::OfText(EncryptField("user" + s + "@mail.example", kPassword)),
             FieldValue::OfText(EncryptField("P@ss-" + s + "-word!", kPassword)),
             FieldValue::OfText(EncryptField("备注 " + s, kPassword))});
    }
    std::optional<db::Table> table = db::Table::Create(db::AccountFields());
    for (int i = 0; i < n; ++i) {
        table->Append(distinct[static_cast<std::size_t>(i) % distinct.size()]);
    }
    const auto image = db::EncodeFile(*table, db::Header{}, nullptr);
    const auto path = DatabaseFilePath();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image->data()),
               static_cast<std::streamsize>(image->size()));
    SetKdfIterationsForTesting(1000);
    OpenDatabase(path);
    SetDatabasePassword(kPassword);
    CloseDatabase();
    SetKdfIterationsForTesting(0);
    return dir;
}

void BM_RefreshAccountList(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    BenchPlatform platform;
    SetPlatform(&platform);
    const auto dir = WriteDatabase(n);
    SetSignInPassword(kPassword);
    constexpr WindowRef kWindow = 1;
    const WindowHandlers& main = GetWindowClass(WindowKind::Main).handlers;
    main.created(kWindow);  // opens the database and starts the first rebuild
    platform.PumpUntilIdle();
    if (platform.Rows() != n) {
        state.SkipWithError("the first rebuild did not list every record");
    }

    double ui_seconds = 0, longest_seconds = 0, first_rows_seconds = 0, total_seconds = 0;
    for (auto _ : state) {
        platform.ResetFirstRows();
        const auto t0 = Clock::now();
        StartAccountListRefresh();
        const UiWork busy = platform.PumpUntilIdle();
        const auto t1 = Clock::now();
        if (platform.Rows() != n || AccountListRowCount() != n) {
            state.SkipWithError("a rebuild did not list every record");
            break;
        }
        total_seconds += std::chrono::duration<double>(t1 - t0).count();
        ui_seconds += busy.cpu_seconds;
        longest_seconds = std::max(longest_seconds, busy.longest_seconds);
        first_rows_seconds += std::chrono::duration<double>(platform.FirstRowsAt() - t0).count();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["first_rows_ms"] = 1000 * first_rows_seconds / iterations;
    state.counters["ui_cpu_ms"] = 1000 * ui_seconds / iterations;
    state.counters["ui_share_pct"] = total_seconds > 0 ? 100 * ui_seconds / total_seconds : 0;
    state.counters["longest_handover_ms"] = 1000 * longest_seconds;
    state.SetItemsProcessed(state.iterations() * n);

    main.destroying(kWindow);  // closes the database
    ReleaseSignInPassword();
    SetProgramDirectoryForTesting({});
    std::filesystem::remove_all(dir);
    SetPlatform(nullptr);
}
BENCHMARK(BM_RefreshAccountList)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace ob
