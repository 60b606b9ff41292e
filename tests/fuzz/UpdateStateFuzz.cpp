// Any bytes as the update check's "updates.json": what the reader accepts is re-serialised to
// a state that reads back the same, both as text and through the check's own file.

#include "FuzzCheck.h"
#include "FuzzTargets.h"
#include "ScratchFolder.h"

#include "halvorsted/json/Json.h"
#include "halvorsted/store/FileStore.h"
#include "halvorsted/updates/UpdateCheck.h"

#include <fstream>
#include <string>

using halvorsted::updates::BuildStateText;
using halvorsted::updates::ReadStateText;
using halvorsted::updates::UpdateCheck;

namespace {

constexpr int64_t kNow = 2'000'000'000;

bool Same(const UpdateCheck::SavedState& a, const UpdateCheck::SavedState& b)
{
  return a.checkedAt == b.checkedAt && a.feed == b.feed;
}

bool Due(int64_t checkedAt)
{
  return checkedAt > kNow || kNow - checkedAt >= halvorsted::updates::kPollSpacingSeconds;
}

// The check on a folder holding the input: one poll whose request fails, so the file then
// holds the attempt's time and the feed that was read.
void CheckThroughTheFile(const std::string& input, const UpdateCheck::SavedState& read)
{
  const std::filesystem::path folder = fuzz::FreshFolder("updates");
  {
    std::ofstream out(folder / "updates.json", std::ios::binary);
    out << input;
  }
  const UpdateCheck::SavedState expected =
    input.size() <= halvorsted::store::kMaxWholeFileBytes ? read : UpdateCheck::SavedState{};

  int requests = 0;
  UpdateCheck::Config config;
  config.productSlug = "morvellan";
  config.currentVersion = "0.9.14";
  config.dataFolder = folder;
  config.feedUrl = "https://feed.invalid/updates.json";
  config.clock = [] { return kNow; };
  config.httpGet = [&requests](const std::string&) {
    ++requests;
    halvorsted::platform::HttpResult failed;
    failed.status = 500;
    return failed;
  };
  UpdateCheck check(config);
  if (const auto offer = check.CurrentOffer())
  {
    FUZZ_CHECK(offer->url.rfind(std::string(halvorsted::updates::kMakerSiteUrl) + "/", 0) == 0);
    FUZZ_CHECK(halvorsted::updates::ParseVersion(offer->version).ok);
  }

  check.Poll();
  FUZZ_CHECK(requests == (Due(expected.checkedAt) ? 1 : 0));
  if (requests == 0)
    return;
  const auto stored = halvorsted::store::ReadWholeFile(folder / "updates.json");
  FUZZ_CHECK(stored.has_value());
  FUZZ_CHECK(Same(ReadStateText(*stored), UpdateCheck::SavedState{kNow, expected.feed}));
}

} // namespace

namespace fuzz {

int UpdateState(const std::uint8_t* data, std::size_t size)
{
  const std::string input(reinterpret_cast<const char*>(data), size);
  const UpdateCheck::SavedState read = ReadStateText(input);
  // A kept feed is itself JSON the offer can be looked up in.
  if (!read.feed.empty())
    FUZZ_CHECK(halvorsted::json::Parse(read.feed).has_value());

  const std::string text = BuildStateText(read);
  FUZZ_CHECK(!text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1);
  FUZZ_CHECK(Same(ReadStateText(text), read));
  FUZZ_CHECK(BuildStateText(ReadStateText(text)) == text);

  CheckThroughTheFile(input, read);
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::UpdateState)
