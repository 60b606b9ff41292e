#include "StoredFiles.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvellan::offline;
namespace fs = std::filesystem;

namespace {

std::string Content(char fill, size_t size)
{
  // A header that names the fill and the size makes any torn mix detectable.
  std::string text = std::string("fill=") + fill + " size=" + std::to_string(size) + "\n";
  text += std::string(size, fill);
  text += "\nend\n";
  return text;
}

TEST(WriteTextFileAtomic, KilledWriterNeverLeavesATornFile)
{
  TempFolder tmp;
  const fs::path dest = tmp.Path() / "Presets" / "Warm.mvpreset";
  const std::string a = Content('a', 96 * 1024);
  const std::string b = Content('b', 40 * 1024);
  std::string error;
  ASSERT_TRUE(WriteTextFileAtomic(dest, a, error));

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delayUs(0, 4000);
  int killedWhileRunning = 0;
  for (int round = 0; round < 120; ++round)
  {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
      std::string e;
      for (unsigned i = 0;; ++i)
        WriteTextFileAtomic(dest, (i & 1) ? a : b, e);
    }
    usleep(static_cast<useconds_t>(delayUs(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFSIGNALED(status))
      ++killedWhileRunning;

    const std::string now = ReadBytes(dest);
    ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
  }
  EXPECT_EQ(killedWhileRunning, 120);

  // A temporary left by the last kill does not stand in the way of the next save.
  ASSERT_TRUE(WriteTextFileAtomic(dest, "after\n", error)) << error;
  EXPECT_EQ(ReadBytes(dest), "after\n");
  EXPECT_FALSE(fs::exists(dest.string() + ".partial"));
}

} // namespace
