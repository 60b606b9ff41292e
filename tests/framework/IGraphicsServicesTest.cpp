// The desktop services: file chooser, browser launcher and the missing-program rules.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "MessageBox.h"
#include "PlatformServices.h"
#include "FakePrograms.h"

using namespace iplug::igraphics;
using testsupport::FakePrograms;
using testsupport::ProcessGone;
namespace fs = std::filesystem;

namespace
{

// Runs frames until the completion has run or a few seconds passed.
template <typename Done>
void FramesUntil(IGraphics& g, Done done)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done() && std::chrono::steady_clock::now() < end)
  {
    g.OnFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST(PlatformServices, TheChooserHooksAnswerArrivesOnTheNextFrameAndNotAfterClosing)
{
  std::vector<FileChooserCall> calls;
  ScopedFileChooserHook hook([&calls](const FileChooserCall& call) {
    calls.push_back(call);
    return std::string("/music/takes/\u00e9t\u00e9 01.wav");
  });
  iplug::IEditorDelegate dlg(0);
  auto g = std::make_unique<IGraphics>(dlg, 720, 532, 60, 1.f);

  WDL_String file("start.wav"), folder("/music");
  std::vector<std::pair<std::string, std::string>> answers;
  g->PromptForFile(file, folder, EFileAction::Open, "wav flac",
                   [&](const WDL_String& f, const WDL_String& p) { answers.emplace_back(f.Get(), p.Get()); });
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].action, EFileAction::Open);
  EXPECT_EQ(calls[0].extensions, "wav flac");
  EXPECT_EQ(calls[0].folder, "/music");
  EXPECT_EQ(calls[0].fileName, "start.wav");
  EXPECT_TRUE(answers.empty());
  g->OnFrame();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].first, "/music/takes/\u00e9t\u00e9 01.wav");
  EXPECT_EQ(answers[0].second, "/music/takes");

  // An editor closed before the next frame drops the answer.
  bool called = false;
  g->PromptForFile(file, folder, EFileAction::Save, "", [&called](const WDL_String&, const WDL_String&) {
    called = true;
  });
  g.reset();
  EXPECT_FALSE(called);
}

TEST(PlatformServices, ZenityGetsAnArgumentVectorAndItsExitStatusDecides)
{
  FakePrograms programs;
  programs.Add("zenity", "echo '/chosen/a \"b\" $(c).aiff'");
  iplug::IEditorDelegate dlg(0);
  IGraphics g(dlg, 720, 532, 60, 1.f);
  WDL_String file("My \"take\" $HOME.wav"), folder("/start dir");
  std::string chosen = "(none)";
  g.PromptForFile(file, folder, EFileAction::Save, "wav mp3",
                  [&](const WDL_String& f, const WDL_String&) { chosen = f.Get(); });
  FramesUntil(g, [&] { return chosen != "(none)"; });
  EXPECT_EQ(chosen, "/chosen/a \"b\" $(c).aiff");
  const std::vector<std::string> expected = {"--file-selection",
                                             "--save",
                                             "--confirm-overwrite",
                                             "--title=Save file",
                                             "--filename=/start dir/My \"take\" $HOME.wav",
                                             "--file-filter=Supported files | *.[wW][aA][vV] *.[mM][pP]3",
                                             "--file-filter=All files | *"};
  std::vector<std::string> args = programs.Lines("zenity");
  ASSERT_FALSE(args.empty());
  args.erase(args.begin()); // the pid
  EXPECT_EQ(args, expected);

  // Closed with Cancel (exit 1): an empty answer, even with something printed.
  programs.Add("zenity", "echo /not/this.wav; exit 1");
  chosen = "(none)";
  g.PromptForFile(file, folder, EFileAction::Open, "wav",
                  [&](const WDL_String& f, const WDL_String&) { chosen = f.Get(); });
  FramesUntil(g, [&] { return chosen != "(none)"; });
  EXPECT_EQ(chosen, "");

  // A chooser still open when its owner goes is ended and reaped.
  programs.Add("zenity", "exec /bin/sleep 30");
  std::unique_ptr<FileChooserProcess> open = FileChooserProcess::Start(FileChooserCall{});
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (programs.Lines("zenity").empty() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_FALSE(programs.Lines("zenity").empty());
  const pid_t pid = std::stoi(programs.Lines("zenity")[0]);
  std::string path;
  EXPECT_FALSE(open->Poll(path));
  open.reset();
  EXPECT_TRUE(ProcessGone(pid));
}

TEST(PlatformServices, OnlyWebAddressesReachTheBrowserEachAsOneArgument)
{
  std::vector<std::string> opened;
  {
    ScopedOpenUrlHook hook([&opened](const std::string& url) {
      opened.push_back(url);
      return url.find("fail") == std::string::npos;
    });
    iplug::IEditorDelegate dlg(0);
    IGraphics g(dlg, 720, 532, 60, 1.f);
    EXPECT_TRUE(g.OpenURL("https://example.com/releases?v=1&x=2"));
    EXPECT_TRUE(g.OpenURL("HTTP://example.com/"));
    EXPECT_FALSE(g.OpenURL("https://example.com/fail"));
    for (const char* refused : {"file:///etc/passwd", "--help", "/tmp/x.html", "javascript:alert(1)",
                                "ftp://example.com/", "https://", "https://example.com/a b",
                                "https://example.com/\n--x", "", " https://example.com/"})
      EXPECT_FALSE(g.OpenURL(refused)) << refused;
    EXPECT_FALSE(g.OpenURL(nullptr));
  }
  const std::vector<std::string> expected = {"https://example.com/releases?v=1&x=2", "HTTP://example.com/",
                                             "https://example.com/fail"};
  EXPECT_EQ(opened, expected);

  // The real launcher: one argument, not waited for, reaped by a later call.
  FakePrograms programs;
  programs.Add("xdg-open", "");
  EXPECT_TRUE(LaunchUrl("https://example.com/?q=$(rm${IFS}x)&y=`z`;id"));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (programs.Lines("xdg-open").size() < 2 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::vector<std::string> lines = programs.Lines("xdg-open");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "https://example.com/?q=$(rm${IFS}x)&y=`z`;id");
  const pid_t first = std::stoi(lines[0]);
  // Ended but not reaped: a zombie until the next launch.
  const auto isZombie = [first] {
    std::ifstream stat("/proc/" + std::to_string(first) + "/stat");
    std::string pid, name, state;
    return stat >> pid >> name >> state && state == "Z";
  };
  while (!isZombie() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(isZombie());
  EXPECT_TRUE(LaunchUrl("https://example.com/second"));
  EXPECT_TRUE(ProcessGone(first));
}

TEST(PlatformServices, AQuestionReturnsAtOnceItsAnswerArrivesOnALaterFrameAndClosingReapsIt)
{
  FakePrograms programs;
  // Waits for the test's answer: a box that the call waited for would hang here.
  const fs::path reply = programs.Dir() / "reply";
  programs.Add("zenity", "while [ ! -e '" + reply.string() + "' ]; do /bin/sleep 0.01; done\nexit $(/bin/cat '" +
                             reply.string() + "')");
  const auto pidOf = [&] {
    const auto lines = programs.Lines("zenity");
    return lines.empty() ? pid_t(0) : pid_t(std::stoi(lines[0]));
  };
  iplug::IEditorDelegate dlg(0);
  auto g = std::make_unique<IGraphics>(dlg, 720, 532, 60, 1.f);
  dlg.SetGraphics(g.get());

  std::vector<iplug::EMsgBoxResult> answers;
  const auto record = [&answers](iplug::EMsgBoxResult r) { answers.push_back(r); };
  for (const char* exitCode : {"0", "1"})
  {
    fs::remove(reply);
    fs::remove(programs.Record("zenity"));
    answers.clear();
    g->ShowMessageBox("A preset named \"Warm\" already exists. Replace it?", "Save preset",
                      iplug::EMsgBoxType::kYesNo, record);
    FramesUntil(*g, [&] { return pidOf() != 0; });
    const pid_t child = pidOf();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(answers.empty());
    EXPECT_FALSE(ProcessGone(child));
    // Another question meanwhile is a No at once and starts no second box.
    g->ShowMessageBox("Delete?", "Delete target", iplug::EMsgBoxType::kYesNo, record);
    ASSERT_EQ(answers, std::vector<iplug::EMsgBoxResult>{iplug::EMsgBoxResult::kNo});
    EXPECT_EQ(pidOf(), child);
    std::ofstream(reply) << exitCode;
    FramesUntil(*g, [&] { return answers.size() == 2; });
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], exitCode[0] == '0' ? iplug::EMsgBoxResult::kYes : iplug::EMsgBoxResult::kNo);
    EXPECT_TRUE(ProcessGone(child));
  }
  const auto args = programs.Lines("zenity");
  EXPECT_EQ(std::vector<std::string>(args.begin() + 1, args.end()),
            (std::vector<std::string>{"--question", "--no-markup", "--title=Save preset",
                                      "--text=A preset named \"Warm\" already exists. Replace it?"}));

  // Closing the editor with a box open: no answer, no child left, not even a zombie.
  fs::remove(reply);
  fs::remove(programs.Record("zenity"));
  answers.clear();
  g->ShowMessageBox("Delete?", "Delete target", iplug::EMsgBoxType::kYesNo, record);
  FramesUntil(*g, [&] { return pidOf() != 0; });
  const pid_t open = pidOf();
  ASSERT_GT(open, 0);
  dlg.SetGraphics(nullptr);
  g.reset();
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(ProcessGone(open));
}

// Runs in a process of its own, since each missing program is reported once per process.
// Exits with the number of stderr lines, or 100 + the step that went wrong.
[[noreturn]] void RunWithoutPrograms()
{
  FakePrograms empty;
  const fs::path errFile = empty.Dir() / "stderr.txt";
  if (!freopen(errFile.c_str(), "w", stderr))
    std::_Exit(100);

  iplug::IEditorDelegate dlg(0);
  IGraphics g(dlg, 720, 532, 60, 1.f);
  WDL_String file, folder;
  int answers = 0;
  std::string last = "(none)";
  for (int i = 0; i < 2; ++i)
    g.PromptForFile(file, folder, EFileAction::Open, "wav", [&](const WDL_String& f, const WDL_String&) {
      ++answers;
      last = f.Get();
    });
  g.OnFrame();
  if (answers != 2 || !last.empty())
    std::_Exit(101);
  if (g.OpenURL("https://example.com/") || g.OpenURL("https://example.com/"))
    std::_Exit(102);
  dlg.SetGraphics(&g);
  iplug::EMsgBoxResult answer = iplug::EMsgBoxResult::kYes;
  g.ShowMessageBox("Replace it?", "Save preset", iplug::EMsgBoxType::kYesNo,
                   [&answer](iplug::EMsgBoxResult r) { answer = r; });
  if (answer != iplug::EMsgBoxResult::kNo)
    std::_Exit(103);
  g.ShowMessageBox("Done", "Save preset", iplug::EMsgBoxType::kOK);
  g.ShowMessageBox("Again", "Save preset", iplug::EMsgBoxType::kOK);
  dlg.SetGraphics(nullptr);

  std::fflush(stderr);
  std::ifstream in(errFile);
  int lines = 0;
  for (std::string line; std::getline(in, line);)
    lines += line.find("Morvellan:") == 0 ? 1 : 0;
  std::_Exit(lines);
}

TEST(PlatformServices, MissingProgramsCancelAnswerFalseAndSaySoOnceEach)
{
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // zenity for the chooser, xdg-open, zenity for the message box: one line each.
  EXPECT_EXIT(RunWithoutPrograms(), ::testing::ExitedWithCode(3), "");
}

} // namespace
