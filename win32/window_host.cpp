// Real Win32 windows built from the portable templates, and the window rules they follow.
#include "win32/window_host.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <exception>
#include <map>
#include <memory>
#include <vector>

#include "app/program.h"
#include "base/fatal.h"
#include "win32/gbk.h"
#include "win32/window_logic.h"

namespace ob::win32 {
namespace {

constexpr wchar_t kWindowClassName[] = L"ObrellinWindow";
constexpr wchar_t kOwnerClassName[] = L"ObrellinOwner";
constexpr UINT kMsgDestroyRequest = WM_APP + 1;
constexpr int kFirstControlId = 1000;
constexpr UINT_PTR kDigitsSubclassId = 1;

struct Host {
    WindowRef ref = 0;
    HWND hwnd = nullptr;
    WindowClass cls;
    bool internal = false;
    std::vector<HWND> controls;  // by template index
    HWND last_focus = nullptr;   // the control that had the focus when the window lost it
    bool focus_given = false;    // the focus control was given once (its text then selected)
    int busy = 0;                // handlers of this window on the stack
    bool destroy_pending = false;
    bool destroying = false;
    std::vector<HWND> disabled_for_modal;  // windows this modal window disabled
    HWND active_before = nullptr;          // active window when this modal window was shown
    HFONT font = nullptr;
    HICON picture = nullptr;
    int dpi = kBaseDpi;
};

HINSTANCE g_instance = nullptr;
HWND g_hidden_owner = nullptr;
std::map<WindowRef, std::unique_ptr<Host>> g_hosts;
WindowRef g_next_ref = 1;

// DPI functions of Windows 10 1607 and later, looked up so that the program still starts where
// they are missing (it then runs at the system DPI).
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForSystemFn = UINT(WINAPI*)();
using SpiForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

template <class Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

Host* FindHost(WindowRef ref) {
    auto it = g_hosts.find(ref);
    return it == g_hosts.end() ? nullptr : it->second.get();
}

Host* HostOf(HWND hwnd) {
    if (hwnd == nullptr) {
        return nullptr;
    }
    auto* h = reinterpret_cast<Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return (h != nullptr && h->hwnd == hwnd) ? h : nullptr;
}

const ControlTemplate& ControlAt(const Host& h, std::size_t i) {
    return h.cls.tmpl->controls[i];
}

int ControlIndex(const Host& h, HWND control) {
    for (std::size_t i = 0; i < h.controls.size(); ++i) {
        if (h.controls[i] == control) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int ControlIndexByName(const Host& h, std::string_view name) {
    const auto& controls = h.cls.tmpl->controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsEditControl(HWND hwnd) {
    wchar_t name[16] = {};
    GetClassNameW(hwnd, name, 16);
    return lstrcmpiW(name, L"Edit") == 0;
}

// Runs one handler of window ref with the window marked busy, so that a destruction asked for
// meanwhile waits until the handler has returned. An exception escaping a handler is a fatal error.
template <class Fn>
void CallHandler(WindowRef ref, Fn&& fn) {
    if (Host* h = FindHost(ref)) {
        ++h->busy;
    } else {
        return;
    }
    try {
        fn();
    } catch (const std::exception& e) {
        RaiseFatalError(0, e.what());
    } catch (...) {
        RaiseFatalError(0, "未知错误");
    }
    Host* h = FindHost(ref);
    if (h == nullptr) {
        return;
    }
    if (--h->busy == 0 && h->destroy_pending && !h->destroying) {
        PostMessageW(h->hwnd, kMsgDestroyRequest, 0, 0);
    }
}

void ReenableForModal(Host& h) {
    std::vector<HWND> disabled;
    disabled.swap(h.disabled_for_modal);
    for (HWND w : disabled) {
        if (IsWindow(w)) {
            EnableWindow(w, TRUE);
        }
    }
    // Hand the activation back before this window goes, so it returns to the window the user
    // worked in rather than to whatever the system would pick after the hidden owner.
    HWND back = h.active_before;
    h.active_before = nullptr;
    if (back != nullptr && IsWindow(back) && IsWindowVisible(back) && IsWindowEnabled(back) &&
        GetActiveWindow() == h.hwnd) {
        SetActiveWindow(back);
    }
}

void DestroyHost(Host& h) {
    if (h.destroying) {
        return;
    }
    h.destroying = true;
    ReenableForModal(h);
    DestroyWindow(h.hwnd);
}

// Window rule 5 and 6: close now, or once the window's running handler has returned.
void RequestClose(Host& h) {
    if (h.destroying) {
        return;
    }
    if (h.busy > 0) {
        h.destroy_pending = true;
        return;
    }
    DestroyHost(h);
}

void ClickButton(Host& h, std::size_t index) {
    const WindowRef ref = h.ref;
    const std::string_view name = ControlAt(h, index).name;
    if (!h.cls.handlers.clicked) {
        return;
    }
    CallHandler(ref, [&] {
        if (Host* live = FindHost(ref); live != nullptr && !live->destroying) {
            auto fn = live->cls.handlers.clicked;  // the window may go while fn runs
            fn(ref, name);
        }
    });
}

void GiveFocus(Host& h) {
    HWND target = nullptr;
    bool select_all = false;
    if (h.last_focus != nullptr && IsWindow(h.last_focus) && IsChild(h.hwnd, h.last_focus) &&
        IsWindowEnabled(h.last_focus) && IsWindowVisible(h.last_focus)) {
        target = h.last_focus;
    } else {
        const int i = ControlIndexByName(h, h.cls.tmpl->focus_control);
        if (i >= 0) {
            target = h.controls[static_cast<std::size_t>(i)];
            select_all = !h.focus_given;
        }
        if (target == nullptr) {
            target = GetNextDlgTabItem(h.hwnd, nullptr, FALSE);
        }
    }
    if (target == nullptr) {
        return;
    }
    h.focus_given = true;
    SetFocus(target);
    if (select_all && IsEditControl(target)) {
        SendMessageW(target, EM_SETSEL, 0, -1);
    }
}

LRESULT CALLBACK DigitsEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
    if (msg == WM_CHAR && !DigitsAndMinusAccepts(static_cast<std::uint32_t>(wp))) {
        return 0;  // refused without a sound
    }
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, DigitsEditProc, id);
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// Overwrites the text of every edit box in place before the boxes go, so that a typed password
// does not stay behind in the memory the controls free, and drops their undo copies.
void ScrubEditBoxes(const Host& h) {
    for (std::size_t i = 0; i < h.controls.size(); ++i) {
        HWND w = h.controls[i];
        if (ControlAt(h, i).kind != ControlKind::Edit || w == nullptr) {
            continue;
        }
        const int n = GetWindowTextLengthW(w);
        if (n > 0) {
            const std::wstring filler(static_cast<std::size_t>(n), L' ');
            SetWindowTextW(w, filler.c_str());
        }
        SetWindowTextW(w, L"");
        SendMessageW(w, EM_EMPTYUNDOBUFFER, 0, 0);
    }
}

void ApplyLayout(Host& h) {
    const auto& controls = h.cls.tmpl->controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlTemplate& c = controls[i];
        HWND w = h.controls[i];
        if (w == nullptr) {
            continue;
        }
        SetWindowPos(w, nullptr, ScaleForDpi(c.x, h.dpi), ScaleForDpi(c.y, h.dpi),
                     ScaleForDpi(c.width, h.dpi), ScaleForDpi(c.height, h.dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(h.font), TRUE);
        if (c.kind == ControlKind::List) {
            const auto& columns = h.cls.tmpl->list_columns;
            for (std::size_t k = 0; k < columns.size(); ++k) {
                ListView_SetColumnWidth(w, static_cast<int>(k),
                                        ScaleForDpi(columns[k].width, h.dpi));
            }
        }
    }
}

HWND CreateControl(Host& h, std::size_t index) {
    const ControlTemplate& c = ControlAt(h, index);
    const WideSecret text = GbkToWide(c.text);
    const HMENU id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index));
    const bool center = (c.flags & kCenterText) != 0;
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex = 0;
    const wchar_t* cls = nullptr;
    const wchar_t* caption = text.c_str();
    switch (c.kind) {
        case ControlKind::Button:
            cls = WC_BUTTONW;
            style |= WS_TABSTOP | ((c.flags & kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) |
                     (center ? BS_CENTER : 0);
            break;
        case ControlKind::Edit:
            cls = WC_EDITW;
            ex = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | ES_AUTOHSCROLL | (center ? ES_CENTER : ES_LEFT) |
                     ((c.flags & kPasswordInput) ? ES_PASSWORD : 0);
            break;
        case ControlKind::Label:
            cls = WC_STATICW;
            style |= SS_NOPREFIX | SS_CENTERIMAGE | (center ? SS_CENTER : SS_LEFT);
            break;
        case ControlKind::Picture:
            cls = WC_STATICW;
            style |= SS_OWNERDRAW;
            caption = L"";
            break;
        case ControlKind::List:
            cls = WC_LISTVIEWW;
            ex = WS_EX_CLIENTEDGE;
            style |= WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA | LVS_NOSORTHEADER;
            caption = L"";
            break;
    }
    HWND w = CreateWindowExW(ex, cls, caption, style, 0, 0, 0, 0, h.hwnd, id, g_instance, nullptr);
    if (w == nullptr) {
        return nullptr;
    }
    if (c.kind == ControlKind::Edit) {
        SendMessageW(w, EM_SETLIMITTEXT, 0, 0);  // no length limit of its own
        if (c.flags & kDigitsAndMinus) {
            SetWindowSubclass(w, DigitsEditProc, kDigitsSubclassId, 0);
        }
    } else if (c.kind == ControlKind::Picture) {
        const WideSecret name = GbkToWide(c.text);
        h.picture = static_cast<HICON>(
            LoadImageW(g_instance, name.c_str(), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    } else if (c.kind == ControlKind::List) {
        ListView_SetExtendedListViewStyle(
            w, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
        ListView_SetTextColor(w, RGB(0, 0, 0));
        ListView_SetTextBkColor(w, RGB(255, 255, 255));
        ListView_SetBkColor(w, RGB(255, 255, 255));
        const auto& columns = h.cls.tmpl->list_columns;
        for (std::size_t k = 0; k < columns.size(); ++k) {
            WideSecret title = GbkToWide(columns[k].title);
            LVCOLUMNW col = {};
            col.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            col.fmt = LVCFMT_LEFT;
            col.cx = ScaleForDpi(columns[k].width, h.dpi);
            col.pszText = title.data();
            col.iSubItem = static_cast<int>(k);
            ListView_InsertColumn(w, static_cast<int>(k), &col);
        }
    }
    return w;
}

// Tab moves through the controls as the eye reads them, row by row from the left; the template
// order stays what the Enter key goes by.
void ArrangeTabOrder(Host& h) {
    const auto& controls = h.cls.tmpl->controls;
    std::vector<std::size_t> order(controls.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (controls[a].y != controls[b].y) {
            return controls[a].y < controls[b].y;
        }
        return controls[a].x < controls[b].x;
    });
    HWND after = HWND_TOP;
    for (std::size_t i : order) {
        SetWindowPos(h.controls[i], after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = h.controls[i];
    }
}

// Makes the window and its controls, not yet visible; null when that failed.
Host* CreateHost(const WindowClass& cls, HWND owner, bool internal) {
    const WindowTemplate& t = *cls.tmpl;
    auto host = std::make_unique<Host>();
    host->ref = g_next_ref++;
    host->cls = cls;
    host->internal = internal;
    host->dpi = SystemDpi();
    Host* h = host.get();
    g_hosts.emplace(h->ref, std::move(host));

    const int w = ScaleForDpi(t.width, h->dpi);
    const int ht = ScaleForDpi(t.height, h->dpi);
    const int x = CenteredOrigin(GetSystemMetrics(SM_CXSCREEN), w);
    const int y = CenteredOrigin(GetSystemMetrics(SM_CYSCREEN), ht);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN |
                        (t.minimize_box ? WS_MINIMIZEBOX : 0);
    const DWORD ex = WS_EX_CONTROLPARENT | (owner == nullptr ? WS_EX_APPWINDOW : 0);
    const WideSecret title = GbkToWide(t.title);
    HWND hwnd = CreateWindowExW(ex, kWindowClassName, title.c_str(), style, x, y, w, ht, owner,
                                nullptr, g_instance, h);
    if (hwnd == nullptr) {
        g_hosts.erase(h->ref);
        return nullptr;
    }
    // Per-monitor DPI: the window may sit on a monitor of another DPI than the system's.
    const int dpi = WindowDpi(hwnd);
    if (dpi != h->dpi) {
        h->dpi = dpi;
        const int w2 = ScaleForDpi(t.width, dpi);
        const int h2 = ScaleForDpi(t.height, dpi);
        SetWindowPos(hwnd, nullptr, CenteredOrigin(GetSystemMetrics(SM_CXSCREEN), w2),
                     CenteredOrigin(GetSystemMetrics(SM_CYSCREEN), h2), w2, h2,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    h->font = CreateUiFont(h->dpi);
    h->controls.resize(t.controls.size());
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
        h->controls[i] = CreateControl(*h, i);
        if (h->controls[i] == nullptr) {
            DestroyHost(*h);
            return nullptr;
        }
    }
    ApplyLayout(*h);
    ArrangeTabOrder(*h);
    return h;
}

// Window rule 1: the created handler runs before the window is visible. False when the window is
// gone afterwards (or is to go, which then happens here).
bool RunCreated(WindowRef ref) {
    Host* h = FindHost(ref);
    if (h == nullptr) {
        return false;
    }
    if (h->cls.handlers.created) {
        auto fn = h->cls.handlers.created;
        CallHandler(ref, [&] { fn(ref); });
    }
    h = FindHost(ref);
    if (h == nullptr || h->destroying) {
        return false;
    }
    if (h->destroy_pending) {
        DestroyHost(*h);
        return false;
    }
    return true;
}

// The window paints from the message loop like any other, after the work already queued for it
// (a list's first rows, for instance, which then show in its first painting).
void MakeVisible(Host& h) {
    ShowWindow(h.hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(h.hwnd);
}

void OnListNotify(Host& h, std::size_t index, NMHDR* hdr) {
    const WindowRef ref = h.ref;
    const std::string_view name = ControlAt(h, index).name;
    if (hdr->code == LVN_GETDISPINFOW) {
        auto* di = reinterpret_cast<NMLVDISPINFOW*>(hdr);
        if (!(di->item.mask & LVIF_TEXT) || di->item.pszText == nullptr ||
            di->item.cchTextMax <= 0) {
            return;
        }
        di->item.pszText[0] = L'\0';
        if (!h.cls.handlers.list_cell) {
            return;
        }
        const int row = di->item.iItem;
        const int column = di->item.iSubItem;
        wchar_t* out = di->item.pszText;
        const std::size_t room = static_cast<std::size_t>(di->item.cchTextMax);
        auto cell = h.cls.handlers.list_cell;
        CallHandler(ref, [&] {
            const WideSecret text = GbkToWide(cell(ref, name, row, column));
            const std::size_t n = std::min(text.size(), room - 1);
            std::copy_n(text.data(), n, out);
            out[n] = L'\0';
        });
    } else if (hdr->code == NM_RCLICK) {
        if (h.cls.handlers.right_clicked) {
            auto fn = h.cls.handlers.right_clicked;
            CallHandler(ref, [&] { fn(ref, name); });
        }
    }
}

void OnDrawPicture(const Host& h, const DRAWITEMSTRUCT& di) {
    FillRect(di.hDC, &di.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (h.picture != nullptr) {
        DrawIconEx(di.hDC, di.rcItem.left, di.rcItem.top, h.picture,
                   di.rcItem.right - di.rcItem.left, di.rcItem.bottom - di.rcItem.top, 0, nullptr,
                   DI_NORMAL);
    }
}

void OnDpiChanged(Host& h, int dpi, const RECT& suggested) {
    h.dpi = dpi;
    HFONT old = h.font;
    h.font = CreateUiFont(dpi);
    SetWindowPos(h.hwnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyLayout(h);
    if (old != nullptr) {
        DeleteObject(old);
    }
    InvalidateRect(h.hwnd, nullptr, TRUE);
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* h = static_cast<Host*>(cs->lpCreateParams);
        h->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(h));
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    Host* h = HostOf(hwnd);
    if (h == nullptr) {
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED && lp != 0) {
                const int i = ControlIndex(*h, reinterpret_cast<HWND>(lp));
                if (i >= 0 &&
                    ControlAt(*h, static_cast<std::size_t>(i)).kind == ControlKind::Button &&
                    !h->destroying) {
                    ClickButton(*h, static_cast<std::size_t>(i));
                }
                return 0;
            }
            break;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lp);
            const int i = ControlIndex(*h, hdr->hwndFrom);
            if (i >= 0 && ControlAt(*h, static_cast<std::size_t>(i)).kind == ControlKind::List &&
                !h->destroying) {
                OnListNotify(*h, static_cast<std::size_t>(i), hdr);
                return 0;
            }
            break;
        }
        case WM_CTLCOLOREDIT: {
            auto dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkColor(dc, RGB(255, 255, 255));
            return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        }
        case WM_CTLCOLORSTATIC: {
            const int i = ControlIndex(*h, reinterpret_cast<HWND>(lp));
            if (i >= 0 && ControlAt(*h, static_cast<std::size_t>(i)).kind == ControlKind::Label) {
                auto dc = reinterpret_cast<HDC>(wp);
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        }
        case WM_DRAWITEM: {
            auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            const int i = ControlIndex(*h, di->hwndItem);
            if (i >= 0 && ControlAt(*h, static_cast<std::size_t>(i)).kind == ControlKind::Picture) {
                OnDrawPicture(*h, *di);
                return TRUE;
            }
            break;
        }
        case WM_ACTIVATE:
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND f = GetFocus();
                if (f != nullptr && IsChild(hwnd, f)) {
                    h->last_focus = f;
                }
            } else if (!HIWORD(wp)) {
                GiveFocus(*h);
            }
            return 0;
        case WM_SETFOCUS:
            GiveFocus(*h);
            return 0;
        case WM_CLOSE:
            RequestClose(*h);
            return 0;
        case kMsgDestroyRequest:
            if (h->destroy_pending) {
                RequestClose(*h);
            }
            return 0;
        case WM_DPICHANGED:
            OnDpiChanged(*h, HIWORD(wp), *reinterpret_cast<RECT*>(lp));
            return 0;
        case WM_DESTROY: {
            h->destroying = true;
            ReenableForModal(*h);
            const WindowRef ref = h->ref;
            if (h->cls.handlers.destroying) {
                auto fn = h->cls.handlers.destroying;
                CallHandler(ref, [&] { fn(ref); });
            }
            if (Host* live = HostOf(hwnd)) {
                ScrubEditBoxes(*live);
            }
            return 0;
        }
        case WM_NCDESTROY: {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            const bool internal = h->internal;
            if (h->font != nullptr) {
                DeleteObject(h->font);
            }
            if (h->picture != nullptr) {
                DestroyIcon(h->picture);
            }
            g_hosts.erase(h->ref);  // h is gone from here on
            if (!internal) {
                NotifyWindowDestroyed();
            }
            return DefWindowProcW(hwnd, msg, wp, lp);
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Alt+letter clicks the button whose caption marks that letter with "&".
bool ClickMnemonic(Host& h, wchar_t key) {
    const wchar_t want = static_cast<wchar_t>(std::towupper(key));
    for (std::size_t i = 0; i < h.controls.size(); ++i) {
        if (ControlAt(h, i).kind != ControlKind::Button) {
            continue;
        }
        const WideSecret caption = GbkToWide(ControlAt(h, i).text);
        const std::size_t amp = caption.find(L'&');
        if (amp == WideSecret::npos || amp + 1 >= caption.size() ||
            static_cast<wchar_t>(std::towupper(caption[amp + 1])) != want) {
            continue;
        }
        HWND b = h.controls[i];
        if (IsWindowEnabled(b) && IsWindowVisible(b)) {
            ClickButton(h, i);
            return true;
        }
    }
    return false;
}

}  // namespace

bool SetupWindowHost(HINSTANCE instance, WNDPROC hidden_owner_proc) {
    g_instance = instance;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kWindowClassName;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (RegisterClassExW(&wc) == 0) {
        return false;
    }
    WNDCLASSEXW oc = {};
    oc.cbSize = sizeof oc;
    oc.lpfnWndProc = hidden_owner_proc;
    oc.hInstance = instance;
    oc.lpszClassName = kOwnerClassName;
    if (RegisterClassExW(&oc) == 0) {
        return false;
    }
    g_hidden_owner = CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                     nullptr, nullptr, instance, nullptr);
    return g_hidden_owner != nullptr;
}

HINSTANCE Instance() {
    return g_instance;
}
HWND HiddenOwner() {
    return g_hidden_owner;
}

void DestroyHiddenOwner() {
    if (g_hidden_owner != nullptr) {
        HWND w = g_hidden_owner;
        g_hidden_owner = nullptr;
        DestroyWindow(w);
    }
}

int ShowModalWindow(const WindowClass& cls, bool internal) {
    HWND active_before = GetActiveWindow();
    Host* h = CreateHost(cls, g_hidden_owner, internal);
    if (h == nullptr) {
        return 0;
    }
    const WindowRef ref = h->ref;
    if (!RunCreated(ref)) {
        return 1;
    }
    h = FindHost(ref);
    // Window rule 2: every other window of the program is disabled while this one is up.
    for (auto& [other_ref, other] : g_hosts) {
        if (other_ref != ref && !other->destroying && IsWindowEnabled(other->hwnd)) {
            EnableWindow(other->hwnd, FALSE);
            h->disabled_for_modal.push_back(other->hwnd);
        }
    }
    h->active_before = active_before;
    MakeVisible(*h);
    MSG msg;
    while (FindHost(ref) != nullptr) {
        const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop further out
            break;
        }
        if (r == -1) {
            break;
        }
        if (!PreTranslateWindowMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 1;
}

int ShowModelessWindow(const WindowClass& cls) {
    HWND owner = cls.tmpl->show_in_taskbar ? nullptr : g_hidden_owner;
    Host* h = CreateHost(cls, owner, false);
    if (h == nullptr) {
        return 0;
    }
    const WindowRef ref = h->ref;
    if (!RunCreated(ref)) {
        return 1;
    }
    MakeVisible(*FindHost(ref));
    return 1;
}

void RequestWindowDestroy(WindowRef w) {
    Host* h = FindHost(w);
    if (h == nullptr || h->destroying) {
        return;
    }
    h->destroy_pending = true;
    if (h->busy == 0) {
        PostMessageW(h->hwnd, kMsgDestroyRequest, 0, 0);
    }
}

bool AnyProgramWindowExists() {
    return std::any_of(g_hosts.begin(), g_hosts.end(),
                       [](const auto& entry) { return !entry.second->internal; });
}

HWND WindowHandle(WindowRef w) {
    Host* h = FindHost(w);
    return h == nullptr ? nullptr : h->hwnd;
}

HWND ControlHandle(WindowRef w, std::string_view control) {
    Host* h = FindHost(w);
    if (h == nullptr) {
        return nullptr;
    }
    const int i = ControlIndexByName(*h, control);
    return i < 0 ? nullptr : h->controls[static_cast<std::size_t>(i)];
}

bool PreTranslateWindowMessage(MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSCHAR) {
        return false;
    }
    Host* h = HostOf(GetAncestor(msg.hwnd, GA_ROOT));
    if (h == nullptr || h->destroying) {
        return false;
    }
    if (msg.message == WM_SYSCHAR) {
        return ClickMnemonic(*h, static_cast<wchar_t>(msg.wParam));
    }
    const bool alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
    const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    switch (msg.wParam) {
        case VK_RETURN: {
            if (alt || ctrl) {
                return false;
            }
            // Window rule 7: the focused default button, else the first usable one.
            std::vector<ButtonState> buttons(h->controls.size());
            for (std::size_t i = 0; i < h->controls.size(); ++i) {
                const ControlTemplate& c = ControlAt(*h, i);
                HWND w = h->controls[i];
                buttons[i] = {c.kind == ControlKind::Button && (c.flags & kDefaultButton) != 0,
                              IsWindowEnabled(w) != FALSE, IsWindowVisible(w) != FALSE};
            }
            const int target = EnterTarget(buttons, ControlIndex(*h, GetFocus()));
            if (target >= 0) {
                ClickButton(*h, static_cast<std::size_t>(target));
            }
            return true;
        }
        case VK_ESCAPE:
            if (alt || ctrl) {
                return false;
            }
            if (h->cls.tmpl->esc_closes) {
                RequestClose(*h);
            }
            return true;  // no effect elsewhere, and no beep from the edit box
        case VK_TAB: {
            if (alt || ctrl) {
                return false;
            }
            const bool back = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
            HWND next = GetNextDlgTabItem(h->hwnd, GetFocus(), back ? TRUE : FALSE);
            if (next != nullptr) {
                SetFocus(next);
                if (IsEditControl(next)) {
                    SendMessageW(next, EM_SETSEL, 0, -1);
                }
            }
            return true;
        }
        default:
            return false;
    }
}

void RunMainMessageLoop() {
    MSG msg;
    for (;;) {
        const BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            return;
        }
        if (!PreTranslateWindowMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

int SystemDpi() {
    static const GetDpiForSystemFn fn = User32Function<GetDpiForSystemFn>("GetDpiForSystem");
    if (fn != nullptr) {
        return static_cast<int>(fn());
    }
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : kBaseDpi;
}

int WindowDpi(HWND hwnd) {
    static const GetDpiForWindowFn fn = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (fn != nullptr && hwnd != nullptr) {
        const UINT dpi = fn(hwnd);
        if (dpi != 0) {
            return static_cast<int>(dpi);
        }
    }
    return SystemDpi();
}

HFONT CreateUiFont(int dpi) {
    static const SpiForDpiFn spi = User32Function<SpiForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW ncm = {};
    ncm.cbSize = sizeof ncm;
    bool ok = spi != nullptr &&
              spi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, static_cast<UINT>(dpi)) != FALSE;
    if (!ok) {
        ncm = {};
        ncm.cbSize = sizeof ncm;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0) == FALSE) {
            return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        }
        ncm.lfMessageFont.lfHeight = MulDiv(ncm.lfMessageFont.lfHeight, dpi, SystemDpi());
    }
    return CreateFontIndirectW(&ncm.lfMessageFont);
}

}  // namespace ob::win32
