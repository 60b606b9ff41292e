#pragma once

#include "StoredRecords.h"

#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace morvellan::offline {

bool WriteTargetFile(const std::filesystem::path& folder, const std::string& name, const std::string& source,
                     const StoredBalance& balance, std::string& error);

// Parses one target text; label names the text in messages and is the fallback name.
bool ParseTarget(std::istream& in, SavedTarget& target, std::string& error, const std::string& label);

bool ReadTargetFile(const std::filesystem::path& path, SavedTarget& target, std::string& error);

// The six built-in targets, parsed afresh on every call, sorted by name.
std::vector<SavedTarget> FactoryTargets();

// The target file's text exactly as WriteTargetFile stores it.
std::string FormatTargetText(const std::string& name, const std::string& source, const StoredBalance& balance);

} // namespace morvellan::offline
