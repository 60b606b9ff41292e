#pragma once

#include "Morvellan.h"
#include "MessageBox.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One plug-in instance with its per-user folders in a temporary folder, and a
// stand-in for the editor's message boxes that records them and answers
// questions from a queue (No when the queue is empty).
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
