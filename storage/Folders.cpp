#include "StoredRecords.h"

#include "IPlugPaths.h"

namespace morvellan::offline {

std::filesystem::path UserDataFolder()
{
  return iplug::UserDataFolder();
}

std::filesystem::path PresetFolderUnder(const std::filesystem::path& dataFolder)
{
  if (dataFolder.empty())
    return {};
  return dataFolder / "Morvellan" / "Presets";
}

std::filesystem::path TargetFolderUnder(const std::filesystem::path& dataFolder)
{
  if (dataFolder.empty())
    return {};
  return dataFolder / "Morvellan" / "Targets";
}

} // namespace morvellan::offline
