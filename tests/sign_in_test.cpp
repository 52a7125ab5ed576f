// The sign-in window through the whole program on the scripted platform and the real store:
// first-use set-up, the missing database, wrong and right passwords, "?" and refused input.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/dialogs.h"
#include "store/account_database.h"
#include "tests/support/program_dir.h"
#include "tests/support/scripted_platform.h"

namespace ob::test {
namespace {

namespace fs = std::filesystem;

// A box of the sign-in window: default caption, no owner, task-modal.
ScriptedPlatform::ExpectedBox Box(std::string_view text, std::uint32_t code) {
    return {.text = std::string(text), .caption = "信息：", .style = code | 0x2000u};
}

int g_end_routine_runs = 0;
void CountEndRoutine() {
    ++g_end_routine_runs;
}

class SignInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sp.SetUser(WindowKind::Main, [this](ScriptedPlatform& p, WindowRef) {
            ++main_showings;
            password_in_main = SignInPassword().view();
            EXPECT_EQ(p.Find(WindowKind::SignIn), 0u) << "the sign-in window outlived the click";
            EXPECT_TRUE(p.WaitForIdle());
        });
    }

    // Types text into the password box and presses Enter.
    static void SignIn(ScriptedPlatform& p, WindowRef w, std::string_view text) {
        p.Type(w, "编辑框1", text);
        p.PressEnter(w);
    }

    // Checks what every box of this window has in common: default caption, no owner, UI thread.
    void ExpectPlainBoxes() {
        for (const MessageBoxCall& c : sp.MessageBoxes()) {
            EXPECT_EQ(c.caption, "信息：");
            EXPECT_EQ(c.owner, 0u);
            EXPECT_TRUE(c.ui_thread);
        }
    }

    ScriptedPlatform sp;
    TempProgramDir dir;  // after sp: the database is closed before the platform goes
    int main_showings = 0;
    std::string password_in_main;
};

struct FirstUseCase {
    const char* name;
    std::vector<std::optional<std::string>> entries;  // nothing: Cancel, Esc or close
    std::string accepted;                             // the last entry, 6 bytes or more
};

TEST_F(SignInTest, FirstUseAsksUntilSixBytesBeforeTheWindowIsVisible) {
    const FirstUseCase cases[] = {
        {"five digits, then six", {"12345", "123456"}, "123456"},
        {"cancel twice, then three Chinese characters",
         {std::nullopt, std::nullopt, "密码锁"},
         "密码锁"},
        {"five letters and a trailing space", {"abcde "}, "abcde "},
        {"a short entry survives a cancel", {"12345", std::nullopt, "1234567"}, "1234567"},
    };
    for (const FirstUseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPlatform p;
        TempProgramDir d;
        d.CreateUnprotectedDatabase();
        for (const auto& entry : c.entries) {
            p.QueueInputBox(entry, [&] { EXPECT_TRUE(p.VisibleHistory().empty()); });
            p.ExpectMessageBox(entry && entry->size() >= 6 ? Box("密码设置成功", 64)
                                                           : Box("密码过于简单", 48));
        }
        std::string in_main;
        p.SetUser(WindowKind::SignIn, [&](ScriptedPlatform& u, WindowRef w) {
            EXPECT_EQ(u.Text(w, "编辑框1"), "");  // not remembered: typed again
            SignIn(u, w, c.accepted);
        });
        p.SetUser(WindowKind::Main, [&](ScriptedPlatform& u, WindowRef) {
            in_main = SignInPassword().view();
            EXPECT_TRUE(u.WaitForIdle());
        });
        EXPECT_EQ(RunProgram(), 0);
        EXPECT_EQ(in_main, c.accepted);
        EXPECT_EQ(IsDatabaseEncrypted(d.DatabasePath()), 1);
        ASSERT_EQ(p.InputBoxes().size(), c.entries.size());
        for (const InputBoxCall& ib : p.InputBoxes()) {
            EXPECT_EQ(ib.prompt, "首次使用请设置密码：");
            EXPECT_EQ(ib.caption, "欢迎使用Obrellin！");
            EXPECT_EQ(ib.initial, "");
            EXPECT_EQ(ib.mode, 1);
        }
        EXPECT_EQ(p.VisibleHistory(), (std::vector{WindowKind::SignIn, WindowKind::Main}));
        EXPECT_TRUE(SignInPassword().empty()) << "the end routine releases the password";
    }
}

TEST_F(SignInTest, ADatabaseThatDoesNotOpenEndsTheProgramWithNothingVisible) {
    RegisterEndRoutine(&CountEndRoutine);
    for (bool foreign_file : {false, true}) {
        SCOPED_TRACE(foreign_file ? "a file of another kind" : "no file");
        ResetProgramStateForTesting();
        if (foreign_file) {
            std::ofstream(dir.DatabasePath(), std::ios::binary) << "not a database";
        }
        const int runs_before = g_end_routine_runs;
        sp.ExpectMessageBox(Box("数据库不存在", 16));
        try {
            RunProgram();
            ADD_FAILURE() << "RunProgram returned";
        } catch (const ProcessExit& e) {
            EXPECT_EQ(e.code, 0);
        }
        EXPECT_EQ(g_end_routine_runs, runs_before + 1);
        EXPECT_TRUE(sp.VisibleHistory().empty());
        EXPECT_TRUE(sp.InputBoxes().empty());
    }
    ExpectPlainBoxes();
}

TEST_F(SignInTest, WrongPasswordsAreRefusedAsOftenAsTypedThenTheRightOneSignsIn) {
    dir.CreateProtectedDatabase("secret1");
    sp.ExpectMessageBox(Box("密码错误", 16));
    sp.ExpectMessageBox(Box("密码错误", 16));
    sp.ExpectMessageBox(Box("密码错误", 16));
    sp.SetUser(WindowKind::SignIn, [](ScriptedPlatform& p, WindowRef w) {
        for (std::string_view wrong : {"secret2", "", "Secret1"}) {
            SignIn(p, w, wrong);
            ASSERT_TRUE(p.IsVisible(w));
            EXPECT_EQ(p.Text(w, "编辑框1"), wrong) << "the typed text stays";
        }
        EXPECT_TRUE(SignInPassword().empty());
        SignIn(p, w, "secret1");
        EXPECT_FALSE(p.Exists(w));
    });
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_TRUE(sp.InputBoxes().empty()) << "a protected file needs no set-up";
    EXPECT_EQ(main_showings, 1);
    EXPECT_EQ(password_in_main, "secret1");
    EXPECT_EQ(sp.QuitsPosted(), 1);
    ExpectPlainBoxes();
}

TEST_F(SignInTest, EscOrTheCloseButtonEndsTheProgramWithoutTheMainWindow) {
    dir.CreateProtectedDatabase("secret1");
    for (bool esc : {true, false}) {
        SCOPED_TRACE(esc ? "Esc" : "close button");
        ResetProgramStateForTesting();
        sp.SetUser(WindowKind::SignIn, [esc](ScriptedPlatform& p, WindowRef w) {
            p.Type(w, "编辑框1", "secret1");
            esc ? p.PressEsc(w) : p.Close(w);
            EXPECT_FALSE(p.Exists(w));
        });
        EXPECT_EQ(RunProgram(), 0);
    }
    EXPECT_EQ(sp.Showings(WindowKind::Main), 0);
    EXPECT_EQ(sp.QuitsPosted(), 0);
    EXPECT_TRUE(sp.MessageBoxes().empty());
}

TEST_F(SignInTest, QuestionMarkAsksTheDatabaseQuestionAndKeepsTheRealPassword) {
    dir.CreateProtectedDatabase("secret1");
    // First "?" is cancelled in the question; the second gets it right at the second attempt.
    sp.QueuePasswordPrompt(std::nullopt);
    sp.ExpectMessageBox(Box("密码错误", 16));
    sp.QueuePasswordPrompt("wrong");
    sp.QueuePasswordPrompt("secret1");
    sp.SetUser(WindowKind::SignIn, [](ScriptedPlatform& p, WindowRef w) {
        SignIn(p, w, "?");
        ASSERT_TRUE(p.Exists(w));
        SignIn(p, w, "?");
    });
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(sp.PasswordPrompts().size(), 3u) << "the main window opens without asking again";
    EXPECT_EQ(main_showings, 1);
    // The sign-in password is the password that opened the file, so that what this session
    // enciphers, later sessions can read.
    EXPECT_EQ(password_in_main, "secret1");
}

TEST_F(SignInTest, AfterAFailedSettingOnlyTheEmptyPasswordOrQuestionMarkSignsIn) {
    dir.CreateUnprotectedDatabase();
    const fs::path db = dir.DatabasePath();
    const fs::path aside = dir.dir() / "aside";
    // The file is out of reach while the password is being written, and back afterwards.
    sp.QueueInputBox("123456", [&] {
        fs::rename(db, aside);
        fs::create_directories(db / "x");
    });
    sp.ExpectMessageBox({.text = "密码设置失败", .while_shown = [&] {
                             fs::remove_all(db);
                             fs::rename(aside, db);
                         }});
    sp.ExpectMessageBox(Box("密码错误", 16));
    sp.SetUser(WindowKind::SignIn, [](ScriptedPlatform& p, WindowRef w) {
        SignIn(p, w, "123456");
        ASSERT_TRUE(p.Exists(w));
        SignIn(p, w, "?");  // a file without password opens at "?" without a question
    });
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(sp.InputBoxes().size(), 1u) << "the set-up ends after the first long entry";
    EXPECT_TRUE(sp.PasswordPrompts().empty());
    EXPECT_EQ(main_showings, 1);
    EXPECT_EQ(password_in_main, "");
    EXPECT_EQ(IsDatabaseEncrypted(db), 0);
}

TEST_F(SignInTest, TextThatGbkCannotHoldIsRefusedAndNothingElseHappens) {
    dir.CreateProtectedDatabase("secret1");
    sp.ExpectMessageBox(Box(kUnrepresentableText, 48));
    sp.SetUser(WindowKind::SignIn, [](ScriptedPlatform& p, WindowRef w) {
        p.SetUnrepresentableText(w, "编辑框1", "secret1");
        p.PressEnter(w);
        ASSERT_TRUE(p.IsVisible(w));
        EXPECT_TRUE(SignInPassword().empty());
        SignIn(p, w, "secret1");
    });
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(main_showings, 1);
}

}  // namespace
}  // namespace ob::test
