#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace morvellan::offline {

inline constexpr int kStoredBandCount = 12;

// 12 band values in dB, band 1 (the lowest) first.
using StoredBalance = std::array<double, kStoredBandCount>;

struct SavedTarget
{
  std::string name;
  std::string source; // empty for factory targets and files without "source="
  StoredBalance balance{};
  std::filesystem::path path; // empty for factory targets
  bool factory = false;
};

struct PresetFile
{
  std::string name;
  std::vector<uint8_t> state; // the decoded state chunk
  std::filesystem::path path;
};

struct PresetFormat
{
  const char* extension;
  const char* header;
  const char* productName;
};

inline constexpr PresetFormat kPresetFormat{".mvpreset", "Morvellan preset 1", "Morvellan"};

inline constexpr const char* kTargetExtension = ".mvtarget";
inline constexpr const char* kTargetHeader = "Morvellan target 1";

// A real preset or target is a few KiB; anything larger is refused unread.
inline constexpr std::uintmax_t kMaxStoredFileBytes = 1024 * 1024;

// The per-user data folder: $XDG_DATA_HOME when it is an absolute path,
// else ~/.local/share. Empty when no home folder can be found.
std::filesystem::path UserDataFolder();

// <data folder>/Morvellan/Presets and .../Targets. Computing them creates nothing.
std::filesystem::path PresetFolderUnder(const std::filesystem::path& dataFolder);
std::filesystem::path TargetFolderUnder(const std::filesystem::path& dataFolder);

} // namespace morvellan::offline
