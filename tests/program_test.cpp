// The program's shell: end routines, the sign-in password, the end of the program and the
// quit request when the last window goes.
#include "app/program.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/program_dir.h"
#include "tests/support/scripted_platform.h"

namespace ob::test {
namespace {

std::string g_log;
void RoutineA() {
    g_log += 'A';
}
void RoutineB() {
    g_log += 'B';
}

TEST(Program, EndRoutinesRunOnceInOrderOfRegistration) {
    ResetProgramStateForTesting();
    g_log.clear();
    RegisterEndRoutine(&RoutineA);
    RegisterEndRoutine(&RoutineB);
    RegisterEndRoutine(&RoutineA);  // already listed: no change
    RunEndRoutines();
    RunEndRoutines();
    EXPECT_EQ(g_log, "AB");

    // EndProgram runs them and then ends the process with its code.
    ScriptedPlatform sp;
    ResetProgramStateForTesting();
    g_log.clear();
    SetSignInPassword("geheim");
    try {
        EndProgram(3);
        ADD_FAILURE() << "EndProgram returned";
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, 3);
    }
    EXPECT_EQ(g_log, "AB");
    ResetProgramStateForTesting();
}

TEST(Program, TheSignInPasswordIsReplacedAndReleased) {
    ResetProgramStateForTesting();
    EXPECT_TRUE(SignInPassword().empty());
    SetSignInPassword("a rather long first password, past any short-string buffer");
    SetSignInPassword("second");
    EXPECT_EQ(SignInPassword().view(), "second");
    ReleaseSignInPassword();
    EXPECT_TRUE(SignInPassword().empty());
}

TEST(Program, ClosingTheSignInWindowSkipsTheMainLoopAndReleasesThePassword) {
    ScriptedPlatform sp;
    TempProgramDir dir;
    dir.CreateProtectedDatabase("secret1");
    SetSignInPassword("left over");
    sp.SetUser(WindowKind::SignIn, [](ScriptedPlatform& p, WindowRef w) {
        EXPECT_TRUE(p.setup_called());
        EXPECT_FALSE(MainLoopStarted());
        p.Close(w);  // the last window goes before the main loop: no quit request
    });
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_TRUE(MainLoopStarted());
    EXPECT_EQ(sp.QuitsPosted(), 0);
    EXPECT_TRUE(SignInPassword().empty());
}

}  // namespace
}  // namespace ob::test
