#pragma once

// A folder of stand-in programs put first on PATH (or alone, for "not installed"), for the
// helper programs the editor starts (zenity, xdg-open).

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace testsupport
{

class FakePrograms
{
public:
  FakePrograms()
  : mDir(std::filesystem::temp_directory_path() / ("morvellan-services-" + std::to_string(getpid()) + "-" +
                                      std::to_string(sCount++)))
  {
    std::filesystem::create_directories(mDir);
    const char* path = std::getenv("PATH");
    mOldPath = path ? path : "";
    setenv("PATH", mDir.c_str(), 1);
  }
  ~FakePrograms()
  {
    setenv("PATH", mOldPath.c_str(), 1);
    std::error_code ec;
    std::filesystem::remove_all(mDir, ec);
  }

  // A shell script that writes its pid and then each argument on a line of its own.
  void Add(const std::string& name, const std::string& afterRecording)
  {
    const std::filesystem::path file = mDir / name;
    std::ofstream(file) << "#!/bin/sh\necho $$ > '" << Record(name).string() << "'\nprintf '%s\\n' \"$@\" >> '"
                        << Record(name).string() << "'\n" << afterRecording << "\n";
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  }
  std::filesystem::path Record(const std::string& name) const { return mDir / (name + ".args"); }
  std::vector<std::string> Lines(const std::string& name) const
  {
    std::ifstream in(Record(name));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }
  const std::filesystem::path& Dir() const { return mDir; }

private:
  static inline int sCount = 0;
  std::filesystem::path mDir;
  std::string mOldPath;
};

inline bool ProcessGone(pid_t pid)
{
  return kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace testsupport
