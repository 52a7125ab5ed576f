// Fatal run-time errors: one routine that every layer calls, handled by whoever runs the program.
#pragma once

#include <string_view>

namespace ob {

// Receives a fatal run-time error. The program's handler shows the error box and ends the
// process with exit code -1; a test's handler may throw instead. It must not return normally.
using FatalErrorHandler = void (*)(int code, std::string_view message);

// Installs the handler and returns the previous one.
FatalErrorHandler SetFatalErrorHandler(FatalErrorHandler handler) noexcept;

// Raises a fatal run-time error (code 0 means "no code"). Never returns: if no handler is set,
// or the handler returns, the process ends with exit code -1.
[[noreturn]] void RaiseFatalError(int code, std::string_view message);

}  // namespace ob
