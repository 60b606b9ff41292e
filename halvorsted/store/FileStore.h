#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace halvorsted::store {

inline constexpr size_t kMaxWholeFileBytes = 65536;

// The whole content of a small regular file, or nothing (missing, not a regular file, over the cap).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// Writes beside the target under a ".tmp-" name and moves that over it; true when the target
// now holds exactly the content.
bool WriteFileAtomic(const std::filesystem::path& target, const std::string& content);

// An advisory lock (flock) on a lock file, exclusive across threads and processes, released
// when destroyed or when its process ends (a crashed holder leaves no lock behind). Creates the
// file, and its folder, when missing; a file it may not write is still locked for reading.
class FileLock
{
public:
  // Tries for up to `patience`, giving up early once *cancel is set. Held() says whether it got it.
  FileLock(const std::filesystem::path& file, std::chrono::milliseconds patience,
           const std::atomic<bool>* cancel = nullptr);
  ~FileLock();

  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return mHeld; }

private:
  int mFd = -1;
  bool mHeld = false;
};

} // namespace halvorsted::store
