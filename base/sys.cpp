// Clock and program-location services for Windows and POSIX.
#include "base/sys.h"

#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

namespace ob {
namespace {
std::mutex g_dir_mutex;
std::filesystem::path g_dir_override;
}  // namespace

std::uint32_t TickCountMs() noexcept {
#if defined(_WIN32)
    return static_cast<std::uint32_t>(GetTickCount());
#else
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
#endif
}

std::filesystem::path ProgramDirectory() {
    {
        std::lock_guard lock(g_dir_mutex);
        if (!g_dir_override.empty()) {
            return g_dir_override;
        }
    }
#if defined(_WIN32)
    // Long paths: grow the buffer until the whole name fits.
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return {};
        }
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    std::filesystem::path exe(buf);
#else
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
#endif
    std::filesystem::path dir = exe.parent_path();
    // "C:\" keeps its separator as a path; the text form the program uses is "C:".
    return dir;
}

void SetProgramDirectoryForTesting(const std::filesystem::path& dir) {
    std::lock_guard lock(g_dir_mutex);
    g_dir_override = dir;
}

}  // namespace ob
