#include "StoredFiles.h"

#include "StoredRecords.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvellan::offline {

namespace fs = std::filesystem;

namespace {

constexpr size_t kCutBytes = 80;

bool IsReservedByte(unsigned char c)
{
  switch (c)
  {
    case '/': case '"': case '*': case ':': case '<': case '>': case '?': case '\\': case '|':
      return true;
    default:
      return c < 0x20;
  }
}

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

bool IsDeviceName(const std::string& name)
{
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

std::string PathText(const fs::path& path) { return path.string(); }

bool WriteAll(int fd, const std::string& text)
{
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0)
  {
    ssize_t n = ::write(fd, data, left);
    if (n < 0)
    {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Makes the rename itself durable; failure here does not undo a completed write.
void SyncFolder(const fs::path& folder)
{
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0)
  {
    ::fsync(fd);
    ::close(fd);
  }
}

// Creates the temporary file exclusively, so an existing entry (a stale file
// from a crash, or a link planted there) is never written through.
int CreateTemporary(const fs::path& temp)
{
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(temp.c_str(), flags, 0644);
  if (fd < 0 && errno == EEXIST)
  {
    struct stat st{};
    // Only a leftover plain file or link is cleared away; a folder is not ours to remove.
    if (::lstat(temp.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(temp.c_str()) == 0)
      fd = ::open(temp.c_str(), flags, 0644);
  }
  return fd;
}

} // namespace

fs::path SafeFilePath(const fs::path& folder, const std::string& name, const std::string& extension,
                      const std::string& fallback)
{
  std::string clean;
  clean.reserve(name.size());
  for (char c : name)
    clean.push_back(IsReservedByte(static_cast<unsigned char>(c)) ? '-' : c);

  if (clean.size() > kCutBytes)
  {
    size_t p = kCutBytes;
    while (p > 0 && IsContinuationByte(static_cast<unsigned char>(clean[p])))
      --p;
    clean.resize(p);
  }

  size_t first = clean.find_first_not_of(" .");
  if (first == std::string::npos)
    clean = fallback;
  else
    clean = clean.substr(first, clean.find_last_not_of(" .") - first + 1);

  if (IsDeviceName(clean))
    clean += '-';

  return folder / fs::path(clean + extension);
}

fs::path TargetFilePath(const fs::path& folder, const std::string& name)
{
  return SafeFilePath(folder, name, kTargetExtension, "Target");
}

bool PathExists(const fs::path& path)
{
  std::error_code ec;
  auto status = fs::symlink_status(path, ec);
  return !ec && status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
}

bool WriteTextFileAtomic(const fs::path& path, const std::string& text, std::string& error)
{
  error.clear();
  const std::string failure = "could not write " + PathText(path);

  // Never write relative to whatever folder the host happens to run in.
  if (!path.is_absolute() || !path.has_filename())
  {
    error = failure;
    return false;
  }

  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);

  fs::path temp = path;
  temp += ".partial";

  int fd = CreateTemporary(temp);
  if (fd < 0)
  {
    error = failure;
    return false;
  }

  bool ok = WriteAll(fd, text);
  ok = (::fsync(fd) == 0) && ok;
  ok = (::close(fd) == 0) && ok;
  if (ok)
    ok = ::rename(temp.c_str(), path.c_str()) == 0;

  if (!ok)
  {
    ::unlink(temp.c_str());
    error = failure;
    return false;
  }
  SyncFolder(path.parent_path());
  return true;
}

bool DeleteStoredFile(const fs::path& path, std::string& error)
{
  error.clear();
  struct stat st{};
  // Only files (or links) are stored here; an empty folder of the same name stays.
  if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::unlink(path.c_str()) == 0)
    return true;
  error = "could not delete " + FileNameText(path);
  return false;
}

ReadOutcome ReadSmallFile(const fs::path& path, std::uintmax_t maxBytes, std::string& contents)
{
  contents.clear();
  // Non-blocking open so that a pipe in the folder cannot stall the UI thread.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return ReadOutcome::kUnreadable;

  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
  {
    ::close(fd);
    return ReadOutcome::kUnreadable;
  }
  if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
  {
    ::close(fd);
    return ReadOutcome::kTooLarge;
  }

  // The file may grow after fstat: read at most one byte past the cap to tell.
  std::string buffer(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t have = 0;
  ReadOutcome outcome = ReadOutcome::kOk;
  for (;;)
  {
    if (have == buffer.size())
    {
      if (buffer.size() > maxBytes)
      {
        outcome = ReadOutcome::kTooLarge;
        break;
      }
      buffer.resize(std::min<std::uintmax_t>(buffer.size() * 2, maxBytes + 1));
    }
    ssize_t n = ::read(fd, buffer.data() + have, buffer.size() - have);
    if (n < 0)
    {
      if (errno == EINTR)
        continue;
      outcome = ReadOutcome::kUnreadable;
      break;
    }
    if (n == 0)
      break;
    have += static_cast<size_t>(n);
  }
  ::close(fd);
  if (outcome == ReadOutcome::kOk && have > maxBytes)
    outcome = ReadOutcome::kTooLarge;
  if (outcome == ReadOutcome::kOk)
  {
    buffer.resize(have);
    contents = std::move(buffer);
  }
  return outcome;
}

std::string SingleLine(std::string text)
{
  for (char& c : text)
    if (c == '\n')
      c = ' ';
  for (char& c : text)
    if (c == '\r')
      c = ' ';
  return text;
}

void DropTrailingCr(std::string& line)
{
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
}

std::string TrimSpacesAndTabs(const std::string& text)
{
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

NameToSave MakeNameToSave(const std::string& name)
{
  NameToSave n;
  n.trimmed = TrimSpacesAndTabs(name);
  n.stored = SingleLine(n.trimmed);
  return n;
}

std::string FileNameText(const fs::path& path) { return path.filename().string(); }

std::string FileStemText(const fs::path& path) { return path.stem().string(); }

std::string TooLargeText(const fs::path& path)
{
  return "the file is larger than 1 MiB: " + FileNameText(path);
}

} // namespace morvellan::offline
