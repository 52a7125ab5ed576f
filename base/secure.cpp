// The memory wipe behind SecureString: the platform's own non-elidable zeroing where there is one.
#include "base/secure.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <string.h>
#endif

namespace ob {

void SecureWipe(void* p, std::size_t n) noexcept {
    if (p == nullptr || n == 0) {
        return;
    }
#if defined(_WIN32)
    SecureZeroMemory(p, n);
#else
    explicit_bzero(p, n);
#endif
}

}  // namespace ob
