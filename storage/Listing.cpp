#include "Listing.h"

#include "PresetFile.h"
#include "TargetFile.h"

#include <algorithm>

namespace morvellan::offline {

namespace fs = std::filesystem;

namespace {

// From the last full stop of the name on; a name that is only an extension
// (".mvpreset") has one too, unlike path::extension.
std::string ExtensionOf(const std::string& fileName)
{
  if (fileName == "." || fileName == "..")
    return {};
  const size_t dot = fileName.rfind('.');
  return dot == std::string::npos ? std::string{} : fileName.substr(dot);
}

} // namespace

std::vector<fs::path> ListFilesWithExtension(const fs::path& folder, const std::string& extension)
{
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    return files;

  fs::directory_iterator it(folder, ec);
  if (ec)
    return files;
  for (; it != fs::directory_iterator(); ++it)
  {
    std::error_code statusError;
    if (!it->is_regular_file(statusError))
      continue;
    if (ExtensionOf(it->path().filename().string()) == extension)
      files.push_back(it->path());
  }
  return files;
}

std::vector<PresetFile> ListPresetFiles(const PresetFormat& format, const fs::path& folder)
{
  std::vector<PresetFile> presets;
  for (const fs::path& path : ListFilesWithExtension(folder, format.extension))
  {
    PresetFile preset;
    std::string error;
    if (ReadPresetFile(format, path, preset, error))
      presets.push_back(std::move(preset));
  }
  std::sort(presets.begin(), presets.end(), [](const PresetFile& a, const PresetFile& b) { return a.name < b.name; });
  return presets;
}

std::vector<SavedTarget> ListTargetFiles(const fs::path& folder)
{
  std::vector<SavedTarget> targets;
  for (const fs::path& path : ListFilesWithExtension(folder, kTargetExtension))
  {
    SavedTarget target;
    std::string error;
    if (ReadTargetFile(path, target, error))
      targets.push_back(std::move(target));
  }
  std::sort(targets.begin(), targets.end(),
            [](const SavedTarget& a, const SavedTarget& b) { return a.name < b.name; });
  return targets;
}

} // namespace morvellan::offline
