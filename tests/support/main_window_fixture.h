// A test fixture that runs the main window on the scripted platform against a real database file
// in a temporary program directory.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/fatal.h"
#include "platform/dialogs.h"
#include "tests/support/account_fixture.h"
#include "tests/support/scripted_platform.h"
#include "ui/account_list.h"

namespace ob::test {

inline constexpr std::string_view kAccountList = "超级列表框1";
inline constexpr std::uint32_t kTaskModal = 0x2000;

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() { previous_fatal_ = SetFatalErrorHandler(&ShowFatalErrorAndExit); }

    ~MainWindowTest() override {
        // The window is closed as the user would, so the database is closed under the lock and
        // no rebuild outlives the test.
        if (main_ != 0 && sp.Exists(main_)) {
            sp.Close(main_);
        }
        EXPECT_TRUE(sp.WaitForIdle());
        SetFatalErrorHandler(previous_fatal_);
    }

    // Opens the main window and waits until its first rebuild has finished.
    WindowRef OpenMain() {
        main_ = sp.Open(WindowKind::Main);
        EXPECT_NE(main_, 0u);
        EXPECT_TRUE(sp.WaitForIdle());
        return main_;
    }

    std::vector<std::vector<std::string>> Rows() { return sp.ListRows(main_, kAccountList); }

    // Lets every running rebuild finish, then gives the rows.
    std::vector<std::vector<std::string>> RowsWhenIdle() {
        EXPECT_TRUE(sp.WaitForIdle());
        return Rows();
    }

    AccountFixture db;  // constructed first, gone last: the program directory outlives the window
    ScriptedPlatform sp;
    WindowRef main_ = 0;

  private:
    FatalErrorHandler previous_fatal_;
};

}  // namespace ob::test
