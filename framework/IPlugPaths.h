#pragma once

#include <filesystem>

namespace iplug {

// The per-user data folder: $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
// Empty when no home folder is known. Nothing is created.
std::filesystem::path UserDataFolder();

} // namespace iplug
