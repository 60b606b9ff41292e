#pragma once

#include <filesystem>
#include <string>

namespace morvellan::offline {

// A display name made into a file name inside folder: reserved characters and
// control bytes become "-", cut to 80 bytes on a character boundary, spaces and
// full stops trimmed, device names defused. Touches no file.
std::filesystem::path SafeFilePath(const std::filesystem::path& folder, const std::string& name,
                                   const std::string& extension, const std::string& fallback);

std::filesystem::path TargetFilePath(const std::filesystem::path& folder, const std::string& name);

// True when the path names an entry of any kind (a dangling link counts too).
bool PathExists(const std::filesystem::path& path);

// Writes text to path so that path holds either its old content or all of the
// new one, even if the process dies mid-write.
bool WriteTextFileAtomic(const std::filesystem::path& path, const std::string& text, std::string& error);

// Removes one stored file; false when nothing was removed.
bool DeleteStoredFile(const std::filesystem::path& path, std::string& error);

enum class ReadOutcome
{
  kOk,
  kUnreadable, // missing, not a regular file, or a read error
  kTooLarge,
};

// Reads a whole regular file of at most maxBytes without following it into
// devices or pipes.
ReadOutcome ReadSmallFile(const std::filesystem::path& path, std::uintmax_t maxBytes, std::string& contents);

// Line feeds, then carriage returns, become spaces.
std::string SingleLine(std::string text);

// A line read from a file written on Windows ends in a carriage return; drop it.
void DropTrailingCr(std::string& line);

// Leading and trailing spaces and tabs removed.
std::string TrimSpacesAndTabs(const std::string& text);

// A name given to a save. The file name is derived from the trimmed name as given
// (a line break there becomes "-"), so a name maps to the same file everywhere;
// the name stored in the file, listed and compared is that name on one line.
struct NameToSave
{
  std::string trimmed; // spaces and tabs trimmed, line breaks kept
  std::string stored;  // SingleLine(trimmed)
  // Nothing but spaces, tabs and line breaks: nothing to save.
  bool Blank() const { return TrimSpacesAndTabs(stored).empty(); }
};
NameToSave MakeNameToSave(const std::string& name);

// The file's name (with extension) and stem as UTF-8 text for messages.
std::string FileNameText(const std::filesystem::path& path);
std::string FileStemText(const std::filesystem::path& path);

std::string TooLargeText(const std::filesystem::path& path);

} // namespace morvellan::offline
