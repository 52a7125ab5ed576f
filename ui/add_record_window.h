// The add-record window: entry of a new account, with the random password button.
#pragma once

#include "platform/window_template.h"

namespace ob {

const WindowClass& AddRecordWindowClass();

}  // namespace ob
