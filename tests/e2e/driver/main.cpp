// The end-to-end driver: runs the scenarios one after another against the real program and prints
// one PASS / FAIL / NOT RUN line per scenario; exits non-zero when any scenario failed.
#include <windows.h>

#include <chrono>
#include <cwchar>
#include <string>

#include "tests/e2e/driver/harness.h"
#include "tests/e2e/driver/scenario.h"

namespace e2e {

std::vector<Scenario>& Registry() {
    static std::vector<Scenario> all;
    return all;
}

}  // namespace e2e

namespace {

using namespace e2e;

bool Selected(const std::wstring& name, const std::wstring& only) {
    if (only.empty()) {
        return true;
    }
    size_t start = 0;
    while (start <= only.size()) {
        size_t end = only.find(L',', start);
        std::wstring pat = only.substr(start, end == std::wstring::npos ? end : end - start);
        bool prefix = !pat.empty() && pat.back() == L'*';
        if (prefix ? name.compare(0, pat.size() - 1, pat, 0, pat.size() - 1) == 0 : name == pat) {
            return true;
        }
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

int Usage() {
    Out(L"usage: e2e_driver --program EXE --fixtures DIR --recorder EXE --fixture-tool EXE"
        L" --work DIR [--shots DIR]"
        L" [--label NAME] [--report FILE] [--only NAME,PREFIX*] [--scale X] [--list]");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Config c;
    std::wstring only;
    bool list = false;
    fs::path report;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto next = [&]() -> std::wstring { return i + 1 < argc ? argv[++i] : L""; };
        if (a == L"--program") {
            c.program = next();
        } else if (a == L"--fixtures") {
            c.fixtures = next();
        } else if (a == L"--recorder") {
            c.recorder = next();
        } else if (a == L"--fixture-tool") {
            c.fixture_tool = next();
        } else if (a == L"--work") {
            c.work = next();
        } else if (a == L"--shots") {
            c.shots = next();
        } else if (a == L"--label") {
            c.label = next();
        } else if (a == L"--report") {
            report = next();
        } else if (a == L"--only") {
            only = next();
        } else if (a == L"--scale") {
            c.time_scale = std::wcstod(next().c_str(), nullptr);
        } else if (a == L"--list") {
            list = true;
        } else {
            return Usage();
        }
    }
    if (list) {
        for (const Scenario& s : Registry()) {
            Out(s.name);
        }
        return 0;
    }
    if (c.program.empty() || c.work.empty()) {
        return Usage();
    }
    if (c.time_scale <= 0) {
        c.time_scale = 1;
    }
    if (c.label.empty()) {
        c.label = L"run";
    }
    if (!report.empty()) {
        OpenReport(report);
    }
    fs::create_directories(c.work);
    if (!c.shots.empty()) {
        fs::create_directories(c.shots);
    }
    SetConfig(c);
    Out(L"driver: ANSI code page " + std::to_wstring(GetACP()) + L", screen " +
        std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L"x" +
        std::to_wstring(GetSystemMetrics(SM_CYSCREEN)) + L", label " + c.label);

    const bool built = fs::exists(c.program);
    int passed = 0, failed = 0, not_run = 0;
    for (const Scenario& s : Registry()) {
        if (!Selected(s.name, only)) {
            continue;
        }
        if (!built) {
            ++not_run;
            Out(L"NOT RUN " + s.name + L" (the program is not built)");
            continue;
        }
        auto start = std::chrono::steady_clock::now();
        SetScenarioDeadline(start + std::chrono::milliseconds(Ms(s.limit_s * 1000)));
        std::wstring error;
        try {
            s.run();
        } catch (const NotRun& n) {
            SetScenarioDeadline(std::chrono::steady_clock::time_point::max());
            ++not_run;
            Out(L"NOT RUN " + s.name + L" (" + n.reason + L")");
            continue;
        } catch (const Failure& f) {
            error = f.message;
        } catch (const std::exception& e) {
            error = L"exception: " + FromUtf8(e.what());
        }
        SetScenarioDeadline(std::chrono::steady_clock::time_point::max());
        double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        wchar_t took[32];
        swprintf(took, 32, L" (%.1f s)", secs);
        if (error.empty()) {
            ++passed;
            Out(L"PASS " + s.name + took);
        } else {
            ++failed;
            Out(L"FAIL " + s.name + took + L": " + error);
        }
    }
    Out(L"driver: " + std::to_wstring(passed) + L" passed, " + std::to_wstring(failed) +
        L" failed, " + std::to_wstring(not_run) + L" not run");
    return failed == 0 ? 0 : 1;
}
