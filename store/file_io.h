// Durable file access for the store: whole-file reads, atomic replacement that survives a crash at
// any moment, and a lock that serialises writers across processes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace ob::fileio {

enum class ReadResult { Ok, NotFound, Failed };

// Reads the whole file into out (cleared first).
ReadResult ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out);

// Replaces the content of path with data atomically and durably: a temporary file in the same
// folder is written and flushed, then renamed over path (and the folder synced on POSIX). Returns
// true only when the new content has reached the disk. On failure path is untouched and no
// temporary file is left behind.
bool AtomicReplace(const std::filesystem::path& path, std::span<const std::uint8_t> data);

// An exclusive lock, across threads and processes, on the database at path: held while a writer
// reads the file, checks it is still the content it built on, and replaces it. Works although the
// file itself is replaced by a rename while the lock is held. Like a std::mutex it is not
// recursive (a second acquisition waits, also on the same thread) and is released (destroyed) on
// the thread that acquired it.
class WriteLock {
public:
    virtual ~WriteLock() = default;
};
// Waits up to timeout_ms for the lock; nullptr on failure or time-out.
std::unique_ptr<WriteLock> AcquireWriteLock(const std::filesystem::path& path,
                                            std::uint32_t timeout_ms);

// Failure injection for tests: the step-th step (counted from 1: create temp, write, flush,
// close, rename, sync folder) of the next AtomicReplace calls fails, 0 turns it off.
void SetAtomicReplaceFailureForTesting(int step) noexcept;

}  // namespace ob::fileio
