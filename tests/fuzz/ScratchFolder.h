#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// A private folder under the temp folder (TMPDIR; the fuzz script points it at memory) for
// targets whose reader takes a path, made on first use and removed when the process exits.
inline const std::filesystem::path& ScratchFolder()
{
  struct Owned
  {
    Owned()
    {
      std::string pattern = (std::filesystem::temp_directory_path() / "morvellan-fuzz-XXXXXX").string();
      if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
      path = pattern;
    }
    ~Owned()
    {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
  };
  static const Owned folder;
  return folder.path;
}

// An empty folder of this name inside the scratch folder.
inline std::filesystem::path FreshFolder(const char* name)
{
  const std::filesystem::path folder = ScratchFolder() / name;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::filesystem::create_directories(folder, ec);
  return folder;
}

} // namespace fuzz
