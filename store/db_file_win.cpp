// Reading the start of a database file on Windows, shared fully so that writers can replace it.
#include <windows.h>

#include "store/db_format.h"

namespace ob::db {

bool ReadFileHead(const std::filesystem::path& path, std::size_t n, std::vector<std::uint8_t>& out,
                  std::uint64_t& file_size) {
    out.clear();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size) != 0;
    if (ok) {
        file_size = static_cast<std::uint64_t>(size.QuadPart);
        out.resize(n);
        std::size_t got = 0;
        while (got < n) {
            DWORD r = 0;
            if (!ReadFile(h, out.data() + got, static_cast<DWORD>(n - got), &r, nullptr)) {
                ok = false;
                break;
            }
            if (r == 0) {
                break;
            }
            got += r;
        }
        out.resize(ok ? got : 0);
    }
    CloseHandle(h);
    return ok;
}

}  // namespace ob::db
