// Throwaway stand-in window for developing the driver's mechanics before the real front end lands.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>

namespace {

HWND g_signin, g_edit, g_main, g_list;
const wchar_t* kCells[3][5] = {{L"1", L"https://例子.com/登录", L"张三", L"pw1", L"备注一"},
                               {L"2", L"b.example", L"li4", L"pw2", L""},
                               {L"3", L"c", L"王五", L"密码3", L"x"}};

void Copy(const std::wstring& w) {
    if (!OpenClipboard(nullptr))
        return;
    EmptyClipboard();
    int n = WideCharToMultiByte(936, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n);
    WideCharToMultiByte(936, 0, w.c_str(), -1, (char*)GlobalLock(a), n, nullptr, nullptr);
    GlobalUnlock(a);
    SetClipboardData(CF_TEXT, a);
    HGLOBAL u = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (w.size() + 1) * 2);
    memcpy(GlobalLock(u), w.c_str(), (w.size() + 1) * 2);
    GlobalUnlock(u);
    SetClipboardData(CF_UNICODETEXT, u);
    CloseClipboard();
}

LRESULT CALLBACK MainProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NOTIFY) {
        auto* nm = (NMHDR*)lp;
        if (nm->code == LVN_GETDISPINFOW) {
            auto* di = (NMLVDISPINFOW*)lp;
            if (di->item.mask & LVIF_TEXT)
                lstrcpynW(di->item.pszText, kCells[di->item.iItem][di->item.iSubItem],
                          di->item.cchTextMax);
        } else if (nm->code == NM_RCLICK) {
            POINT p;
            GetCursorPos(&p);
            HMENU menu = CreatePopupMenu();
            AppendMenuW(menu, MF_STRING, 1, L"打开网址");
            AppendMenuW(menu, MF_STRING, 2, L"复制帐号");
            int c = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, p.x + 3, p.y + 3, 0, h,
                                   nullptr);
            DestroyMenu(menu);
            int row = (int)SendMessageW(g_list, LVM_GETNEXTITEM, -1, LVNI_SELECTED);
            if (c == 2 && row >= 0)
                Copy(kCells[row][2]);
            if (c == 1 && row >= 0)
                ShellExecuteW(nullptr, L"open", kCells[row][1], nullptr, nullptr, SW_SHOWNORMAL);
            if (row < 0 && c)
                MessageBoxW(nullptr, L"未选中内容", L"温馨提示", MB_TASKMODAL);
        }
    }
    if (m == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(h, m, wp, lp);
}

void ShowMain() {
    g_main =
        CreateWindowExW(0, L"ScratchMain", L"Obrellin", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                        224, 177, 576, 413, nullptr, nullptr, nullptr, nullptr);
    g_list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                             WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL, 0,
                             0, 568, 384, g_main, (HMENU)1, nullptr, nullptr);
    const wchar_t* titles[] = {L"序号", L"网址", L"帐号", L"密码", L"备注"};
    int widths[] = {50, 160, 100, 100, 150};
    for (int i = 0; i < 5; ++i) {
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH;
        c.pszText = (wchar_t*)titles[i];
        c.cx = widths[i];
        SendMessageW(g_list, LVM_INSERTCOLUMNW, i, (LPARAM)&c);
    }
    SendMessageW(g_list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    SendMessageW(g_list, LVM_SETITEMCOUNT, 3, 0);
    ShowWindow(g_main, SW_SHOW);
}

LRESULT CALLBACK SignProc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_COMMAND && (LOWORD(wp) == 1 || LOWORD(wp) == IDOK)) {
        wchar_t buf[100];
        GetWindowTextW(g_edit, buf, 100);
        if (std::wstring(buf) == L"123456") {
            ShowMain();
            DestroyWindow(h);
        } else {
            MessageBoxW(nullptr, L"密码错误", L"信息：", MB_ICONERROR | MB_TASKMODAL);
        }
        return 0;
    }
    if (m == WM_COMMAND && LOWORD(wp) == IDCANCEL) {
        DestroyWindow(h);
        return 0;
    }
    if (m == WM_DESTROY && !g_main)
        PostQuitMessage(3);
    return DefWindowProcW(h, m, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring db = path;
    db = db.substr(0, db.rfind(L'\\')) + L"\\数据库.edb";
    if (GetFileAttributesW(db.c_str()) == INVALID_FILE_ATTRIBUTES) {
        MessageBoxW(nullptr, L"数据库不存在", L"信息：", MB_ICONERROR | MB_TASKMODAL);
        return 0;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = SignProc;
    wc.hInstance = inst;
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = L"ScratchSignIn";
    RegisterClassW(&wc);
    wc.lpfnWndProc = MainProc;
    wc.lpszClassName = L"ScratchMain";
    RegisterClassW(&wc);
    g_signin = CreateWindowExW(0, L"ScratchSignIn", L"请输入管理员密码：",
                               WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 322, 350, 379, 68, nullptr,
                               nullptr, inst, nullptr);
    CreateWindowExW(0, L"BUTTON", L"进入", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP,
                    288, 8, 72, 24, g_signin, (HMENU)1, inst, nullptr);
    g_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                             WS_CHILD | WS_VISIBLE | ES_CENTER | WS_TABSTOP | ES_AUTOHSCROLL, 72, 8,
                             200, 24, g_signin, (HMENU)100, inst, nullptr);
    ShowWindow(g_signin, SW_SHOW);
    SetFocus(g_edit);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if ((g_signin && IsWindow(g_signin) && IsDialogMessageW(g_signin, &msg)))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}
