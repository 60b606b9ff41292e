#include "halvorsted/updates/UpdateCheck.h"

#include "halvorsted/json/Json.h"
#include "halvorsted/store/FileStore.h"
#include "IPlugPaths.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace halvorsted::updates {

namespace {

constexpr const char* kStateFileName = "updates.json";
constexpr const char* kMarkerFileName = "updates-off";
constexpr const char* kLockFileName = "updates.lock";
constexpr const char* kMarkerText = "The Halvorsted plug-ins do not check for updates while this file is here.\n";
constexpr size_t kMaxFeedBytes = 65536;
constexpr size_t kMaxPageBytes = 100;

// Accepts exactly the doubles that convert to int64_t without loss; NaN fails every comparison.
std::optional<int64_t> WholeSeconds(double value)
{
  constexpr double kLimit = 9223372036854775808.0; // 2^63
  if (!(value >= -kLimit && value < kLimit) || std::trunc(value) != value)
    return std::nullopt;
  return static_cast<int64_t>(value);
}

bool IsPageByte(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#' || c == '-' ||
         c == '/' || c == '_';
}

bool IsAcceptablePage(const std::string& page)
{
  if (page.empty() || page.size() > kMaxPageBytes || page[0] != '/')
    return false;
  if (page.size() > 1 && page[1] == '/')
    return false;
  for (const char c : page)
    if (!IsPageByte(c))
      return false;
  return true;
}

bool IsNewer(const Version& offered, const Version& running)
{
  if (offered.major != running.major)
    return offered.major > running.major;
  if (offered.minor != running.minor)
    return offered.minor > running.minor;
  return offered.patch > running.patch;
}

bool DueForRequest(int64_t now, int64_t checkedAt)
{
  // A clock that went back, or a stored time from the future, fetches at once.
  if (checkedAt > now)
    return true;
  int64_t elapsed = 0;
  if (__builtin_sub_overflow(now, checkedAt, &elapsed))
    return true;
  return elapsed >= kPollSpacingSeconds;
}

} // namespace

std::filesystem::path MakerDataFolder()
{
  const std::filesystem::path base = iplug::UserDataFolder();
  if (base.empty())
    return {};
  return base / "Halvorsted" / "Updates";
}

Version ParseVersion(const std::string& text)
{
  Version version;
  int32_t* parts[3] = {&version.major, &version.minor, &version.patch};
  size_t i = 0;
  for (int part = 0; part < 3; ++part)
  {
    if (part > 0)
    {
      if (i >= text.size() || text[i] != '.')
        return Version{};
      ++i;
    }
    int32_t value = 0;
    int digits = 0;
    while (digits < 4 && i < text.size() && text[i] >= '0' && text[i] <= '9')
    {
      value = value * 10 + (text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0)
      return Version{};
    *parts[part] = value;
  }
  if (i != text.size())
    return Version{};
  version.ok = true;
  return version;
}

std::string BuildStateText(const UpdateCheck::SavedState& state)
{
  std::string text = "{\"version\":1,\"checked_at\":";
  text += std::to_string(state.checkedAt);
  text += ",\"feed\":";
  text += json::QuoteString(state.feed);
  text += "}\n";
  return text;
}

int64_t DefaultUpdateClock()
{
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

platform::HttpResult DefaultUpdateGet(const std::string& url, const std::atomic<bool>* cancel)
{
  platform::HttpRequestOptions options;
  options.cancel = cancel;
  return platform::HttpRequest(url, kRequestTimeoutSeconds, options);
}

bool DefaultUpdateGate()
{
  return true;
}

void RunUpdateCheck(UpdateCheck& check)
{
  check.Poll();
  check.Refresh();
}

UpdateCheck::UpdateCheck(Config config) : mConfig(std::move(config))
{
  if (!mConfig.clock)
    mConfig.clock = &DefaultUpdateClock;
  if (!mConfig.httpGet)
  {
    // The default request listens to CancelRequests so shutting down never waits out a time-out.
    mConfig.httpGet = [this](const std::string& url) { return DefaultUpdateGet(url, &mCancel); };
  }
  if (!mConfig.gate)
    mConfig.gate = &DefaultUpdateGate;
  if (const char* url = std::getenv(kFeedUrlVariable); url != nullptr && url[0] != '\0')
    mConfig.feedUrl = url;
  Refresh();
}

bool UpdateCheck::MarkerPresent() const
{
  if (mConfig.dataFolder.empty())
    return false;
  std::error_code error;
  // exists() follows links; when the system cannot tell, the marker counts as absent.
  return std::filesystem::exists(mConfig.dataFolder / kMarkerFileName, error) && !error;
}

UpdateCheck::SavedState UpdateCheck::LoadState() const
{
  SavedState state;
  if (mConfig.dataFolder.empty())
    return state;
  const auto text = store::ReadWholeFile(mConfig.dataFolder / kStateFileName);
  if (!text)
    return state;
  return ReadStateText(*text);
}

UpdateCheck::SavedState ReadStateText(const std::string& text)
{
  UpdateCheck::SavedState state;
  const auto root = json::Parse(text);
  if (!root)
    return state;
  if (const json::JsonValue* checked = root->Find("checked_at");
      checked != nullptr && checked->kind == json::JsonValue::Kind::Number)
  {
    if (const auto seconds = WholeSeconds(checked->number))
      state.checkedAt = *seconds;
  }
  if (const json::JsonValue* feed = root->Find("feed");
      feed != nullptr && feed->kind == json::JsonValue::Kind::String && feed->text.size() <= kMaxFeedBytes &&
      json::Parse(feed->text))
    state.feed = feed->text;
  return state;
}

bool UpdateCheck::SaveState(const SavedState& state) const
{
  if (mConfig.dataFolder.empty())
    return false;
  return store::WriteFileAtomic(mConfig.dataFolder / kStateFileName, BuildStateText(state));
}

std::optional<UpdateCheck::Offer> UpdateCheck::FindOffer(const SavedState& state) const
{
  if (state.feed.size() > kMaxFeedBytes)
    return std::nullopt;
  const auto root = json::Parse(state.feed);
  if (!root)
    return std::nullopt;
  const json::JsonValue* entry = root->Find(mConfig.productSlug);
  if (entry == nullptr || entry->kind != json::JsonValue::Kind::Object)
    return std::nullopt;
  const json::JsonValue* version = entry->Find("version");
  const json::JsonValue* page = entry->Find("page");
  if (version == nullptr || page == nullptr || version->kind != json::JsonValue::Kind::String ||
      page->kind != json::JsonValue::Kind::String)
    return std::nullopt;
  if (!IsAcceptablePage(page->text))
    return std::nullopt;
  const Version offered = ParseVersion(version->text);
  const Version running = ParseVersion(mConfig.currentVersion);
  if (!offered.ok || !running.ok || !IsNewer(offered, running))
    return std::nullopt;
  return Offer{version->text, std::string(kMakerSiteUrl) + page->text};
}

void UpdateCheck::PollUnguarded()
{
  if (mCancel.load(std::memory_order_acquire) || mConfig.dataFolder.empty() || MarkerPresent())
    return;
  if (!mConfig.gate())
    return;
  SavedState state;
  {
    // The due test and the record of the attempt are one step for every instance in every
    // process, so one of them fetches per spacing. A lock that cannot be had in time (no
    // locks on this folder, a holder that hangs) leaves the step as it was without it.
    const store::FileLock lock(mConfig.dataFolder / kLockFileName, kStateLockPatience, &mCancel);
    if (mCancel.load(std::memory_order_acquire))
      return;
    state = LoadState();
    const int64_t now = mConfig.clock();
    if (!DueForRequest(now, state.checkedAt))
      return;
    state.checkedAt = now;
    // No request while the time of the attempt cannot be recorded.
    if (!SaveState(state))
      return;
  }
  const platform::HttpResult result = mConfig.httpGet(mConfig.feedUrl);
  if (result.status != 200 || result.body.size() > kMaxFeedBytes)
    return;
  const auto parsed = json::Parse(result.body);
  if (!parsed || parsed->kind != json::JsonValue::Kind::Object)
    return;
  state.feed = result.body;
  // A feed whose state file would exceed the reader's cap is refused: storing it would make the
  // state unreadable and undo the spacing of requests.
  const std::string text = BuildStateText(state);
  if (text.size() > store::kMaxWholeFileBytes)
    return;
  store::WriteFileAtomic(mConfig.dataFolder / kStateFileName, text);
}

void UpdateCheck::RefreshUnguarded()
{
  const bool enabled = !MarkerPresent();
  std::optional<Offer> offer;
  if (enabled)
    offer = FindOffer(LoadState());

  std::lock_guard lock(mMutex);
  bool changed = enabled != mEnabled || offer.has_value() != mOffer.has_value();
  if (!changed && offer && mOffer)
    changed = offer->version != mOffer->version || offer->url != mOffer->url;
  mEnabled = enabled;
  mOffer = std::move(offer);
  if (changed)
    ++mChangeCount;
}

void UpdateCheck::Poll()
{
  try
  {
    PollUnguarded();
  }
  catch (...)
  {
    // A failed poll changes nothing published; the next round tries again.
  }
}

void UpdateCheck::Refresh()
{
  try
  {
    RefreshUnguarded();
  }
  catch (...)
  {
  }
}

bool UpdateCheck::IsEnabled() const
{
  std::lock_guard lock(mMutex);
  return mEnabled;
}

void UpdateCheck::SetEnabled(bool on)
{
  try
  {
    if (!mConfig.dataFolder.empty())
    {
      const auto marker = mConfig.dataFolder / kMarkerFileName;
      if (on)
      {
        std::error_code ignored;
        std::filesystem::remove(marker, ignored);
      }
      else
      {
        store::WriteFileAtomic(marker, kMarkerText);
      }
    }
  }
  catch (...)
  {
  }
  Refresh();
}

void UpdateCheck::CancelRequests()
{
  mCancel.store(true, std::memory_order_release);
}

std::optional<UpdateCheck::Offer> UpdateCheck::CurrentOffer() const
{
  std::lock_guard lock(mMutex);
  return mOffer;
}

int32_t UpdateCheck::ChangeCount() const
{
  std::lock_guard lock(mMutex);
  return mChangeCount;
}

} // namespace halvorsted::updates
