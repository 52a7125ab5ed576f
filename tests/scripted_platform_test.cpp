// The scripted platform that the handler tests run on: its windows, queue and threads behave as
// the front end's do, so the handler tests can trust what they read from it.
#include "tests/support/scripted_platform.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/dialogs.h"

namespace ob::test {
namespace {

TEST(ScriptedPlatform, WindowsStartFromTheTemplateAndTypingIsFiltered) {
    ScriptedPlatform sp;
    WindowRef w = sp.Open(WindowKind::AddRecord);
    ASSERT_NE(w, 0u);
    EXPECT_TRUE(sp.IsVisible(w));
    EXPECT_EQ(sp.Text(w, "编辑框5"), "10");
    EXPECT_EQ(sp.Text(w, "编辑框1"), "");
    sp.Type(w, "编辑框5", "1a-2１");
    EXPECT_EQ(sp.Text(w, "编辑框5"), "1-2");  // letters and full-width digits refused
    sp.SetText(w, "编辑框5", "１２");         // pasting is not filtered
    EXPECT_EQ(sp.Text(w, "编辑框5"), "１２");
    sp.SetUnrepresentableText(w, "编辑框1", "x?");
    EXPECT_FALSE(sp.GetControlText(w, "编辑框1").has_value());
    sp.Close(w);
    EXPECT_FALSE(sp.Exists(w));
    WindowRef again = sp.Open(WindowKind::AddRecord);
    EXPECT_EQ(sp.Text(again, "编辑框1"), "");
}

TEST(ScriptedPlatform, ModalShowingDisablesOthersAndReturnsWhenClosed) {
    ScriptedPlatform sp;
    // The add-record window is the one without a created handler: the test stays on its own.
    WindowRef under = sp.Open(WindowKind::AddRecord);
    WindowRef modal = 0;
    sp.SetUser(WindowKind::AddRecord, [&](ScriptedPlatform& p, WindowRef w) {
        modal = w;
        EXPECT_TRUE(p.IsVisible(w));
        EXPECT_FALSE(p.IsEnabled(under));
        EXPECT_TRUE(p.IsEnabled(w));
    });
    EXPECT_EQ(sp.ShowModal(WindowKind::AddRecord), 1);
    EXPECT_NE(modal, 0u);
    EXPECT_FALSE(sp.Exists(modal));
    EXPECT_TRUE(sp.IsEnabled(under));
}

TEST(ScriptedPlatform, MessageBoxesAreCheckedInOrderAndReadably) {
    ScriptedPlatform sp;
    sp.ExpectMessageBox("添加成功", kIdOk);
    sp.ExpectMessageBox({.text = "确定?", .button = kIdCancel, .caption = "温馨提示"});
    EXPECT_EQ(ShowMessageBox("添加成功", 64), 0);
    EXPECT_EQ(ShowMessageBox("确定?", 1, "温馨提示"), 1);
    ASSERT_EQ(sp.MessageBoxes().size(), 2u);
    EXPECT_EQ(sp.MessageBoxes()[0].style, 64u | 0x2000u);
    EXPECT_EQ(sp.MessageBoxes()[0].caption, "信息：");

    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPlatform other;
            other.ExpectMessageBox("添加成功");
            ShowMessageBox("添加失败", 16);
        },
        "[CC ED BC D3 B3 C9 B9 A6]");  // both texts are shown, also as GBK bytes
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPlatform other;
            other.ExpectMessageBox("x");
        },
        "never shown");
}

TEST(ScriptedPlatform, WorkersRunUiWorkOnlyWhenTheTestPumps) {
    ScriptedPlatform sp;
    std::atomic<int> done{0};
    std::thread::id ran_on;
    ASSERT_TRUE(sp.StartThread([&] {
        bool ok = ThePlatform().RunOnUiThread([&] { ran_on = std::this_thread::get_id(); });
        done = ok ? 1 : 2;
    }));
    EXPECT_TRUE(sp.PumpUntil([&] { return done != 0; }));
    EXPECT_EQ(done, 1);
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_TRUE(sp.WaitForIdle());

    // Once shut down, a worker waiting for the UI thread is released with false.
    std::atomic<bool> queued{false};
    ASSERT_TRUE(sp.StartThread([&] {
        queued = true;
        done = ThePlatform().RunOnUiThread([] { FAIL() << "ran after shutdown"; }) ? 1 : 3;
    }));
    while (!queued) {
        std::this_thread::yield();
    }
    sp.Shutdown();
    EXPECT_TRUE(sp.WaitForIdle());
    EXPECT_EQ(done, 3);
    EXPECT_FALSE(sp.RunOnUiThread([] {}));
}

TEST(ScriptedPlatform, ExitProcessThrowsAndRecordsTheCode) {
    ScriptedPlatform sp;
    try {
        sp.ExitProcess(7);
        FAIL();
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, 7);
    }
    EXPECT_EQ(sp.ExitCode(), 7);
    EXPECT_TRUE(sp.IsShutDown());
}

}  // namespace
}  // namespace ob::test
