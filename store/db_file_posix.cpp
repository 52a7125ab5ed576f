// Reading the start of a database file on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "store/db_format.h"

namespace ob::db {

bool ReadFileHead(const std::filesystem::path& path, std::size_t n, std::vector<std::uint8_t>& out,
                  std::uint64_t& file_size) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        file_size = static_cast<std::uint64_t>(st.st_size);
        out.resize(n);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::read(fd, out.data() + got, n - got);
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r < 0) {
                ok = false;
                break;
            }
            if (r == 0) {
                break;
            }
            got += static_cast<std::size_t>(r);
        }
        out.resize(ok ? got : 0);
    }
    ::close(fd);
    return ok;
}

}  // namespace ob::db
