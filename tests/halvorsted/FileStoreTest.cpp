#include "halvorsted/store/FileStore.h"

#include "TempFolder.h"

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using halvorsted::store::ReadWholeFile;
using halvorsted::store::WriteFileAtomic;
namespace fs = std::filesystem;

namespace {

bool HasTemporaryLeftovers(const fs::path& folder)
{
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().find(".tmp-") != std::string::npos)
      return true;
  return false;
}

} // namespace

TEST(ReadWholeFile, ReadsUpToTheCapAndRefusesOneByteMore)
{
  TempFolder temp;
  EXPECT_FALSE(ReadWholeFile(temp.Path() / "missing").has_value());

  WriteBytes(temp.Path() / "empty", "");
  auto empty = ReadWholeFile(temp.Path() / "empty");
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());

  std::string full(65536, 'a');
  full[0] = '\0';
  full[65535] = '\xFF';
  WriteBytes(temp.Path() / "full", full);
  EXPECT_EQ(ReadWholeFile(temp.Path() / "full"), full);

  WriteBytes(temp.Path() / "over", std::string(65537, 'b'));
  EXPECT_FALSE(ReadWholeFile(temp.Path() / "over").has_value());

  // A sparse gigabyte: refused after reading one byte past the cap.
  WriteBytes(temp.Path() / "huge", "");
  ASSERT_EQ(::truncate((temp.Path() / "huge").c_str(), 1LL << 30), 0);
  EXPECT_FALSE(ReadWholeFile(temp.Path() / "huge").has_value());
}

TEST(ReadWholeFile, AnythingButARegularFileReadsAsNothing)
{
  TempFolder temp;
  fs::create_directory(temp.Path() / "folder");
  EXPECT_FALSE(ReadWholeFile(temp.Path() / "folder").has_value());

  // A FIFO nobody writes to would block a plain open for ever.
  ASSERT_EQ(::mkfifo((temp.Path() / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ReadWholeFile(temp.Path() / "fifo").has_value());

  EXPECT_FALSE(ReadWholeFile("/dev/zero").has_value());
  EXPECT_FALSE(ReadWholeFile("/dev/null").has_value());

  WriteBytes(temp.Path() / "real", "{}");
  fs::create_symlink(temp.Path() / "real", temp.Path() / "link");
  EXPECT_EQ(ReadWholeFile(temp.Path() / "link"), "{}");
}

TEST(WriteFileAtomic, CreatesFoldersAndReplacesTheTargetWhole)
{
  TempFolder temp;
  const fs::path target = temp.Path() / "a" / "b" / "updates.json";
  ASSERT_TRUE(WriteFileAtomic(target, std::string("first\r\n\0", 8)));
  EXPECT_EQ(ReadBytes(target), std::string("first\r\n\0", 8));

  ASSERT_TRUE(WriteFileAtomic(target, "x"));
  EXPECT_EQ(ReadBytes(target), "x");
  EXPECT_FALSE(HasTemporaryLeftovers(target.parent_path()));

  ASSERT_TRUE(WriteFileAtomic(target, ""));
  EXPECT_TRUE(fs::exists(target));
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST(WriteFileAtomic, WritesThroughARandomlyNumberedTemporaryBesideTheTarget)
{
  TempFolder temp;
  const fs::path target = temp.Path() / "updates.json";
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, temp.Path().c_str(), IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO), 0);

  constexpr int kWrites = 8;
  for (int i = 0; i < kWrites; ++i)
    ASSERT_TRUE(WriteFileAtomic(target, "{}"));

  // Every file created is "updates.json.tmp-" and a decimal 32-bit number, and is then moved onto the target.
  std::vector<std::string> created;
  int movedOntoTarget = 0;
  alignas(inotify_event) char buffer[16384];
  for (ssize_t n; (n = ::read(watch, buffer, sizeof(buffer))) > 0;)
    for (ssize_t at = 0; at < n;)
    {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const std::string name = event->len > 0 ? event->name : "";
      if (event->mask & IN_CREATE)
        created.push_back(name);
      if ((event->mask & IN_MOVED_TO) && name == "updates.json")
        ++movedOntoTarget;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  ::close(watch);

  ASSERT_EQ(created.size(), static_cast<size_t>(kWrites));
  EXPECT_EQ(movedOntoTarget, kWrites);
  std::set<std::string> distinct;
  const std::string prefix = "updates.json.tmp-";
  for (const std::string& name : created)
  {
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
    const std::string digits = name.substr(prefix.size());
    ASSERT_FALSE(digits.empty()) << name;
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << name;
    EXPECT_TRUE(digits == "0" || digits[0] != '0') << name;
    EXPECT_LE(digits.size(), 10u) << name;
    if (digits.size() <= 10 && digits.find_first_not_of("0123456789") == std::string::npos)
    {
      EXPECT_LE(std::stoull(digits), 0xFFFFFFFFull) << name;
    }
    distinct.insert(name);
  }
  // Drawn at random: eight writes do not all reuse one number.
  EXPECT_GT(distinct.size(), 1u);
}

TEST(WriteFileAtomic, FailsWithoutLeftoversWhenTheTargetCannotBeReplaced)
{
  TempFolder temp;
  fs::create_directory(temp.Path() / "folder");
  EXPECT_FALSE(WriteFileAtomic(temp.Path() / "folder", "data"));
  EXPECT_TRUE(fs::is_directory(temp.Path() / "folder"));
  EXPECT_FALSE(HasTemporaryLeftovers(temp.Path()));

  fs::create_directory(temp.Path() / "full");
  WriteBytes(temp.Path() / "full" / "inside", "keep");
  EXPECT_FALSE(WriteFileAtomic(temp.Path() / "full", "data"));
  EXPECT_EQ(ReadBytes(temp.Path() / "full" / "inside"), "keep");

  // A regular file where the parent folder should be: no folder can be made.
  WriteBytes(temp.Path() / "plain", "keep");
  EXPECT_FALSE(WriteFileAtomic(temp.Path() / "plain" / "updates.json", "data"));
  EXPECT_EQ(ReadBytes(temp.Path() / "plain"), "keep");
  EXPECT_FALSE(HasTemporaryLeftovers(temp.Path()));
}

TEST(WriteFileAtomic, ConcurrentWritersAndReadersNeverSeeAPartialFile)
{
  TempFolder temp;
  const fs::path target = temp.Path() / "shared.json";
  ASSERT_TRUE(WriteFileAtomic(target, std::string(100, 'a')));

  // Writer w always writes 1000 * (w + 1) copies of one letter; a reader must see one of those.
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < 3; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < 40; ++i)
        WriteFileAtomic(target, std::string(static_cast<size_t>(1000 * (w + 1)), static_cast<char>('b' + w)));
    });
  std::thread reader([&] {
    while (!done.load())
    {
      auto content = ReadWholeFile(target);
      if (!content || content->empty())
      {
        ++torn;
        continue;
      }
      const char c = content->front();
      const bool whole = (c == 'a' && content->size() == 100) ||
                         (c >= 'b' && c <= 'd' && content->size() == static_cast<size_t>(1000 * (c - 'a')) &&
                          content->find_first_not_of(c) == std::string::npos);
      if (!whole)
        ++torn;
    }
  });
  for (auto& t : writers)
    t.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_FALSE(HasTemporaryLeftovers(temp.Path()));
}
