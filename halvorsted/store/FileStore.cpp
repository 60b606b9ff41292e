#include "halvorsted/store/FileStore.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace halvorsted::store {

namespace {

class FileDescriptor
{
public:
  explicit FileDescriptor(int fd) : mFd(fd) {}
  ~FileDescriptor()
  {
    if (mFd >= 0)
      ::close(mFd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return mFd; }
  // Close now and report whether the kernel accepted the data.
  bool Close()
  {
    const int fd = mFd;
    mFd = -1;
    return ::close(fd) == 0;
  }

private:
  int mFd;
};

bool WriteAll(int fd, const std::string& content)
{
  size_t done = 0;
  while (done < content.size())
  {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0)
    {
      if (errno == EINTR)
        continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void RemoveQuietly(const std::filesystem::path& path)
{
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path)
{
  try
  {
    // Non-blocking so a FIFO in the file's place cannot hang the caller.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0)
      return std::nullopt;
    struct stat info{};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
      return std::nullopt;

    // One byte past the cap is enough to tell an over-long file, whatever its size claims.
    std::string content(kMaxWholeFileBytes + 1, '\0');
    size_t got = 0;
    while (got < content.size())
    {
      const ssize_t n = ::read(file.Get(), content.data() + got, content.size() - got);
      if (n < 0)
      {
        if (errno == EINTR)
          continue;
        return std::nullopt;
      }
      if (n == 0)
        break;
      got += static_cast<size_t>(n);
    }
    if (got > kMaxWholeFileBytes)
      return std::nullopt;
    content.resize(got);
    return content;
  }
  catch (...)
  {
    return std::nullopt;
  }
}

bool WriteFileAtomic(const std::filesystem::path& target, const std::string& content)
{
  try
  {
    const std::filesystem::path folder = target.parent_path();
    if (!folder.empty())
    {
      std::error_code ignored;
      std::filesystem::create_directories(folder, ignored);
    }

    std::random_device device;
    const auto number = static_cast<uint32_t>(device());
    std::filesystem::path temporary = target;
    temporary += ".tmp-" + std::to_string(number);

    // O_NOFOLLOW: a link planted under the temporary name must not redirect the write.
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (file.Get() < 0)
      return false;
    const bool written = WriteAll(file.Get(), content) && ::fsync(file.Get()) == 0;
    if (!file.Close() || !written)
    {
      RemoveQuietly(temporary);
      return false;
    }
    // rename() refuses to replace a folder with a file, so a folder in the target's place fails here.
    if (::rename(temporary.c_str(), target.c_str()) != 0)
    {
      RemoveQuietly(temporary);
      return false;
    }
    return true;
  }
  catch (...)
  {
    return false;
  }
}

FileLock::FileLock(const std::filesystem::path& file, std::chrono::milliseconds patience,
                   const std::atomic<bool>* cancel)
{
  try
  {
    if (const auto folder = file.parent_path(); !folder.empty())
    {
      std::error_code ignored;
      std::filesystem::create_directories(folder, ignored);
    }
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    mFd = ::open(file.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (mFd < 0)
      mFd = ::open(file.c_str(), O_RDONLY | kFlags);
    if (mFd < 0)
      return;
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;)
    {
      if (::flock(mFd, LOCK_EX | LOCK_NB) == 0)
      {
        mHeld = true;
        return;
      }
      // Anything but a lock held elsewhere (no locks on this file system, ...) is final.
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline ||
          (cancel && cancel->load(std::memory_order_acquire)))
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  catch (...)
  {
    mHeld = false;
  }
}

FileLock::~FileLock()
{
  // Closing the descriptor releases the lock.
  if (mFd >= 0)
    ::close(mFd);
}

} // namespace halvorsted::store
