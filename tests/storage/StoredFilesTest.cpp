#include "StoredFiles.h"
#include "StoredRecords.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sys/stat.h>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

std::string FileName(const std::string& name, const std::string& ext = ".mvpreset",
                     const std::string& fallback = "Preset")
{
  return SafeFilePath("/f", name, ext, fallback).filename().string();
}

TEST(SafeFilePath, ReplacesReservedAndControlBytes)
{
  EXPECT_EQ(FileName("a/b:c*d?"), "a-b-c-d-.mvpreset");
  EXPECT_EQ(FileName("x\"y<z>w\\v|u"), "x-y-z-w-v-u.mvpreset");
  EXPECT_EQ(FileName("one\ntwo"), "one-two.mvpreset");
  EXPECT_EQ(FileName("\tWarm"), "-Warm.mvpreset");
  EXPECT_EQ(FileName(std::string("a\x01z\x7f", 4)), std::string("a-z\x7f.mvpreset"));
  // Non-ASCII passes untouched.
  EXPECT_EQ(FileName("W\xC3\xA4rme"), "W\xC3\xA4rme.mvpreset");
  // Names that differ only in case stay different file names.
  EXPECT_NE(FileName("Warm"), FileName("warm"));
}

TEST(SafeFilePath, TrimsAndFallsBack)
{
  EXPECT_EQ(FileName("  ..Warm.. "), "Warm.mvpreset");
  EXPECT_EQ(FileName("..."), "Preset.mvpreset");
  EXPECT_EQ(FileName(""), "Preset.mvpreset");
  EXPECT_EQ(FileName("."), "Preset.mvpreset");
  EXPECT_EQ(FileName(".."), "Preset.mvpreset");
  EXPECT_EQ(FileName("", ".mvtarget", "Target"), "Target.mvtarget");
  // Nothing ever escapes the folder.
  EXPECT_EQ(SafeFilePath("/f", "../../etc/passwd", ".x", "P").parent_path(), fs::path("/f"));
  EXPECT_EQ(TargetFilePath("/f", "a/b"), TargetFilePath("/f", "a-b"));
}

TEST(SafeFilePath, DefusesDeviceNames)
{
  EXPECT_EQ(FileName("con"), "con-.mvpreset");
  EXPECT_EQ(FileName("Aux.old"), "Aux.old-.mvpreset");
  EXPECT_EQ(FileName("com7"), "com7-.mvpreset");
  EXPECT_EQ(FileName("LPT1"), "LPT1-.mvpreset");
  EXPECT_EQ(FileName("COM0"), "COM0.mvpreset");
  EXPECT_EQ(FileName("console"), "console.mvpreset");
  EXPECT_EQ(FileName("NUL2"), "NUL2.mvpreset");
}

TEST(SafeFilePath, CutsAtCharacterBoundary)
{
  EXPECT_EQ(FileName(std::string(100, 'a')), std::string(80, 'a') + ".mvpreset");
  // Bytes 79 and 80 form one two-byte character: cut before it.
  std::string split = std::string(79, 'b') + "\xC3\xA9" + "tail";
  EXPECT_EQ(FileName(split), std::string(79, 'b') + ".mvpreset");
  // The cut comes before trimming.
  EXPECT_EQ(FileName(std::string(79, 'c') + " more text"), std::string(79, 'c') + ".mvpreset");
}

TEST(SingleLine, ReplacesLineBreaksOnly)
{
  EXPECT_EQ(SingleLine("a\r\nb\nc\rd\te"), "a  b c d\te");
  EXPECT_EQ(TrimSpacesAndTabs(" \t Warm \t"), "Warm");
  EXPECT_EQ(TrimSpacesAndTabs(" \t "), "");
}

TEST(WriteTextFileAtomic, CreatesFoldersAndReplacesWholeContent)
{
  TempFolder tmp;
  fs::path dest = tmp.Path() / "new" / "deeper" / "Warm.mvpreset";
  std::string error;
  ASSERT_TRUE(WriteTextFileAtomic(dest, "first content that is long\n", error)) << error;
  EXPECT_EQ(ReadBytes(dest), "first content that is long\n");
  ASSERT_TRUE(WriteTextFileAtomic(dest, std::string("x\r\n\0y", 5), error));
  EXPECT_EQ(ReadBytes(dest), std::string("x\r\n\0y", 5));
  EXPECT_FALSE(fs::exists(dest.string() + ".partial"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dest.parent_path()), fs::directory_iterator()), 1);
}

TEST(WriteTextFileAtomic, FailureKeepsOldContentAndLeavesNoTemporary)
{
  TempFolder tmp;
  // A folder where the file should be: rename cannot replace it.
  fs::path dest = tmp.Path() / "Blocked.mvtarget";
  fs::create_directory(dest);
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomic(dest, "text", error));
  EXPECT_EQ(error, "could not write " + dest.string());
  EXPECT_TRUE(fs::is_directory(dest));
  EXPECT_FALSE(fs::exists(dest.string() + ".partial"));

  // A file where the folder should be.
  fs::path notFolder = tmp.Path() / "plain";
  WriteBytes(notFolder, "keep");
  EXPECT_FALSE(WriteTextFileAtomic(notFolder / "x.mvtarget", "text", error));
  EXPECT_EQ(ReadBytes(notFolder), "keep");

  // A relative destination is refused rather than written beside the host.
  EXPECT_FALSE(WriteTextFileAtomic("Relative.mvpreset", "text", error));
  EXPECT_FALSE(fs::exists("Relative.mvpreset"));
}

TEST(WriteTextFileAtomic, NeverWritesThroughAPlantedLink)
{
  TempFolder tmp;
  fs::path victim = tmp.Path() / "victim.txt";
  WriteBytes(victim, "precious");
  fs::path dest = tmp.Path() / "Warm.mvpreset";
  fs::create_symlink(victim, dest.string() + ".partial");
  std::string error;
  ASSERT_TRUE(WriteTextFileAtomic(dest, "new", error)) << error;
  EXPECT_EQ(ReadBytes(victim), "precious");
  EXPECT_EQ(ReadBytes(dest), "new");
  EXPECT_FALSE(fs::is_symlink(dest));

  // A stale temporary from a crash is cleared away, not appended to.
  WriteBytes(dest.string() + ".partial", "stale stale stale");
  ASSERT_TRUE(WriteTextFileAtomic(dest, "fresh", error));
  EXPECT_EQ(ReadBytes(dest), "fresh");
}

TEST(DeleteStoredFile, RemovesFilesOnly)
{
  TempFolder tmp;
  fs::path file = tmp.Path() / "Warm.mvpreset";
  WriteBytes(file, "x");
  std::string error;
  EXPECT_TRUE(DeleteStoredFile(file, error));
  EXPECT_FALSE(fs::exists(file));

  EXPECT_FALSE(DeleteStoredFile(file, error));
  EXPECT_EQ(error, "could not delete Warm.mvpreset");

  fs::path folder = tmp.Path() / "Dir.mvpreset";
  fs::create_directory(folder);
  EXPECT_FALSE(DeleteStoredFile(folder, error));
  EXPECT_EQ(error, "could not delete Dir.mvpreset");
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST(ReadSmallFile, RefusesLargeAndSpecialFiles)
{
  TempFolder tmp;
  fs::path big = tmp.Path() / "big";
  WriteBytes(big, std::string(kMaxStoredFileBytes + 1, 'a'));
  std::string contents;
  EXPECT_EQ(ReadSmallFile(big, kMaxStoredFileBytes, contents), ReadOutcome::kTooLarge);
  WriteBytes(big, std::string(kMaxStoredFileBytes, 'a'));
  EXPECT_EQ(ReadSmallFile(big, kMaxStoredFileBytes, contents), ReadOutcome::kOk);
  EXPECT_EQ(contents.size(), kMaxStoredFileBytes);

  EXPECT_EQ(ReadSmallFile(tmp.Path(), kMaxStoredFileBytes, contents), ReadOutcome::kUnreadable);
  EXPECT_EQ(ReadSmallFile(tmp.Path() / "missing", kMaxStoredFileBytes, contents), ReadOutcome::kUnreadable);
  fs::path fifo = tmp.Path() / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadSmallFile(fifo, kMaxStoredFileBytes, contents), ReadOutcome::kUnreadable);
}

class EnvGuard
{
public:
  explicit EnvGuard(const char* name) : mName(name)
  {
    if (const char* v = std::getenv(name))
      mOld = v;
  }
  ~EnvGuard()
  {
    if (mOld)
      setenv(mName, mOld->c_str(), 1);
    else
      unsetenv(mName);
  }

private:
  const char* mName;
  std::optional<std::string> mOld;
};

TEST(UserDataFolder, FollowsXdgRules)
{
  EnvGuard xdg("XDG_DATA_HOME"), home("HOME");
  setenv("HOME", "/home/tester", 1);
  setenv("XDG_DATA_HOME", "/data/x", 1);
  EXPECT_EQ(UserDataFolder(), fs::path("/data/x"));
  EXPECT_EQ(PresetFolderUnder(UserDataFolder()), fs::path("/data/x/Morvellan/Presets"));
  EXPECT_EQ(TargetFolderUnder(UserDataFolder()), fs::path("/data/x/Morvellan/Targets"));
  setenv("XDG_DATA_HOME", "relative/dir", 1);
  EXPECT_EQ(UserDataFolder(), fs::path("/home/tester/.local/share"));
  setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(UserDataFolder(), fs::path("/home/tester/.local/share"));
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(UserDataFolder(), fs::path("/home/tester/.local/share"));

  TempFolder tmp;
  setenv("XDG_DATA_HOME", tmp.Path().c_str(), 1);
  fs::path presets = PresetFolderUnder(UserDataFolder());
  EXPECT_FALSE(fs::exists(presets));
}

} // namespace
