// The program's shell: its entry, the end-routine list, the sign-in password and the program's end.
#pragma once

#include <string_view>

#include "base/secure.h"

namespace ob {

// The entry that the process start leads to, once the platform has been set. Returns 0.
int RunProgram();

// The access password as typed at sign-in; the empty text until then. Written only on the
// user-interface thread, before any list rebuild exists.
const SecureString& SignInPassword() noexcept;
void SetSignInPassword(std::string_view password);
// Wipes and releases the sign-in password (the program's one end routine).
void ReleaseSignInPassword() noexcept;

// End routines: run once each, in order of registration, when the program ends.
using EndRoutine = void (*)();
void RegisterEndRoutine(EndRoutine r);
void RunEndRoutines();

// Runs the end routines, releases the platform's hold and ends the process. Never returns.
[[noreturn]] void EndProgram(int exit_code);

// Connects the store and the fatal-error dispatch to the platform: the database's password
// question goes to the platform's password prompt, and a fatal run-time error shows the error box
// and ends the process. RunProgram does this; tests that drive handlers directly may call it.
void ConnectPlatformServices();

// Tests only: forgets that the end routines ran and that the main loop started, and empties the
// sign-in password, so one test process can run the program several times.
void ResetProgramStateForTesting();

// Window rule 9: called by the front end whenever a window of the program has been destroyed.
void NotifyWindowDestroyed();
bool MainLoopStarted() noexcept;

}  // namespace ob
