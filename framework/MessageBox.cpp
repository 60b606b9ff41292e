#include "MessageBox.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace iplug {

namespace {

struct Hook
{
  MessageBoxAnswer answer;
  bool asIfEditorOpen = false;
};

std::mutex& HookMutex()
{
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<Hook>& CurrentHook()
{
  static std::shared_ptr<Hook> hook;
  return hook;
}

// Runs zenity and waits for it: 1 for OK or Yes, 0 for anything else, -1 when no box
// could be shown.
int RunDialog(const std::string& text, const std::string& title, EMsgBoxType type)
{
  std::vector<std::string> args = {"zenity", type == EMsgBoxType::kYesNo ? "--question" : "--info",
                                   "--no-markup", "--title=" + title, "--text=" + text};
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t child = 0;
  const int err = posix_spawnp(&child, "zenity", nullptr, nullptr, argv.data(), environ);
  if (err != 0)
  {
    // Said once: without zenity every box is dropped and every question is a No.
    static std::once_flag reported;
    if (err == ENOENT)
      std::call_once(reported,
                     [] { std::fprintf(stderr, "Morvellan: zenity is not installed, so messages cannot be shown\n"); });
    return -1;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
  {
    if (errno != EINTR)
      return 0;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}

thread_local int tBoxDepth = 0;

struct BoxDepth
{
  BoxDepth() { ++tBoxDepth; }
  ~BoxDepth() { --tBoxDepth; }
};

} // namespace

bool MessageBoxShowing()
{
  return tBoxDepth > 0;
}

ScopedMessageBoxHook::ScopedMessageBoxHook(MessageBoxAnswer answer, bool asIfEditorOpen)
{
  auto hook = std::make_shared<Hook>();
  hook->answer = std::move(answer);
  hook->asIfEditorOpen = asIfEditorOpen;
  std::lock_guard lock(HookMutex());
  CurrentHook() = std::move(hook);
}

ScopedMessageBoxHook::~ScopedMessageBoxHook()
{
  std::lock_guard lock(HookMutex());
  CurrentHook().reset();
}

EMsgBoxResult ShowMessageBox(bool editorOpen, const std::string& text, const std::string& title, EMsgBoxType type)
{
  std::shared_ptr<Hook> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = CurrentHook();
  }
  const bool open = editorOpen || (hook && hook->asIfEditorOpen);
  if (!open)
    return type == EMsgBoxType::kYesNo ? EMsgBoxResult::kNo : EMsgBoxResult::kNoButton;

  const BoxDepth depth;
  // Only Yes counts as consent; anything else a hook says is a No.
  if (hook)
  {
    EMsgBoxResult result = hook->answer ? hook->answer(MessageBoxCall{text, title, type}) : EMsgBoxResult::kNoButton;
    if (type == EMsgBoxType::kYesNo)
      return result == EMsgBoxResult::kYes ? EMsgBoxResult::kYes : EMsgBoxResult::kNo;
    return EMsgBoxResult::kOK;
  }

  const int answer = RunDialog(text, title, type);
  if (type == EMsgBoxType::kYesNo)
    return answer == 1 ? EMsgBoxResult::kYes : EMsgBoxResult::kNo;
  return answer < 0 ? EMsgBoxResult::kNoButton : EMsgBoxResult::kOK;
}

} // namespace iplug
