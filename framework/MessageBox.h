#pragma once

#include <functional>
#include <string>

namespace iplug {

enum class EMsgBoxType
{
  kOK,
  kYesNo,
};

enum class EMsgBoxResult
{
  kNoButton, // nothing was shown
  kOK,
  kYes,
  kNo,
};

// A modal message box or Yes/No question. Boxes exist only while the editor is
// open: otherwise a message is dropped and a question counts as No. Runs on the
// UI thread; the dialog is a zenity child process.
EMsgBoxResult ShowMessageBox(bool editorOpen, const std::string& text, const std::string& title, EMsgBoxType type);

// True while a box (or a test hook answering for one) is up on this thread: work that
// would destroy the control that raised it waits until the box is closed.
bool MessageBoxShowing();

// What a box would have shown, for tests.
struct MessageBoxCall
{
  std::string text;
  std::string title;
  EMsgBoxType type;
};

using MessageBoxAnswer = std::function<EMsgBoxResult(const MessageBoxCall&)>;

// Replaces the dialog while it lives (one at a time, process-wide). With
// asIfEditorOpen the boxes reach the hook even though no editor exists, so
// tests can answer questions; without it the hook sees the closed-editor rule.
class ScopedMessageBoxHook
{
public:
  ScopedMessageBoxHook(MessageBoxAnswer answer, bool asIfEditorOpen);
  ~ScopedMessageBoxHook();
  ScopedMessageBoxHook(const ScopedMessageBoxHook&) = delete;
  ScopedMessageBoxHook& operator=(const ScopedMessageBoxHook&) = delete;
};

} // namespace iplug
