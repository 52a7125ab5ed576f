// Which parts of the program the scenarios need, and whether they are in the program yet: a
// scenario whose part has not landed is reported as not run, never as passed.
#pragma once

#include <string>

namespace e2e {

// Empty when the part has landed; otherwise why the scenarios that need it are not run.
inline const std::wstring kNeedsProgram = L"";
inline const std::wstring kNeedsSignIn = L"the sign-in window has not landed";
inline const std::wstring kNeedsMainList = L"the main window's account list has not landed";
inline const std::wstring kNeedsAddRecord = L"the add-record window has not landed";
inline const std::wstring kNeedsMenu = L"the list's right-click menu has not landed";

}  // namespace e2e
