// The process's one platform instance.
#include "platform/platform.h"

#include <atomic>
#include <cstdlib>

namespace ob {
namespace {
std::atomic<Platform*> g_platform{nullptr};
}

Platform& ThePlatform() {
    Platform* p = g_platform.load(std::memory_order_acquire);
    if (p == nullptr) {
        std::abort();  // a program error: the front end sets the platform before anything runs
    }
    return *p;
}

void SetPlatform(Platform* p) noexcept { g_platform.store(p, std::memory_order_release); }

}  // namespace ob
