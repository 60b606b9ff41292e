#include "PlatformServices.h"

#include "ChildProcess.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace iplug::igraphics
{

namespace
{

std::mutex& HookMutex()
{
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<FileChooserAnswer>& ChooserHook()
{
  static std::shared_ptr<FileChooserAnswer> hook;
  return hook;
}

std::shared_ptr<std::function<bool(const std::string&)>>& UrlHook()
{
  static std::shared_ptr<std::function<bool(const std::string&)>> hook;
  return hook;
}

std::once_flag gZenityMissing;
std::once_flag gXdgOpenMissing;

// "wav aif" -> "*.[wW][aA][vV] *.[aA][iI][fF]": GTK matches patterns case-sensitively.
std::string CaseFreePatterns(const std::string& extensions)
{
  std::string patterns, ext;
  const auto flush = [&] {
    bool usable = !ext.empty();
    for (char c : ext)
      usable = usable && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
    if (usable)
    {
      if (!patterns.empty())
        patterns += ' ';
      patterns += "*.";
      for (char c : ext)
      {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u))
        {
          patterns += '[';
          patterns += static_cast<char>(std::tolower(u));
          patterns += static_cast<char>(std::toupper(u));
          patterns += ']';
        }
        else
          patterns += c;
      }
    }
    ext.clear();
  };
  for (char c : extensions)
  {
    if (c == ' ' || c == ',' || c == ';')
      flush();
    else if (c != '.' || !ext.empty())
      ext += c;
  }
  flush();
  return patterns;
}

std::vector<std::string> ZenityArgs(const FileChooserCall& call)
{
  const bool save = call.action == EFileAction::Save;
  std::vector<std::string> args = {"zenity", "--file-selection"};
  if (save)
  {
    args.emplace_back("--save");
    args.emplace_back("--confirm-overwrite");
  }
  args.push_back(std::string("--title=") + (save ? "Save file" : "Choose a file"));
  if (!call.folder.empty() || !call.fileName.empty())
  {
    std::string start = call.folder;
    if (!start.empty() && start.back() != '/')
      start += '/';
    start += call.fileName;
    args.push_back("--filename=" + start);
  }
  const std::string patterns = CaseFreePatterns(call.extensions);
  if (!patterns.empty())
    args.push_back("--file-filter=Supported files | " + patterns);
  args.emplace_back("--file-filter=All files | *");
  return args;
}

class AnsweredChooser final : public FileChooserProcess
{
public:
  explicit AnsweredChooser(std::string path) : mPath(std::move(path)) {}
  bool Poll(std::string& path) override
  {
    path = mPath;
    return true;
  }

private:
  std::string mPath;
};

class ZenityChooser final : public FileChooserProcess
{
public:
  ZenityChooser(pid_t child, int fd) : mChild(child), mFd(fd) {}

  ~ZenityChooser() override
  {
    EndChild(mChild);
    if (mFd >= 0)
      close(mFd);
  }

  bool Poll(std::string& path) override
  {
    path.clear();
    Drain();
    if (mChild > 0)
    {
      int status = 0;
      const pid_t r = waitpid(mChild, &status, WNOHANG);
      if (r == 0)
        return false;
      if (r == mChild)
        mChosen = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      else if (errno == EINTR)
        return false;
      else // reaped by someone else: a finished line is all we can go by
        mChosen = !mOutput.empty() && mOutput.back() == '\n';
      if (r == mChild && WIFEXITED(status) && WEXITSTATUS(status) == 127)
        ReportMissingProgram(gZenityMissing, "zenity", "no file chooser can be shown");
      mChild = -1;
      Drain();
    }
    if (mChosen)
    {
      path = mOutput.substr(0, mOutput.find('\n'));
      if (!path.empty() && path.back() == '\r')
        path.pop_back();
    }
    return true;
  }

private:
  void Drain()
  {
    if (mFd < 0)
      return;
    char buf[4096];
    for (;;)
    {
      const ssize_t n = read(mFd, buf, sizeof buf);
      if (n > 0)
      {
        // A path is short; anything beyond a few pages is not an answer we use.
        if (mOutput.size() < 65536)
          mOutput.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n == 0)
      {
        close(mFd);
        mFd = -1;
      }
      return;
    }
  }

  pid_t mChild;
  int mFd;
  std::string mOutput;
  bool mChosen = false;
};

std::mutex& LauncherMutex()
{
  static std::mutex mutex;
  return mutex;
}

std::vector<pid_t>& Launchers()
{
  static std::vector<pid_t> launchers;
  return launchers;
}

void ReapLaunchers()
{
  auto& launchers = Launchers();
  for (size_t i = 0; i < launchers.size();)
  {
    const pid_t r = waitpid(launchers[i], nullptr, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR))
      ++i;
    else
      launchers.erase(launchers.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

// Only web addresses: a feed must not make us open a local file or hand xdg-open an option.
bool IsWebUrl(const std::string& url)
{
  const auto startsWith = [&](const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i)
      if (i >= url.size() || std::tolower(static_cast<unsigned char>(url[i])) != prefix[i])
        return false;
    return url.size() > i;
  };
  if (!startsWith("http://") && !startsWith("https://"))
    return false;
  for (char c : url)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
      return false;
  return true;
}

} // namespace

std::unique_ptr<FileChooserProcess> FileChooserProcess::Start(const FileChooserCall& call)
{
  std::shared_ptr<FileChooserAnswer> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = ChooserHook();
  }
  if (hook)
    return std::make_unique<AnsweredChooser>(*hook ? (*hook)(call) : std::string());

  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    return std::make_unique<AnsweredChooser>(std::string());
  const pid_t child = SpawnChild(ZenityArgs(call), fds[1]);
  const int spawnErr = errno;
  close(fds[1]);
  if (child < 0)
  {
    close(fds[0]);
    if (spawnErr == ENOENT)
      ReportMissingProgram(gZenityMissing, "zenity", "no file chooser can be shown");
    return std::make_unique<AnsweredChooser>(std::string());
  }
  return std::make_unique<ZenityChooser>(child, fds[0]);
}

bool LaunchUrl(const std::string& url)
{
  if (!IsWebUrl(url))
    return false;
  std::shared_ptr<std::function<bool(const std::string&)>> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = UrlHook();
  }
  if (hook)
    return *hook && (*hook)(url);

  std::lock_guard lock(LauncherMutex());
  ReapLaunchers();
  const pid_t child = SpawnChild({"xdg-open", url});
  if (child < 0)
  {
    if (errno == ENOENT)
      ReportMissingProgram(gXdgOpenMissing, "xdg-open", "web links cannot be opened");
    return false;
  }
  Launchers().push_back(child);
  return true;
}

ScopedFileChooserHook::ScopedFileChooserHook(FileChooserAnswer answer)
{
  auto hook = std::make_shared<FileChooserAnswer>(std::move(answer));
  std::lock_guard lock(HookMutex());
  ChooserHook() = std::move(hook);
}

ScopedFileChooserHook::~ScopedFileChooserHook()
{
  std::lock_guard lock(HookMutex());
  ChooserHook().reset();
}

ScopedOpenUrlHook::ScopedOpenUrlHook(std::function<bool(const std::string& url)> open)
{
  auto hook = std::make_shared<std::function<bool(const std::string&)>>(std::move(open));
  std::lock_guard lock(HookMutex());
  UrlHook() = std::move(hook);
}

ScopedOpenUrlHook::~ScopedOpenUrlHook()
{
  std::lock_guard lock(HookMutex());
  UrlHook().reset();
}

} // namespace iplug::igraphics
