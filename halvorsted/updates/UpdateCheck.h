#pragma once

#include "halvorsted/http/HttpClient.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace halvorsted::updates {

// The maker's web site (offers always point here) and its update feed.
inline constexpr const char* kMakerSiteUrl = "https://www.halvorsted.com";
inline constexpr const char* kMakerFeedUrl = "https://www.halvorsted.com/updates.json";
inline constexpr const char* kFeedUrlVariable = "HALVORSTED_UPDATES_URL";
inline constexpr int64_t kPollSpacingSeconds = 600;
inline constexpr uint32_t kRequestTimeoutSeconds = 8;
// How long a poll waits for the lock beside the state file before it goes on without it.
inline constexpr std::chrono::milliseconds kStateLockPatience{2'000};

// The per-user folder shared by the maker's plug-ins for update state: the XDG data folder
// ($XDG_DATA_HOME, else ~/.local/share) + "Halvorsted/Updates". Empty when no home is known.
std::filesystem::path MakerDataFolder();

struct Version
{
  int32_t major = 0;
  int32_t minor = 0;
  int32_t patch = 0;
  bool ok = false;
};

Version ParseVersion(const std::string& text);

class UpdateCheck
{
public:
  struct Config
  {
    std::string productSlug;
    std::string currentVersion;
    std::filesystem::path dataFolder;
    std::string feedUrl;
    std::function<int64_t()> clock;
    std::function<platform::HttpResult(const std::string&)> httpGet;
    std::function<bool()> gate;
  };

  struct Offer
  {
    std::string version;
    std::string url;
  };

  struct SavedState
  {
    int64_t checkedAt = 0;
    std::string feed;
  };

  explicit UpdateCheck(Config config);

  UpdateCheck(const UpdateCheck&) = delete;
  UpdateCheck& operator=(const UpdateCheck&) = delete;

  // Worker thread: at most one request, spaced by the stored time of the last attempt.
  void Poll();
  // Recomputes the published flag and offer from the disk.
  void Refresh();
  bool IsEnabled() const;
  void SetEnabled(bool on);
  // Ends a request of the default hook under way and refuses further ones; for shutting down.
  void CancelRequests();

  // The pill's copy of what is published, taken under the lock.
  std::optional<Offer> CurrentOffer() const;
  int32_t ChangeCount() const;

  const Config& GetConfig() const { return mConfig; }

private:
  SavedState LoadState() const;
  bool SaveState(const SavedState& state) const;
  std::optional<Offer> FindOffer(const SavedState& state) const;
  bool MarkerPresent() const;
  void PollUnguarded();
  void RefreshUnguarded();

  Config mConfig;
  mutable std::mutex mMutex;
  std::optional<Offer> mOffer;
  bool mEnabled = true;
  int32_t mChangeCount = 0;
  std::atomic<bool> mCancel{false};
};

// The text of "updates.json" for a state: one line, no spaces.
std::string BuildStateText(const UpdateCheck::SavedState& state);
// The state held by the text of "updates.json"; fields that are missing or unusable read as empty.
UpdateCheck::SavedState ReadStateText(const std::string& text);

// One round of the worker: Poll, then Refresh.
void RunUpdateCheck(UpdateCheck& check);

int64_t DefaultUpdateClock();
// GET with the request time-out; a set cancel flag ends it early.
platform::HttpResult DefaultUpdateGet(const std::string& url, const std::atomic<bool>* cancel = nullptr);
bool DefaultUpdateGate();

} // namespace halvorsted::updates
