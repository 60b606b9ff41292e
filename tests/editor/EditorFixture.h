#pragma once

// One plug-in instance with its editor open headless, as the window would open it:
// the plug-in's own graphics and layout hooks, then every parameter value sent.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "IGraphics.h"
#include "MessageBox.h"
#include "Morvellan.h"
#include "TempFolder.h"

class EditorFixture : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (const char* old = std::getenv("XDG_DATA_HOME"))
      mOldXdg = old;
    setenv("XDG_DATA_HOME", mData.Path().c_str(), 1);
    mPlug = static_cast<Morvellan*>(MakePlug(iplug::InstanceInfo{}));
    mBoxes = std::make_unique<iplug::ScopedMessageBoxHook>(
        [this](const iplug::MessageBoxCall& call) {
          mBoxTitles.push_back(call.title);
          return mAnswerYes ? iplug::EMsgBoxResult::kYes : iplug::EMsgBoxResult::kNo;
        },
        false);
  }

  void TearDown() override
  {
    CloseEditor();
    mBoxes.reset();
    mPlug->release();
    if (mOldXdg)
      setenv("XDG_DATA_HOME", mOldXdg->c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
  }

  iplug::igraphics::IGraphics& OpenEditor()
  {
    mUI.reset(mPlug->mMakeGraphicsFunc());
    mPlug->SetGraphics(mUI.get());
    mPlug->mLayoutFunc(mUI.get());
    mPlug->SendCurrentParamValuesFromDelegate();
    mUI->OnFrame();
    return *mUI;
  }

  void CloseEditor()
  {
    if (!mUI)
      return;
    mUI->RemoveAllControls();
    mPlug->SetGraphics(nullptr);
    mUI.reset();
  }

  // A click as the window delivers it, never taken for half of a double click.
  void Click(float x, float y, bool right = false)
  {
    mClock += 1000.;
    const iplug::igraphics::IMouseMod mod(!right, right);
    mUI->OnMouseDown(x * mUI->GetDrawScale(), y * mUI->GetDrawScale(), mod, mClock);
    mUI->OnMouseUp(x * mUI->GetDrawScale(), y * mUI->GetDrawScale(), mod);
  }

  TempFolder mData;
  std::optional<std::string> mOldXdg;
  Morvellan* mPlug = nullptr;
  std::unique_ptr<iplug::igraphics::IGraphics> mUI;
  std::unique_ptr<iplug::ScopedMessageBoxHook> mBoxes;
  std::vector<std::string> mBoxTitles;
  bool mAnswerYes = false;
  double mClock = 0.;
};
