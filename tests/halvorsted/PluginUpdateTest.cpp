#include "Morvellan.h"

#include "LocalServer.h"
#include "TempFolder.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using halvorsted::testing::LocalServer;
using namespace std::chrono_literals;

namespace {

// Each plug-in instance runs its own update check against the feed named by the environment,
// keeping its state in the per-user data folder.
class PluginUpdates : public ::testing::Test
{
protected:
  void SetUp() override
  {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
      unsetenv(name);
    const char* xdg = std::getenv("XDG_DATA_HOME");
    mSavedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    setenv("XDG_DATA_HOME", temp.Path().c_str(), 1);
  }
  void TearDown() override
  {
    if (mSavedXdg)
      setenv("XDG_DATA_HOME", mSavedXdg->c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
    unsetenv("HALVORSTED_UPDATES_URL");
  }

  static bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit)
  {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition())
    {
      if (std::chrono::steady_clock::now() > deadline)
        return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  TempFolder temp;
  std::optional<std::string> mSavedXdg;
};

} // namespace

TEST_F(PluginUpdates, AnInstanceFetchesTheFeedOnceAndRemembersIt)
{
  const std::string feed = R"({"morvellan":{"version":"99.0.0","page":"/morvellan"}})";
  LocalServer server([&](LocalServer::Connection& c, const std::string&) { c.Send(LocalServer::Response(200, feed)); });
  setenv("HALVORSTED_UPDATES_URL", server.Url("/updates.json").c_str(), 1);

  const auto stateFile = temp.Path() / "Halvorsted" / "Updates" / "updates.json";
  {
    auto plug = std::make_unique<Morvellan>(iplug::InstanceInfo{});
    ASSERT_TRUE(WaitFor([&] { return ReadBytes(stateFile).find("99.0.0") != std::string::npos; }, 10s));
  }
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("GET /updates.json HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(ReadBytes(stateFile).rfind("{\"version\":1,\"checked_at\":", 0), 0u);

  // A second instance within 600 seconds reads the remembered check and asks nothing.
  {
    Morvellan second(iplug::InstanceInfo{});
    std::this_thread::sleep_for(3s);
  }
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(PluginUpdates, ReleasingAnInstanceEndsAStalledRequestPromptly)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) { c.WaitForStop(30s); });
  setenv("HALVORSTED_UPDATES_URL", server.Url("/updates.json").c_str(), 1);

  auto plug = std::make_unique<Morvellan>(iplug::InstanceInfo{});
  ASSERT_TRUE(WaitFor([&] { return server.RequestCount() == 1; }, 10s));
  const auto start = std::chrono::steady_clock::now();
  plug.reset();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
}

TEST_F(PluginUpdates, ReleasingAnInstanceNeverWaitsForAnotherInstancesRequest)
{
  LocalServer server([](LocalServer::Connection& c, const std::string&) { c.WaitForStop(30s); });
  setenv("HALVORSTED_UPDATES_URL", server.Url("/updates.json").c_str(), 1);
  const auto seconds = [](auto start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  // The shared update thread holds the first instance's request, which the server never
  // answers (the request itself gives up after 8 seconds).
  auto fetching = std::make_unique<Morvellan>(iplug::InstanceInfo{});
  ASSERT_TRUE(WaitFor([&] { return server.RequestCount() == 1; }, 10s));
  // Another instance let go at once, and one let go past its first delay, its round waiting
  // behind the stalled one.
  for (const auto age : {0ms, 2500ms})
  {
    auto other = std::make_unique<Morvellan>(iplug::InstanceInfo{});
    std::this_thread::sleep_for(age);
    const auto start = std::chrono::steady_clock::now();
    other.reset();
    EXPECT_LT(seconds(start), 3.0) << age.count();
  }
  const auto start = std::chrono::steady_clock::now();
  fetching.reset();
  EXPECT_LT(seconds(start), 3.0);
  EXPECT_EQ(server.RequestCount(), 1u);
}
