#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// What a box shows.
struct MessageBoxCall
{
  std::string text;
  std::string title;
  EMsgBoxType type;
};

// A question's answer, on the UI thread. Only kYes counts as consent.
using MessageBoxCompletion = std::function<void(EMsgBoxResult)>;

// The message boxes of one plug-in instance, as zenity child processes that nobody waits
// for: the host's UI thread goes back to its loop at once and Poll, from that thread's
// timer, picks the answers up. Boxes exist only while the editor is open.
// UI thread only.
class MessageBoxes
{
public:
  MessageBoxes();
  // Open boxes end with their answers dropped; no child is left behind.
  ~MessageBoxes();
  MessageBoxes(const MessageBoxes&) = delete;
  MessageBoxes& operator=(const MessageBoxes&) = delete;

  // A message (kOK) is shown and forgotten; its completion, if any, never runs. A question
  // is answered later through completion from Poll, or at once with kNo when no editor is
  // open, when this instance already has a question open, or when no dialog can be shown.
  // attachTo is the host's top-level window the box stays above (0: none known).
  void Show(bool editorOpen, unsigned long attachTo, const MessageBoxCall& call, MessageBoxCompletion completion);
  // Delivers the answers of boxes that closed since the last call and reaps their children.
  void Poll();
  // The editor closed: every open box ends and its answer is dropped (counts as No).
  void DropAll();
  bool QuestionOpen() const;

private:
  struct Box;
  std::vector<std::unique_ptr<Box>> mBoxes;
};

// A test's stand-in for the dialog: called with what a box would show. Its answer reaches
// the question's completion on the next Poll, as a real answer would; std::nullopt leaves
// the box open until ScopedMessageBoxHook::Answer.
using MessageBoxAnswer = std::function<std::optional<EMsgBoxResult>(const MessageBoxCall&)>;

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

  // Answers every box this hook left open; the answers arrive on the next Poll.
  void Answer(EMsgBoxResult result);
};

} // namespace iplug
