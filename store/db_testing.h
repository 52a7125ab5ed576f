// Seams of the account store for tests: its clock, and a look at the derived-key cache.
#pragma once

#include <chrono>

namespace ob::db {

// Replaces the steady clock behind the key cache's time limits (nullptr restores it).
using StoreClock = std::chrono::steady_clock::time_point (*)();
void SetStoreClockForTesting(StoreClock clock) noexcept;

// True while the one-slot cache holds a derived key.
bool KeyCacheHeldForTesting();

}  // namespace ob::db
