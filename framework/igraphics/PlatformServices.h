#pragma once

// The desktop services behind IGraphics: the file chooser (zenity) and the web browser
// (xdg-open), each run as a child process with an argument vector, never a shell, and
// each behind a hook that tests drive. Nothing here blocks the UI thread.

#include <functional>
#include <memory>
#include <string>

#include "IGraphicsStructs.h"

namespace iplug::igraphics
{

struct FileChooserCall
{
  EFileAction action = EFileAction::Open;
  std::string extensions; // space-separated, without dots: "wav flac"
  std::string folder;     // start folder, may be empty
  std::string fileName;   // proposed name, may be empty
};

// The chosen file's full path, or empty for a cancel.
using FileChooserAnswer = std::function<std::string(const FileChooserCall&)>;

// A running file chooser, polled on the UI thread. Destroying it ends a chooser that
// is still open (no result) and leaves no child process behind.
class FileChooserProcess
{
public:
  // Starts the chooser (or asks the hook, which answers at once). A chooser that cannot
  // be started finishes at once as a cancel.
  static std::unique_ptr<FileChooserProcess> Start(const FileChooserCall& call);
  virtual ~FileChooserProcess() = default;
  // True once finished; then path holds the chosen file (empty for a cancel).
  virtual bool Poll(std::string& path) = 0;
};

// Opens url in the user's browser without waiting for it; false when that could not
// be started. Finished browser launchers are reaped on later calls.
bool LaunchUrl(const std::string& url);

// Replaces the chooser while it lives (one at a time, process-wide).
class ScopedFileChooserHook
{
public:
  explicit ScopedFileChooserHook(FileChooserAnswer answer);
  ~ScopedFileChooserHook();
  ScopedFileChooserHook(const ScopedFileChooserHook&) = delete;
  ScopedFileChooserHook& operator=(const ScopedFileChooserHook&) = delete;
};

// Replaces the browser while it lives: the hook receives each URL and answers success.
class ScopedOpenUrlHook
{
public:
  explicit ScopedOpenUrlHook(std::function<bool(const std::string& url)> open);
  ~ScopedOpenUrlHook();
  ScopedOpenUrlHook(const ScopedOpenUrlHook&) = delete;
  ScopedOpenUrlHook& operator=(const ScopedOpenUrlHook&) = delete;
};

} // namespace iplug::igraphics
