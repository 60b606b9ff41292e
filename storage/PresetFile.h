#pragma once

#include "StoredRecords.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace morvellan::offline {

std::string Base64Encode(const std::vector<uint8_t>& bytes);
bool Base64Decode(const std::string& text, std::vector<uint8_t>& out);

bool WritePresetFile(const PresetFormat& format, const std::filesystem::path& folder, const std::string& name,
                     const std::vector<uint8_t>& state, std::string& error);

bool ReadPresetFile(const PresetFormat& format, const std::filesystem::path& path, PresetFile& preset,
                    std::string& error);

// Where the preset of this name is stored: the file that already holds a preset
// of exactly this name, else the first free numbered name. Empty when all
// candidates hold other presets.
std::filesystem::path PresetFilePath(const PresetFormat& format, const std::filesystem::path& folder,
                                     const std::string& name);

std::string FormatPresetText(const PresetFormat& format, const std::string& name, const std::vector<uint8_t>& state);

} // namespace morvellan::offline
