#include "IPlugPaths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace iplug {

namespace {

std::filesystem::path AbsoluteFromEnv(const char* variable)
{
  const char* value = std::getenv(variable);
  if (value == nullptr || value[0] == '\0')
    return {};
  std::filesystem::path p(value);
  // Relative XDG values are invalid by the base-directory rules and must be ignored.
  return p.is_absolute() ? p : std::filesystem::path{};
}

std::filesystem::path HomeFolder()
{
  if (auto home = AbsoluteFromEnv("HOME"); !home.empty())
    return home;

  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return std::filesystem::path(found->pw_dir);
  return {};
}

} // namespace

std::filesystem::path UserDataFolder()
{
  if (auto xdg = AbsoluteFromEnv("XDG_DATA_HOME"); !xdg.empty())
    return xdg;
  auto home = HomeFolder();
  if (home.empty())
    return {};
  return home / ".local" / "share";
}

} // namespace iplug
