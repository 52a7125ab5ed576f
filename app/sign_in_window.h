// The sign-in window: first-use password set-up when it is created, and the sign-in test.
#pragma once

#include "platform/window_template.h"

namespace ob {

const WindowClass& SignInWindowClass();

}  // namespace ob
