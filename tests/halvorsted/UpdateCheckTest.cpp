#include "halvorsted/updates/UpdateCheck.h"
#include "halvorsted/updates/UpdateWorker.h"

#include "LocalServer.h"
#include "SlowLookup.h"
#include "TempFolder.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using halvorsted::platform::HttpResult;
using halvorsted::testing::LocalServer;
using halvorsted::updates::ParseVersion;
using halvorsted::updates::UpdateCheck;
using halvorsted::updates::UpdateWorker;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kGoodFeed = R"({"morvellan":{"version":"0.9.15","page":"/morvellan#download"},"other":{}})";
const std::string kMarkerText = "The Halvorsted plug-ins do not check for updates while this file is here.\n";

// The spacing test runs this binary again as a second process that polls a shared folder from
// 16 threads at once, as soon as the parent creates the file "go" there.
constexpr const char* kPollChildVariable = "HALVORSTED_TEST_POLL_CHILD";

int PollAsChildProcess()
{
  const char* folder = std::getenv(kPollChildVariable);
  if (folder == nullptr)
    return 0;
  const fs::path data(folder);
  for (int i = 0; i < 10'000 && !fs::exists(data / "go"); ++i)
    std::this_thread::sleep_for(1ms);
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i)
    threads.emplace_back([&] {
      UpdateCheck::Config config;
      config.productSlug = "morvellan";
      config.currentVersion = "0.9.14";
      config.dataFolder = data;
      UpdateCheck(std::move(config)).Poll();
    });
  for (auto& thread : threads)
    thread.join();
  std::_Exit(0);
}
[[maybe_unused]] const int kPollChild = PollAsChildProcess();

// The state file as the program must write it, spelled out by hand.
std::string StateText(const std::string& checkedAt, const std::string& quotedFeed)
{
  return "{\"version\":1,\"checked_at\":" + checkedAt + ",\"feed\":" + quotedFeed + "}\n";
}

std::string Quoted(const std::string& json)
{
  std::string out = "\"";
  for (char c : json)
  {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

class UpdateCheckTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    unsetenv("HALVORSTED_UPDATES_URL");
    fs::create_directories(folder);
  }
  void TearDown() override { unsetenv("HALVORSTED_UPDATES_URL"); }

  std::shared_ptr<UpdateCheck> Make(std::string currentVersion = "0.9.14")
  {
    UpdateCheck::Config config;
    config.productSlug = "morvellan";
    config.currentVersion = std::move(currentVersion);
    config.dataFolder = folder;
    config.feedUrl = "https://feed.invalid/updates.json";
    config.clock = [this] { return now; };
    config.httpGet = [this](const std::string& url) {
      requestedUrls.push_back(url);
      return reply;
    };
    return std::make_shared<UpdateCheck>(std::move(config));
  }

  void WriteState(const std::string& text) { WriteBytes(folder / "updates.json", text); }
  std::string StateFile() const { return ReadBytes(folder / "updates.json"); }

  // The offer a stored feed gives, through the public path: state file, then a fresh check.
  std::optional<UpdateCheck::Offer> OfferFor(const std::string& feed, const std::string& running = "0.9.14")
  {
    WriteState(StateText("1", Quoted(feed)));
    return Make(running)->CurrentOffer();
  }

  TempFolder temp;
  fs::path folder = temp.Path() / "Halvorsted" / "Updates";
  int64_t now = 1'000'000;
  HttpResult reply{200, kGoodFeed, 0};
  std::vector<std::string> requestedUrls;
};

} // namespace

TEST(Versions, ThreeComponentsOfOneToFourDigits)
{
  const std::tuple<const char*, bool, int, int, int> cases[] = {
    {"0.9.14", true, 0, 9, 14},    {"01.2.3", true, 1, 2, 3},   {"9999.9999.9999", true, 9999, 9999, 9999},
    {"0.9.015", true, 0, 9, 15},   {"1.0", false, 0, 0, 0},     {"0.9.15-beta", false, 0, 0, 0},
    {"00000.9.15", false, 0, 0, 0}, {"1.2.3.4", false, 0, 0, 0}, {"v1.2.3", false, 0, 0, 0},
    {" 1.2.3", false, 0, 0, 0},    {"1.2.3 ", false, 0, 0, 0},  {"1..3", false, 0, 0, 0},
    {"-1.2.3", false, 0, 0, 0},    {"", false, 0, 0, 0},        {"1.2.", false, 0, 0, 0},
  };
  for (const auto& [text, ok, major, minor, patch] : cases)
  {
    const auto v = ParseVersion(text);
    EXPECT_EQ(v.ok, ok) << text;
    if (ok)
    {
      EXPECT_EQ(v.major, major) << text;
      EXPECT_EQ(v.minor, minor) << text;
      EXPECT_EQ(v.patch, patch) << text;
    }
  }
}

TEST_F(UpdateCheckTest, OffersOnlyStrictlyNewerWellFormedVersions)
{
  const std::pair<const char*, bool> cases[] = {
    {"0.9.15", true},      {"0.9.14", false},     {"0.9.13", false}, {"0.10.0", true},    {"1.0.0", true},
    {"0.8.99", false},     {"1.0", false},        {"0.9.15-beta", false}, {"00000.9.15", false}, {"0.9.015", true},
  };
  for (const auto& [version, offered] : cases)
  {
    const std::string feed = std::string(R"({"morvellan":{"version":")") + version + R"(","page":"/m"}})";
    const auto offer = OfferFor(feed);
    EXPECT_EQ(offer.has_value(), offered) << version;
    if (offer)
    {
      EXPECT_EQ(offer->version, version);
    }
  }
  // A running version that does not parse never offers anything.
  EXPECT_FALSE(OfferFor(R"({"morvellan":{"version":"9.9.9","page":"/m"}})", "dev").has_value());
}

TEST_F(UpdateCheckTest, OfferPagesMustBeSimplePathsOnTheMakersSite)
{
  const std::pair<std::string, bool> cases[] = {
    {"/morvellan#download", true}, {"/", true},          {"/a_b-c/D9", true},   {"/" + std::string(99, 'p'), true},
    {"/" + std::string(100, 'p'), false}, {"//elsewhere", false}, {"morvellan", false}, {"", false},
    {"/a.b", false},               {"/a?b=1", false},    {"/a%20b", false},     {"/a b", false},
    {"/caf\xC3\xA9", false},       {"/a\\b", false},     {"/a:b", false},
  };
  for (const auto& [page, accepted] : cases)
  {
    const std::string feed = R"({"morvellan":{"version":"0.9.15","page":)" + Quoted(page) + "}}";
    const auto offer = OfferFor(feed);
    EXPECT_EQ(offer.has_value(), accepted) << page;
    if (offer)
    {
      EXPECT_EQ(offer->url, "https://www.halvorsted.com" + page);
    }
  }
}

TEST_F(UpdateCheckTest, OnlyTheFirstEntryAndFirstMembersCount)
{
  EXPECT_TRUE(OfferFor(R"({"morvellan":{"version":"0.9.15","page":"/a"},"morvellan":{"version":"0.9.1","page":"/b"}})"));
  EXPECT_FALSE(OfferFor(R"({"morvellan":{"version":"0.9.1","page":"/a"},"morvellan":{"version":"0.9.15","page":"/b"}})"));
  EXPECT_FALSE(OfferFor(R"({"morvellan":{"version":0.915,"version":"0.9.15","page":"/a"}})"));
  EXPECT_FALSE(OfferFor(R"({"morvellan":{"version":"0.9.15"}})"));
  EXPECT_FALSE(OfferFor(R"({"morvellan":["0.9.15","/a"]})"));
  EXPECT_FALSE(OfferFor(R"({"Morvellan":{"version":"0.9.15","page":"/a"}})"));
  EXPECT_FALSE(OfferFor(R"([{"morvellan":{"version":"0.9.15","page":"/a"}}])"));
}

TEST_F(UpdateCheckTest, FirstPollOfAFreshFolderFetchesAndStoresTheFeed)
{
  auto check = Make();
  EXPECT_TRUE(check->IsEnabled());
  EXPECT_FALSE(check->CurrentOffer().has_value());
  EXPECT_EQ(check->ChangeCount(), 0);

  check->Poll();
  ASSERT_EQ(requestedUrls.size(), 1u);
  EXPECT_EQ(requestedUrls[0], "https://feed.invalid/updates.json");
  EXPECT_EQ(StateFile(), StateText("1000000", Quoted(kGoodFeed)));
  EXPECT_FALSE(check->CurrentOffer().has_value()); // Poll publishes nothing

  check->Refresh();
  const auto offer = check->CurrentOffer();
  ASSERT_TRUE(offer.has_value());
  EXPECT_EQ(offer->version, "0.9.15");
  EXPECT_EQ(offer->url, "https://www.halvorsted.com/morvellan#download");
  EXPECT_EQ(check->ChangeCount(), 1);
  check->Refresh();
  EXPECT_EQ(check->ChangeCount(), 1);

  // Another instance sharing the folder publishes the cached offer at construction.
  EXPECT_TRUE(Make()->CurrentOffer().has_value());
}

TEST_F(UpdateCheckTest, RequestsAreSpacedBy600SecondsOfTheStoredTime)
{
  auto check = Make();
  check->Poll();
  now += 599;
  check->Poll();
  EXPECT_EQ(requestedUrls.size(), 1u);
  now += 1;
  check->Poll();
  EXPECT_EQ(requestedUrls.size(), 2u);
  EXPECT_EQ(StateFile(), StateText("1000600", Quoted(kGoodFeed)));

  // A clock that went back fetches at once.
  now -= 10;
  check->Poll();
  EXPECT_EQ(requestedUrls.size(), 3u);
  EXPECT_EQ(StateFile(), StateText("1000590", Quoted(kGoodFeed)));

  // The spacing belongs to the folder, not to the object.
  now += 300;
  Make()->Poll();
  EXPECT_EQ(requestedUrls.size(), 3u);
}

TEST_F(UpdateCheckTest, RejectedResponsesAdvanceTheTimeAndKeepTheCachedFeed)
{
  WriteState(StateText("5", Quoted(kGoodFeed)));
  const HttpResult rejected[] = {
    {304, "", 0}, {500, "{\"morvellan\":{}}", 0}, {200, "[1,2]", 0}, {200, "\"text\"", 0},
    {200, "{broken", 0}, {0, "", 0}, {200, "{\"a\":\"" + std::string(65536, 'x') + "\"}", 0},
  };
  for (const auto& r : rejected)
  {
    reply = r;
    now += 600;
    auto check = Make();
    check->Poll();
    EXPECT_TRUE(StateFile() == StateText(std::to_string(now), Quoted(kGoodFeed)))
      << r.status << " " << r.body.substr(0, 20);
    check->Refresh();
    EXPECT_TRUE(check->CurrentOffer().has_value());
  }
  EXPECT_EQ(requestedUrls.size(), std::size(rejected));
}

TEST_F(UpdateCheckTest, AFeedTooLargeToStoreIsRefusedAndSpacingSurvives)
{
  WriteState(StateText("5", Quoted(kGoodFeed)));
  // Under the body cap, but every quote doubles in the state file, which would then be unreadable.
  reply = {200, "{\"a\":\"" + std::string(40000, '\\') + "\"}", 0};
  ASSERT_LE(reply.body.size(), 65536u);
  auto check = Make();
  check->Poll();
  EXPECT_TRUE(StateFile() == StateText("1000000", Quoted(kGoodFeed)));
  now += 1;
  check->Poll();
  EXPECT_EQ(requestedUrls.size(), 1u);
}

TEST_F(UpdateCheckTest, NoRequestWhenTheAttemptCannotBeRecorded)
{
  fs::remove_all(folder);
  WriteBytes(folder, "a file where the folder should be");
  auto check = Make();
  check->Poll();
  check->Poll();
  EXPECT_TRUE(requestedUrls.empty());

  fs::remove(folder);
  fs::create_directories(folder / "updates.json");
  Make()->Poll();
  EXPECT_TRUE(requestedUrls.empty());
}

TEST_F(UpdateCheckTest, CorruptCheckedAtReadsAsNoAttempt)
{
  const char* corrupt[] = {
    "12.5", "\"999999\"", "null", "true", "-1e300", "1e300", "9.3e18", "9223372036854775808",
    "-9223372036854775808", "-5",
  };
  for (const char* value : corrupt)
  {
    requestedUrls.clear();
    WriteState(StateText(value, Quoted(kGoodFeed)));
    Make()->Poll();
    EXPECT_EQ(requestedUrls.size(), 1u) << value;
  }
  requestedUrls.clear();
  WriteState("{\"version\":1,\"feed\":\"\"}\n");
  Make()->Poll();
  EXPECT_EQ(requestedUrls.size(), 1u);

  // Control: a recent, well-formed time holds the request back.
  requestedUrls.clear();
  WriteState(StateText("999500", Quoted(kGoodFeed)));
  Make()->Poll();
  EXPECT_TRUE(requestedUrls.empty());
}

TEST_F(UpdateCheckTest, UnreadableStateFilesReadAsEmpty)
{
  const std::string unreadable[] = {
    "not json", StateText("1", "{\"morvellan\":{\"version\":\"0.9.15\",\"page\":\"/m\"}}"), // feed as object
    StateText("1", Quoted("{not json")), "[1,2]",
    "{\"version\":1,\"checked_at\":1,\"feed\":" + Quoted(kGoodFeed) + "}" + std::string(65536, ' '),
  };
  for (const auto& text : unreadable)
  {
    WriteState(text);
    EXPECT_FALSE(Make()->CurrentOffer().has_value()) << text.substr(0, 40);
  }
  fs::remove(folder / "updates.json");
  fs::create_directories(folder / "updates.json");
  EXPECT_FALSE(Make()->CurrentOffer().has_value());
}

TEST_F(UpdateCheckTest, TheMarkerSwitchesChecksOffForEveryInstance)
{
  WriteState(StateText("1", Quoted(kGoodFeed)));
  auto check = Make();
  auto other = Make();
  ASSERT_TRUE(check->CurrentOffer().has_value());
  const int before = check->ChangeCount();

  check->SetEnabled(false);
  EXPECT_EQ(ReadBytes(folder / "updates-off"), kMarkerText);
  EXPECT_EQ(kMarkerText.size(), 74u);
  EXPECT_FALSE(check->IsEnabled());
  EXPECT_FALSE(check->CurrentOffer().has_value());
  EXPECT_EQ(check->ChangeCount(), before + 1);

  now += 10'000;
  other->Poll();
  EXPECT_TRUE(requestedUrls.empty());
  other->Refresh();
  EXPECT_FALSE(other->IsEnabled());

  check->SetEnabled(true);
  EXPECT_FALSE(fs::exists(folder / "updates-off"));
  EXPECT_TRUE(check->IsEnabled());
  EXPECT_TRUE(check->CurrentOffer().has_value());
  EXPECT_EQ(check->ChangeCount(), before + 2);

  // A folder by that name counts too, and switching on cannot remove it when it holds files.
  fs::create_directories(folder / "updates-off" / "inside");
  check->SetEnabled(true);
  EXPECT_FALSE(check->IsEnabled());
  check->Poll();
  EXPECT_TRUE(requestedUrls.empty());
}

TEST_F(UpdateCheckTest, EnvironmentReplacesOnlyTheFeedAddress)
{
  setenv("HALVORSTED_UPDATES_URL", "", 1);
  Make()->Poll();
  ASSERT_EQ(requestedUrls.size(), 1u);
  EXPECT_EQ(requestedUrls[0], "https://feed.invalid/updates.json");

  fs::remove(folder / "updates.json");
  setenv("HALVORSTED_UPDATES_URL", "http://127.0.0.1:9/mirror/updates.json", 1);
  auto check = Make();
  check->Poll();
  check->Refresh();
  ASSERT_EQ(requestedUrls.size(), 2u);
  EXPECT_EQ(requestedUrls[1], "http://127.0.0.1:9/mirror/updates.json");
  ASSERT_TRUE(check->CurrentOffer().has_value());
  EXPECT_EQ(check->CurrentOffer()->url, "https://www.halvorsted.com/morvellan#download");
}

TEST_F(UpdateCheckTest, ThrowingHooksNeverEscape)
{
  UpdateCheck::Config config;
  config.productSlug = "morvellan";
  config.currentVersion = "0.9.14";
  config.dataFolder = folder;
  config.clock = []() -> int64_t { throw std::runtime_error("clock"); };
  config.gate = [] { return true; };
  UpdateCheck check(std::move(config));
  EXPECT_NO_THROW(check.Poll());
  EXPECT_NO_THROW(halvorsted::updates::RunUpdateCheck(check));

  UpdateCheck::Config throwingGet;
  throwingGet.dataFolder = folder;
  throwingGet.clock = [] { return int64_t{5000}; };
  throwingGet.httpGet = [](const std::string&) -> HttpResult { throw std::bad_alloc(); };
  UpdateCheck second(std::move(throwingGet));
  EXPECT_NO_THROW(second.Poll());
  EXPECT_EQ(StateFile(), StateText("5000", "\"\""));
}

TEST_F(UpdateCheckTest, TheGateHoldsPollsBack)
{
  UpdateCheck::Config config;
  config.dataFolder = folder;
  config.gate = [] { return false; };
  bool asked = false;
  config.httpGet = [&](const std::string&) {
    asked = true;
    return HttpResult{};
  };
  UpdateCheck(std::move(config)).Poll();
  EXPECT_FALSE(asked);
  EXPECT_FALSE(fs::exists(folder / "updates.json"));
}

TEST(MakerDataFolder, FollowsTheXdgDataFolder)
{
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  const std::string xdg = savedXdg ? savedXdg : "";
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", "/home/tester", 1);
  setenv("XDG_DATA_HOME", "/data/x", 1);
  EXPECT_EQ(halvorsted::updates::MakerDataFolder(), fs::path("/data/x/Halvorsted/Updates"));
  setenv("XDG_DATA_HOME", "relative/x", 1);
  EXPECT_EQ(halvorsted::updates::MakerDataFolder(), fs::path("/home/tester/.local/share/Halvorsted/Updates"));
  setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(halvorsted::updates::MakerDataFolder(), fs::path("/home/tester/.local/share/Halvorsted/Updates"));
  setenv("HOME", home.c_str(), 1);
  if (savedXdg)
    setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
}

// The default request hook against a real local server, through the environment override.
class UpdateCheckNetwork : public ::testing::Test
{
protected:
  void SetUp() override
  {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
      unsetenv(name);
  }
  void TearDown() override { unsetenv("HALVORSTED_UPDATES_URL"); }

  std::shared_ptr<UpdateCheck> MakeDefault(const LocalServer& server)
  {
    setenv("HALVORSTED_UPDATES_URL", server.Url("/updates.json").c_str(), 1);
    UpdateCheck::Config config;
    config.productSlug = "morvellan";
    config.currentVersion = "0.9.14";
    config.dataFolder = temp.Path() / "Updates";
    config.feedUrl = "https://must-not-be-used.invalid/updates.json";
    return std::make_shared<UpdateCheck>(std::move(config));
  }

  TempFolder temp;
};

TEST_F(UpdateCheckNetwork, PollsTheLocalFeedWithTheDefaultHook)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) {
    c.Send(LocalServer::Response(200, kGoodFeed));
  });
  auto check = MakeDefault(server);
  halvorsted::updates::RunUpdateCheck(*check);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("GET /updates.json ", 0), 0u);
  ASSERT_TRUE(check->CurrentOffer().has_value());
  EXPECT_EQ(check->CurrentOffer()->version, "0.9.15");
  halvorsted::updates::RunUpdateCheck(*check);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(UpdateCheckNetwork, WorkerRunsAndStopsPromptlyInTheMiddleOfASlowRequest)
{
  std::atomic<int> served{0};
  LocalServer server([&](LocalServer::Connection& c, const std::string&) {
    ++served;
    c.WaitForStop(30s);
  });
  auto check = MakeDefault(server);
  {
    UpdateWorker worker;
    ASSERT_TRUE(worker.Start(check, 0ms, 50ms));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (served.load() == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    ASSERT_EQ(served.load(), 1);
    const auto start = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_FALSE(worker.IsRunning());
  }
  // The worker has let go: only this test still holds the check.
  EXPECT_EQ(check.use_count(), 1);
  // The aborted attempt is recorded, so the next round waits its 600 seconds.
  // (A worker still waiting for its first round stops at once too: see the test below.)
  EXPECT_NE(ReadBytes(temp.Path() / "Updates" / "updates.json").find("\"feed\":\"\""), std::string::npos);
}

TEST_F(UpdateCheckNetwork, WorkerRepeatsRoundsAndStopsDuringItsFirstDelay)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) {
    c.Send(LocalServer::Response(200, kGoodFeed));
  });
  auto check = MakeDefault(server);
  {
    UpdateWorker idle;
    ASSERT_TRUE(idle.Start(check, 60s, 60s));
    EXPECT_FALSE(idle.Start(check)); // one thread per worker
    const auto start = std::chrono::steady_clock::now();
    idle.Stop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  }
  EXPECT_EQ(server.RequestCount(), 0u);

  // Stopping cancels for good; a new worker needs a new check.
  check = MakeDefault(server);
  // Rounds repeat, but the stored time keeps it to one request; the offer is published by the worker.
  UpdateWorker worker;
  ASSERT_TRUE(worker.Start(check, 0ms, 10ms));
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!check->CurrentOffer() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);
  worker.Stop();
  ASSERT_TRUE(check->CurrentOffer().has_value());
  EXPECT_EQ(check->CurrentOffer()->version, "0.9.15");
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(UpdateCheckNetwork, WorkerStopsPromptlyInTheMiddleOfANameLookup)
{
  using halvorsted::testing::gSlowLookupsStarted;
  setenv("HALVORSTED_UPDATES_URL", (std::string("https://feed") + halvorsted::testing::kSlowLookupSuffix + "/updates.json").c_str(), 1);
  UpdateCheck::Config config;
  config.productSlug = "morvellan";
  config.currentVersion = "0.9.14";
  config.dataFolder = temp.Path() / "Updates";
  auto check = std::make_shared<UpdateCheck>(std::move(config));

  const int lookupsBefore = gSlowLookupsStarted.load();
  {
    UpdateWorker worker;
    ASSERT_TRUE(worker.Start(check, 0ms, 50ms));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (gSlowLookupsStarted.load() == lookupsBefore && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    ASSERT_EQ(gSlowLookupsStarted.load(), lookupsBefore + 1);
    const auto start = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  }
  EXPECT_TRUE(halvorsted::testing::WaitForSlowLookups(10s));
}

TEST_F(UpdateCheckNetwork, TheEnvironmentCannotPointTheCheckAtLocalFiles)
{
  // A newer feed lies on disk; only http and https may be fetched, so it must never be taken.
  const fs::path feedFile = temp.Path() / "feed.json";
  WriteBytes(feedFile, kGoodFeed);
  const fs::path dataFolder = temp.Path() / "Updates";
  for (const std::string& url : {"file://" + feedFile.string(), "FILE://" + feedFile.string(), feedFile.string()})
  {
    setenv("HALVORSTED_UPDATES_URL", url.c_str(), 1);
    fs::remove(dataFolder / "updates.json");
    UpdateCheck::Config config;
    config.productSlug = "morvellan";
    config.currentVersion = "0.9.14";
    config.dataFolder = dataFolder;
    auto check = std::make_shared<UpdateCheck>(std::move(config));
    halvorsted::updates::RunUpdateCheck(*check);
    EXPECT_FALSE(check->CurrentOffer().has_value()) << url;
    // The attempt is recorded with no feed.
    EXPECT_NE(ReadBytes(dataFolder / "updates.json").find(",\"feed\":\"\"}"), std::string::npos) << url;
  }
}

TEST_F(UpdateCheckNetwork, OneRequestPerSpacingHoweverManyInstancesAndProcessesPoll)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) {
    c.Send(LocalServer::Response(200, kGoodFeed));
  });
  setenv("HALVORSTED_UPDATES_URL", server.Url("/updates.json").c_str(), 1);
  std::atomic<int64_t> now{1'000'000};
  constexpr int kInstances = 32;
  std::vector<std::atomic<int>> rounds(kInstances);
  const auto make = [&](const fs::path& folder, int index) {
    UpdateCheck::Config config;
    config.productSlug = "morvellan";
    config.currentVersion = "0.9.14";
    config.dataFolder = folder;
    config.clock = [&] { return now.load(); };
    config.gate = [&, index] { return ++rounds[size_t(index)], true; };
    return std::make_shared<UpdateCheck>(std::move(config));
  };
  const auto onThreads = [](int count, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int i = 0; i < count; ++i)
      threads.emplace_back([&, i] {
        ++ready;
        while (ready.load() < count)
          std::this_thread::yield();
        body(i);
      });
    for (auto& thread : threads)
      thread.join();
  };
  const auto waitFor = [](const std::function<bool()>& condition) {
    for (const auto deadline = std::chrono::steady_clock::now() + 20s; !condition();)
    {
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  };

  // 32 instances polling a fresh folder at the same moment.
  onThreads(kInstances, [&](int i) { make(temp.Path() / "direct", i)->Poll(); });
  EXPECT_EQ(server.RequestCount(), 1u);

  // 32 instances created at once from 32 threads, each with its worker.
  std::vector<std::shared_ptr<UpdateCheck>> checks(kInstances);
  std::vector<std::unique_ptr<UpdateWorker>> workers(kInstances);
  onThreads(kInstances, [&](int i) {
    checks[size_t(i)] = make(temp.Path() / "Updates", i);
    workers[size_t(i)] = std::make_unique<UpdateWorker>();
    workers[size_t(i)]->Start(checks[size_t(i)], 0ms, 10ms);
  });
  const auto allRoundsPast = [&](std::vector<int> marks) {
    return waitFor([&] {
      for (int i = 0; i < kInstances; ++i)
        if (rounds[size_t(i)].load() < marks[size_t(i)] + 2)
          return false;
      return true;
    });
  };
  ASSERT_TRUE(allRoundsPast(std::vector<int>(kInstances, 0)));
  EXPECT_EQ(server.RequestCount(), 2u);
  for (const auto& check : checks)
    ASSERT_TRUE(waitFor([&] { return check->CurrentOffer().has_value(); }));

  // The spacing runs out while all 32 are open: one of them fetches again.
  std::vector<int> marks(kInstances);
  for (int i = 0; i < kInstances; ++i)
    marks[size_t(i)] = rounds[size_t(i)].load();
  now += 600;
  ASSERT_TRUE(allRoundsPast(marks));
  EXPECT_EQ(server.RequestCount(), 3u);
  workers.clear();
  EXPECT_NE(ReadBytes(temp.Path() / "Updates" / "updates.json").find("\"checked_at\":1000600,"), std::string::npos);

  // Two processes polling one folder at once, 16 threads each.
  const fs::path shared = temp.Path() / "processes";
  fs::create_directories(shared);
  setenv(kPollChildVariable, shared.c_str(), 1);
  char self[] = "/proc/self/exe";
  char* argv[] = {self, nullptr};
  pid_t children[2] = {-1, -1};
  for (pid_t& child : children)
    ASSERT_EQ(posix_spawn(&child, self, nullptr, nullptr, argv, environ), 0);
  unsetenv(kPollChildVariable);
  WriteBytes(shared / "go", "");
  for (pid_t child : children)
  {
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(server.RequestCount(), 4u);

  // A lock file a crashed process left behind locks nothing; one that a hung holder keeps
  // delays a poll only boundedly, which then fetches as it would without the lock.
  const fs::path held = temp.Path() / "held";
  fs::create_directories(held);
  const int holder = ::open((held / "updates.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  std::atomic<bool> polled{false};
  std::thread hung([&] {
    make(held, 0)->Poll();
    polled = true;
  });
  EXPECT_TRUE(waitFor([&] { return polled.load(); }));
  hung.join();
  ::close(holder);
  EXPECT_EQ(server.RequestCount(), 5u);
  now += 600;
  make(held, 0)->Poll();
  make(held, 0)->Poll();
  EXPECT_EQ(server.RequestCount(), 6u);
}
