// Stand-in URL handler for the end-to-end suite: registered in the suite's Wine prefix as the
// shell's handler of the web protocols, it appends what it was asked to open, as one UTF-8 line,
// to opened.txt beside itself, and ends.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR args, int) {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring log(self, n);
    log = log.substr(0, log.rfind(L'\\') + 1) + L"opened.txt";
    // The handler is registered as: recorder.exe --open "%1"; record what follows "--open ".
    std::wstring a = args != nullptr ? args : L"";
    const std::wstring flag = L"--open ";
    size_t at = a.find(flag);
    std::wstring what = at == std::wstring::npos ? a : a.substr(at + flag.size());
    if (what.size() >= 2 && what.front() == L'"' && what.back() == L'"') {
        what = what.substr(1, what.size() - 2);
    }
    int len = WideCharToMultiByte(CP_UTF8, 0, what.c_str(), static_cast<int>(what.size()), nullptr,
                                  0, nullptr, nullptr);
    std::string line(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, what.c_str(), static_cast<int>(what.size()), line.data(), len,
                        nullptr, nullptr);
    line += "\n";
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(f);
    return 0;
}
