// The message box, input box and fatal-error box on top of the platform: styles, results,
// captions and the fatal box's text.
#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include "base/fatal.h"
#include "tests/support/scripted_platform.h"

namespace ob::test {
namespace {

TEST(ShowMessageBox, AddsTaskModalUnlessSystemModalAndReturnsTheButtonLessOne) {
    ScriptedPlatform sp;
    const struct {
        std::uint32_t code;
        std::uint32_t style;
        int button, result;
    } cases[] = {
        {0, 0x2000, kIdOk, 0},          {1, 0x2001, kIdCancel, 1},       {16, 0x2010, kIdOk, 0},
        {48, 0x2030, kIdOk, 0},         {64, 0x2040, kIdOk, 0},          {0x1010, 0x1010, kIdOk, 0},
        {0x1000 | 4, 0x1004, kIdNo, 6}, {0x2000 | 4, 0x2004, kIdYes, 5},
    };
    for (const auto& c : cases) {
        sp.ExpectMessageBox({.text = "t", .button = c.button, .style = c.style});
        EXPECT_EQ(ShowMessageBox("t", c.code), c.result) << "code " << c.code;
    }
    sp.ExpectMessageBox({.text = "x", .caption = "温馨提示"});
    ShowMessageBox("x", 0, "温馨提示", 42);
    const auto calls = sp.MessageBoxes();
    EXPECT_EQ(calls.front().caption, "信息：");
    EXPECT_EQ(calls.front().owner, 0u);
    EXPECT_EQ(calls.back().owner, 42u);
}

TEST(InputBox, ConfirmSetsTheTextCancelLeavesItAndAnEmptyTitleIsReplaced) {
    ScriptedPlatform sp;
    SecureString var("before");
    sp.QueueInputBox(std::nullopt);
    EXPECT_EQ(InputBox("p", "", "init", var, 1), 0);
    EXPECT_EQ(var.view(), "before");
    sp.QueueInputBox("");
    EXPECT_EQ(InputBox("p", "标题", "", var, 1), 1);
    EXPECT_EQ(var.view(), "");
    const auto calls = sp.InputBoxes();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].caption, "请输入：");
    EXPECT_EQ(calls[0].initial, "init");
    EXPECT_EQ(calls[1].caption, "标题");
}

TEST(FatalError, TheBoxHasTheLayoutAndTheProcessEndsWithMinusOne) {
    EXPECT_EQ(FatalErrorText(0, "坏了"), "运行时出错!\r\n\r\n错误信息：坏了\r\n");
    EXPECT_EQ(FatalErrorText(5, "数据或数组类型不匹配"),
              "运行时出错!\r\n\r\n错误代码：5\r\n\r\n错误信息：数据或数组类型不匹配\r\n");
    EXPECT_EQ(FatalErrorText(-7, "x"), "运行时出错!\r\n\r\n错误代码：-7\r\n\r\n错误信息：x\r\n");

    ScriptedPlatform sp;
    sp.ExpectMessageBox(
        {.text = FatalErrorText(5, "m"), .caption = "错误", .style = 0x10u | 0x2000u});
    FatalErrorHandler old = SetFatalErrorHandler(&ShowFatalErrorAndExit);
    try {
        RaiseFatalError(5, "m");
        ADD_FAILURE() << "returned";
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, -1);
    }
    SetFatalErrorHandler(old);
    EXPECT_EQ(sp.MessageBoxes().at(0).owner, 0u);
}

}  // namespace
}  // namespace ob::test
