// Dispatch of fatal run-time errors to the installed handler.
#include "base/fatal.h"

#include <atomic>
#include <cstdlib>

namespace ob {
namespace {
std::atomic<FatalErrorHandler> g_handler{nullptr};
}

FatalErrorHandler SetFatalErrorHandler(FatalErrorHandler handler) noexcept {
    return g_handler.exchange(handler);
}

void RaiseFatalError(int code, std::string_view message) {
    if (FatalErrorHandler h = g_handler.load()) {
        h(code, message);
    }
    std::_Exit(-1);
}

}  // namespace ob
