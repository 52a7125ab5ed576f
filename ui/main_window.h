// The main window: the account list, its rebuild on background threads, and its menu commands.
#pragma once

#include "platform/window_template.h"

namespace ob {

const WindowClass& MainWindowClass();

}  // namespace ob
