#include "MessageBox.h"

#include <cerrno>
#include <mutex>
#include <sys/wait.h>

#include "ChildProcess.h"

namespace iplug {

namespace {

using SharedAnswer = std::shared_ptr<std::optional<EMsgBoxResult>>;

struct Hook
{
  MessageBoxAnswer answer;
  bool asIfEditorOpen = false;
  std::vector<std::weak_ptr<std::optional<EMsgBoxResult>>> open;
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

std::once_flag gZenityMissing;

std::vector<std::string> ZenityArgs(const MessageBoxCall& call, unsigned long attachTo)
{
  std::vector<std::string> args = {"zenity", call.type == EMsgBoxType::kYesNo ? "--question" : "--info",
                                   "--no-markup", "--title=" + call.title, "--text=" + call.text};
  // Kept above the host's window: a click on the host must not bury a box it waits for.
  if (attachTo != 0)
  {
    args.emplace_back("--modal");
    args.push_back("--attach=" + std::to_string(attachTo));
  }
  return args;
}

} // namespace

struct MessageBoxes::Box
{
  EMsgBoxType type = EMsgBoxType::kOK;
  MessageBoxCompletion completion;
  pid_t child = -1;
  SharedAnswer hooked; // a test hook's answer, in place of a child

  ~Box() { EndChild(child); }

  // True once the box has closed, with its answer.
  bool Finished(EMsgBoxResult& result)
  {
    if (hooked)
    {
      std::lock_guard lock(HookMutex());
      if (!hooked->has_value())
        return false;
      result = **hooked;
      return true;
    }
    int status = 0;
    const pid_t r = waitpid(child, &status, WNOHANG);
    if (r == 0 || (r < 0 && errno == EINTR))
      return false;
    // Reaped by someone else (a host's own SIGCHLD handler): no answer we can trust.
    const bool yes = r == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r == child && WIFEXITED(status) && WEXITSTATUS(status) == 127)
      ReportMissingProgram(gZenityMissing, "zenity", "messages cannot be shown");
    child = -1;
    result = yes ? EMsgBoxResult::kYes : EMsgBoxResult::kNo;
    return true;
  }
};

MessageBoxes::MessageBoxes() = default;

MessageBoxes::~MessageBoxes() = default;

bool MessageBoxes::QuestionOpen() const
{
  for (const auto& box : mBoxes)
    if (box->type == EMsgBoxType::kYesNo)
      return true;
  return false;
}

void MessageBoxes::Show(bool editorOpen, unsigned long attachTo, const MessageBoxCall& call,
                        MessageBoxCompletion completion)
{
  std::shared_ptr<Hook> hook;
  {
    std::lock_guard lock(HookMutex());
    hook = CurrentHook();
  }
  const bool question = call.type == EMsgBoxType::kYesNo;
  const auto answerNo = [&] {
    if (question && completion)
      completion(EMsgBoxResult::kNo);
  };
  // One question at a time: a second one, from an action taken while the first is up,
  // is declined rather than stacked on top of it.
  if (!(editorOpen || (hook && hook->asIfEditorOpen)) || (question && QuestionOpen()))
  {
    answerNo();
    return;
  }

  auto box = std::make_unique<Box>();
  box->type = call.type;
  if (hook)
  {
    const std::optional<EMsgBoxResult> answer =
        hook->answer ? hook->answer(call) : std::optional<EMsgBoxResult>(EMsgBoxResult::kNoButton);
    if (!question)
      return;
    box->completion = std::move(completion);
    box->hooked = std::make_shared<std::optional<EMsgBoxResult>>(answer);
    if (!answer)
    {
      std::lock_guard lock(HookMutex());
      hook->open.push_back(box->hooked);
    }
    mBoxes.push_back(std::move(box));
    return;
  }

  box->child = SpawnChild(ZenityArgs(call, attachTo));
  if (box->child < 0)
  {
    if (errno == ENOENT)
      ReportMissingProgram(gZenityMissing, "zenity", "messages cannot be shown");
    answerNo();
    return;
  }
  box->completion = std::move(completion);
  mBoxes.push_back(std::move(box));
}

void MessageBoxes::Poll()
{
  std::vector<std::pair<MessageBoxCompletion, EMsgBoxResult>> answers;
  for (size_t i = 0; i < mBoxes.size();)
  {
    EMsgBoxResult result = EMsgBoxResult::kNo;
    if (!mBoxes[i]->Finished(result))
    {
      ++i;
      continue;
    }
    if (mBoxes[i]->type == EMsgBoxType::kYesNo && mBoxes[i]->completion)
      answers.emplace_back(std::move(mBoxes[i]->completion),
                           result == EMsgBoxResult::kYes ? EMsgBoxResult::kYes : EMsgBoxResult::kNo);
    mBoxes.erase(mBoxes.begin() + static_cast<std::ptrdiff_t>(i));
  }
  // Out of the list first: an answer may well ask the next question.
  for (auto& [completion, result] : answers)
    completion(result);
}

void MessageBoxes::DropAll()
{
  mBoxes.clear();
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

void ScopedMessageBoxHook::Answer(EMsgBoxResult result)
{
  std::lock_guard lock(HookMutex());
  if (!CurrentHook())
    return;
  for (auto& weak : CurrentHook()->open)
    if (SharedAnswer answer = weak.lock())
      *answer = result;
  CurrentHook()->open.clear();
}

} // namespace iplug
