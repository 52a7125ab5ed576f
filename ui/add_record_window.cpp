// The add-record window's template and handlers: "添加" enciphers and stores the four boxes as
// one record, "随机" fills the password box from the generator.
#include "ui/add_record_window.h"

#include <array>
#include <optional>
#include <string_view>

#include "app/program.h"
#include "base/secure.h"
#include "base/text.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "store/account_database.h"
#include "store/field_cipher.h"
#include "ui/account_list.h"
#include "ui/password_generator.h"

namespace ob {
namespace {

constexpr ControlTemplate kControls[] = {
    {"编辑框5", ControlKind::Edit, 296, 80, 48, 24, "10", kCenterText | kDigitsAndMinus},
    {"透明标签5", ControlKind::Label, 264, 80, 40, 24, "位数：", kNoFlags},
    {"按钮3", ControlKind::Button, 344, 80, 48, 24, "随机", kCenterText},
    {"按钮1", ControlKind::Button, 136, 152, 104, 32, "添加", kDefaultButton | kCenterText},
    {"编辑框3", ControlKind::Edit, 56, 80, 200, 24, "", kNoFlags},
    {"透明标签3", ControlKind::Label, 16, 112, 40, 24, "备注：", kNoFlags},
    {"编辑框4", ControlKind::Edit, 56, 112, 328, 24, "", kNoFlags},
    {"透明标签4", ControlKind::Label, 16, 80, 40, 24, "密码：", kNoFlags},
    {"编辑框2", ControlKind::Edit, 56, 48, 328, 24, "", kNoFlags},
    {"透明标签2", ControlKind::Label, 16, 48, 40, 24, "账号：", kNoFlags},
    {"编辑框1", ControlKind::Edit, 56, 16, 328, 24, "", kNoFlags},
    {"透明标签1", ControlKind::Label, 16, 16, 40, 24, "网址：", kNoFlags},
};

constexpr WindowTemplate kTemplate = {
    WindowKind::AddRecord,
    "添加记录",
    405,
    222,
    /*minimize_box=*/false,
    /*show_in_taskbar=*/false,
    /*esc_closes=*/false,
    "编辑框1",
    kControls,
    {},
};

// The boxes of one record, in the table's field order 网址, 帐号, 密码, 备注.
constexpr std::array<std::string_view, 4> kFieldBoxes = {"编辑框1", "编辑框2", "编辑框3",
                                                         "编辑框4"};

void OnAddClicked(WindowRef w) {
    Platform& p = ThePlatform();
    std::optional<SecureString> url = p.GetControlText(w, kFieldBoxes[0]);
    if (!url) {
        ShowMessageBox(kUnrepresentableText, 48);
        return;
    }
    // A blank URL would be stored as the empty text, and the list never shows a record without
    // URL: the account typed with it would be stored out of sight. It is refused like an empty one.
    if (TextIsBlank(*url)) {
        ShowMessageBox("请先添加内容", 64);
        return;
    }
    url->Wipe();

    std::array<FieldValue, 4> values;
    for (std::size_t i = 0; i < kFieldBoxes.size(); ++i) {
        std::optional<SecureString> plain = p.GetControlText(w, kFieldBoxes[i]);
        if (!plain) {
            ShowMessageBox(kUnrepresentableText, 48);
            return;  // nothing is stored
        }
        values[i] = FieldValue::OfText(EncryptField(*plain, SignInPassword()));
    }
    int added;
    {
        // No rebuild reads the table while the record is appended.
        auto lock = DatabaseWorkLock();
        added = AddRecord(values);
    }
    if (added == 1) {
        StartAccountListRefresh();
        ShowMessageBox("添加成功", 64);
    } else {
        ShowMessageBox("添加失败", 16);
    }
}

void OnClicked(WindowRef w, std::string_view control) {
    if (control == "按钮1") {
        OnAddClicked(w);
    } else if (control == "按钮3") {
        OnRandomPasswordClicked(w);
    }
}

}  // namespace

const WindowClass& AddRecordWindowClass() {
    static const WindowClass cls{&kTemplate, WindowHandlers{
                                                 .created = nullptr,
                                                 .destroying = nullptr,
                                                 .clicked = &OnClicked,
                                                 .right_clicked = nullptr,
                                                 .list_row_count = nullptr,
                                                 .list_cell = nullptr,
                                             }};
    return cls;
}

}  // namespace ob
