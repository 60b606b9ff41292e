#pragma once

#include <exception>
#include <functional>
#include <string>

#include "IEditorDelegate.h"
#include "MessageBox.h"

// Message boxes of the preset and target actions: shown only while the editor
// is open; without one a message is dropped and a question counts as No.
namespace morvellan::actions {

// While an action runs for a host message, its message also goes back to the
// host, which has no editor to show it in.
inline thread_local std::string* tReportTo = nullptr;

class ReportMessagesTo
{
public:
  explicit ReportMessagesTo(std::string& text) : mPrevious(tReportTo) { tReportTo = &text; }
  ~ReportMessagesTo() { tReportTo = mPrevious; }
  ReportMessagesTo(const ReportMessagesTo&) = delete;
  ReportMessagesTo& operator=(const ReportMessagesTo&) = delete;

private:
  std::string* mPrevious;
};

inline void Tell(iplug::IEditorDelegate& plug, const std::string& title, const std::string& text)
{
  if (tReportTo)
    *tReportTo = text;
  plug.ShowMessageBox(text, title, iplug::EMsgBoxType::kOK);
}

// The host's UI thread does not wait for the answer: onYes runs later, from the editor's
// frame, and only for a Yes. No, a closed box, a closed editor or a question already open
// leave it unrun, so the action ends with nothing changed.
inline void AskThen(iplug::IEditorDelegate& plug, const std::string& title, const std::string& text,
                    std::function<void()> onYes)
{
  plug.ShowMessageBox(text, title, iplug::EMsgBoxType::kYesNo,
                      [onYes = std::move(onYes)](iplug::EMsgBoxResult result) {
                        if (result == iplug::EMsgBoxResult::kYes)
                          onYes();
                      });
}

inline std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The report of a failure that escaped a body: the dialog itself may fail too
// (out of memory, no helper process), and that must not unwind into the host.
inline void TellFromGuard(iplug::IEditorDelegate& plug, const char* title, const char* prefix,
                          const char* what) noexcept
{
  try
  {
    Tell(plug, title, prefix + std::string(what));
  }
  catch (...)
  {
  }
}

// The guarded entry of an action: whatever escapes the body is reported under
// the action's title and prefix, and the plug-in carries on.
template <class Body>
void Guarded(iplug::IEditorDelegate& plug, const char* title, const char* prefix, Body&& body) noexcept
{
  try
  {
    body();
  }
  catch (const std::exception& e)
  {
    TellFromGuard(plug, title, prefix, e.what());
  }
  catch (...)
  {
    TellFromGuard(plug, title, prefix, "an unexpected error occurred");
  }
}

} // namespace morvellan::actions
