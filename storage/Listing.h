#pragma once

#include "StoredRecords.h"

#include <filesystem>
#include <string>
#include <vector>

namespace morvellan::offline {

// Regular files directly in folder whose extension matches exactly. A missing
// folder lists as empty; an error while advancing throws filesystem_error.
std::vector<std::filesystem::path> ListFilesWithExtension(const std::filesystem::path& folder,
                                                          const std::string& extension);

// Readable presets and targets, sorted by name in byte order. Nothing is cached.
std::vector<PresetFile> ListPresetFiles(const PresetFormat& format, const std::filesystem::path& folder);
std::vector<SavedTarget> ListTargetFiles(const std::filesystem::path& folder);

} // namespace morvellan::offline
