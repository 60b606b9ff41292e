#pragma once

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

} // namespace halvorsted::store
