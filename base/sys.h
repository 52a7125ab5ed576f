// Small process and clock services that the portable code needs from the operating system.
#pragma once

#include <cstdint>
#include <filesystem>

namespace ob {

// Milliseconds since system start, low 32 bits (GetTickCount on Windows, CLOCK_MONOTONIC else).
std::uint32_t TickCountMs() noexcept;

// The directory of the running program file, without a trailing separator.
std::filesystem::path ProgramDirectory();

// Replaces the answer of ProgramDirectory (tests run against a temporary folder); an empty path
// restores the real one.
void SetProgramDirectoryForTesting(const std::filesystem::path& dir);

}  // namespace ob
