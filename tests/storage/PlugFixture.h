#pragma once

#include "Morvellan.h"
#include "MessageBox.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// An attribute list as a host fills it: a channel context or a message's attributes.
class FakeAttributes : public Steinberg::Vst::IAttributeList
{
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void** obj) override
  {
    *obj = nullptr;
    return Steinberg::kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }
  Steinberg::tresult PLUGIN_API setInt(AttrID, Steinberg::int64) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API getInt(AttrID id, Steinberg::int64& value) override
  {
    auto it = ints.find(id);
    if (it == ints.end())
      return Steinberg::kResultFalse;
    value = it->second;
    return Steinberg::kResultTrue;
  }
  Steinberg::tresult PLUGIN_API setFloat(AttrID, double) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API getFloat(AttrID, double&) override { return Steinberg::kResultFalse; }
  Steinberg::tresult PLUGIN_API setString(AttrID, const Steinberg::Vst::TChar*) override
  {
    return Steinberg::kResultFalse;
  }
  // ASCII strings only, which is all the tests pass.
  Steinberg::tresult PLUGIN_API getString(AttrID id, Steinberg::Vst::TChar* out, Steinberg::uint32 bytes) override
  {
    auto it = strings.find(id);
    if (it == strings.end() || bytes < sizeof(Steinberg::Vst::TChar))
      return Steinberg::kResultFalse;
    const size_t count = std::min<size_t>(it->second.size(), bytes / sizeof(Steinberg::Vst::TChar) - 1);
    for (size_t i = 0; i < count; ++i)
      out[i] = static_cast<Steinberg::Vst::TChar>(it->second[i]);
    out[count] = 0;
    return Steinberg::kResultTrue;
  }
  Steinberg::tresult PLUGIN_API setBinary(AttrID id, const void* data, Steinberg::uint32 size) override
  {
    binaries[id] = std::string(static_cast<const char*>(data), size);
    return Steinberg::kResultOk;
  }
  Steinberg::tresult PLUGIN_API getBinary(AttrID id, const void*& data, Steinberg::uint32& size) override
  {
    auto it = binaries.find(id);
    if (it == binaries.end())
      return Steinberg::kResultFalse;
    data = it->second.data();
    size = static_cast<Steinberg::uint32>(it->second.size());
    return Steinberg::kResultOk;
  }

  std::map<std::string, Steinberg::int64> ints;
  std::map<std::string, std::string> strings;
  std::map<std::string, std::string> binaries;
};

// One plug-in instance with its per-user folders in a temporary folder, and a
// stand-in for the editor's message boxes that records them and answers
// questions from a queue (No when the queue is empty) on the next frame.
class PlugFixture : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (const char* old = std::getenv("XDG_DATA_HOME"))
      mOldXdg = old;
    setenv("XDG_DATA_HOME", mData.Path().c_str(), 1);
    mPlug = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
    OpenEditorStandIn(true);
  }

  void TearDown() override
  {
    mHook.reset();
    mPlug->release();
    if (mOldXdg)
      setenv("XDG_DATA_HOME", mOldXdg->c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
  }

  // With open = false the boxes follow the closed-editor rule.
  void OpenEditorStandIn(bool open)
  {
    mHook.reset();
    mHook = std::make_unique<iplug::ScopedMessageBoxHook>(
        [this](const iplug::MessageBoxCall& call) {
          mBoxes.push_back(call);
          if (call.type != iplug::EMsgBoxType::kYesNo || mAnswers.empty())
            return call.type == iplug::EMsgBoxType::kYesNo ? iplug::EMsgBoxResult::kNo : iplug::EMsgBoxResult::kOK;
          bool yes = mAnswers.front();
          mAnswers.pop_front();
          return yes ? iplug::EMsgBoxResult::kYes : iplug::EMsgBoxResult::kNo;
        },
        open);
  }

  // The editor's next frame: the answers of the questions asked so far arrive.
  void NextFrame() { mPlug->PollMessageBoxes(); }

  std::filesystem::path Presets() const { return mData.Path() / "Morvellan" / "Presets"; }
  std::filesystem::path Targets() const { return mData.Path() / "Morvellan" / "Targets"; }

  std::string PresetName()
  {
    return mPlug->GetPresetNameLocked();
  }

  std::string SourceName()
  {
    std::lock_guard<std::mutex> lock(mPlug->mMutex);
    return mPlug->mTargetSourceName;
  }

  void SetParam(int index, double value) { mPlug->GetParam(index)->Set(value); }
  double Param(int index) { return mPlug->GetParam(index)->Value(); }

  // Publishes a learned target as the audio thread would.
  void PublishLearnedTarget(const morvellan::BandBalance& absolute, bool valid = true)
  {
    morvellan::BandBalance relative{};
    for (size_t i = 0; i < relative.size(); ++i)
      relative[i] = absolute[i] - 1.0;
    mPlug->mLearnedTarget.Write(relative, absolute, valid);
  }

  TempFolder mData;
  std::optional<std::string> mOldXdg;
  Morvellan* mPlug = nullptr;
  std::unique_ptr<iplug::ScopedMessageBoxHook> mHook;
  std::vector<iplug::MessageBoxCall> mBoxes;
  std::deque<bool> mAnswers;
};
