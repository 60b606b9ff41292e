#include "Morvellan.h"

#include <cmath>

#include "AccentColours.h"
#include "IGraphics.h"
#include "ITextControl.h"
#include "StatusText.h"

namespace {

constexpr int kCompareSize = kNumParams + 2 * morvellan::kNumBands + 2;
constexpr double kRelativeTolerance = 1e-6;

bool DiffersFromBaseline(const std::vector<double>& now, const std::vector<double>& base)
{
  for (size_t i = 0; i < now.size(); ++i)
    if (std::fabs(now[i] - base[i]) > kRelativeTolerance * std::max(std::fabs(now[i]), 1.0))
      return true;
  return false;
}

} // namespace

// UI thread, every 20 ms whether or not the editor is open.
void Morvellan::OnIdle()
{
  mInputMeterSender.TransmitData(*this);
  mOutputMeterSender.TransmitData(*this);

  // REAPER's functions may be called only on its UI thread. Until an editor is
  // open we run on our own timer thread, so the last known track stays in force.
  const bool onHostUiThread = GetUI() != nullptr;
  const bool reaperPresent = mReaperHost != nullptr;

  // A snapshot's graphics draws at screen scale 1 and says nothing about the host's screen.
  if (onHostUiThread && EditorViewAttached())
    mScreenScale = GetUI()->GetScreenScale();

  if (mAccentIndex.load() == morvellan::kHostAccentIndex && (onHostUiThread || !reaperPresent))
  {
    const int colour = ReadHostTrackColour();
    if (colour != mHostTrackColour)
    {
      mHostTrackColour = colour;
      mAccentDirty.store(true);
    }
  }

  // A closed editor is built afresh when it opens, so the request is simply consumed.
  if (mAccentDirty.exchange(false))
  {
    ++mAccentRebuildsAsked;
    if (GetUI())
      RebuildEditor();
  }

  if (onHostUiThread || !reaperPresent)
  {
    const std::string label = ReadHostTrackLabel();
    if (label != mHostTrackLabel.Get())
    {
      mHostTrackLabel.Set(label.c_str());
      SetEditorControlText(kCtrlTagTitle, label.empty() ? "MORVELLAN" : label);
    }
  }

  if (mPendingTargetSave)
  {
    std::string name = std::move(*mPendingTargetSave);
    mPendingTargetSave.reset();
    SaveTarget(name);
  }
  if (mPendingPresetSave)
  {
    std::string name = std::move(*mPendingPresetSave);
    mPendingPresetSave.reset();
    SavePreset(name, true);
  }

  if (mLearnFinished.exchange(false))
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mTargetSourceName.clear();
  }

  UpdatePresetModified();
  UpdateStatusLine();
  // On our own timer thread this only notes a change; the host hears of it on its UI thread.
  CheckForStateChanges();
}

int Morvellan::ReadHostTrackColour() const
{
  if (mReaperHost && mGetMediaTrackInfoValue && mColorFromNative)
  {
    if (void* track = GetReaperTrack())
    {
      // Converting a NaN or a value far outside 32 bits is undefined: such a value holds no colour.
      const double raw = mGetMediaTrackInfoValue(track, "I_CUSTOMCOLOR");
      const std::int32_t value =
          std::isfinite(raw) && std::fabs(raw) < 4.0e9 ? static_cast<std::int32_t>(static_cast<std::int64_t>(raw)) : 0;
      if (value & morvellan::kReaperCustomColourFlag)
      {
        int red = 0, green = 0, blue = 0;
        mColorFromNative(value & 0xFFFFFF, &red, &green, &blue);
        return (red & 255) * 65536 + (green & 255) * 256 + (blue & 255);
      }
    }
  }
  return morvellan::HostColourFromChannel(GetChannelContext().colour);
}

std::string Morvellan::ReadHostTrackLabel() const
{
  if (mReaperHost && mGetSetMediaTrackInfoString && mGetMediaTrackInfoValue)
  {
    std::string name;
    void* track = GetReaperTrack();
    if (track && GetReaperTrackName(track, name))
    {
      const double number = mGetMediaTrackInfoValue(track, "IP_TRACKNUMBER");
      // A value outside int (or NaN) from the host must not be converted blindly.
      const int n = std::isfinite(number) && std::fabs(number) < 2.0e9 ? static_cast<int>(number) : 0;
      return morvellan::TrackLabelText(n, name);
    }
  }
  const auto& context = GetChannelContext();
  if (!context.name.empty())
    return morvellan::TrackLabelText(context.index, context.name);
  return {};
}

std::vector<double> Morvellan::TakeCompareSnapshot()
{
  morvellan::BalanceCopy target;
  if (!mLearnedTarget.TryRead(target))
    return {};

  std::vector<double> values;
  values.reserve(kCompareSize);
  for (int i = 0; i < kNumParams; ++i)
    values.push_back(GetParam(i)->Value());
  values.insert(values.end(), target.relative.begin(), target.relative.end());
  values.insert(values.end(), target.absolute.begin(), target.absolute.end());
  values.push_back(target.valid ? 1.0 : 0.0);
  bool sourceChanged = false;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    sourceChanged = mTargetSourceName != mBaselineSourceName;
  }
  values.push_back(sourceChanged ? 1.0 : 0.0);
  return values;
}

void Morvellan::UpdatePresetModified()
{
  if (mTakeBaseline.exchange(false))
  {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mBaselineSourceName = mTargetSourceName;
    }
    std::vector<double> now = TakeCompareSnapshot();
    if (!now.empty())
    {
      mPresetBaseline = std::move(now);
      // A mark restored from a state survives the baseline that the restore asked for.
      mPresetModified = mRestoredModified;
      mRestoredModified = false;
    }
    else
    {
      mTakeBaseline.store(true); // the target was being written; try on the next call
    }
  }
  else if (!mPresetModified && !GetPresetNameLocked().empty())
  {
    const std::vector<double> now = TakeCompareSnapshot();
    if (!now.empty() && !mPresetBaseline.empty() && now.size() == mPresetBaseline.size() &&
        DiffersFromBaseline(now, mPresetBaseline))
      mPresetModified = true;
  }

  const bool shown = mPresetModified || mRestoredModified;
  if (shown != mShownModified)
  {
    mShownModified = shown;
    RedrawEditorControl(kCtrlTagPresetBar);
  }
}

void Morvellan::UpdateStatusLine()
{
  morvellan::BalanceCopy target;
  if (!mLearnedTarget.TryRead(target))
    return;
  std::string source;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    source = mTargetSourceName;
  }
  const std::string text = morvellan::StatusLineText(target.valid, source);
  if (text != mStatusText && SetEditorControlText(kCtrlTagStatus, text))
    mStatusText = text;
}

// The editor's controls are reached by tag; with no editor (or no such control)
// nothing is touched and the text setter says so.
bool Morvellan::SetEditorControlText(int tag, const std::string& text)
{
  iplug::igraphics::IGraphics* ui = GetUI();
  auto* control = ui ? dynamic_cast<iplug::igraphics::ITextControl*>(ui->GetControlWithTag(tag)) : nullptr;
  if (!control)
    return false;
  control->SetStr(text.c_str());
  return true;
}

void Morvellan::RedrawEditorControl(int tag)
{
  if (iplug::igraphics::IGraphics* ui = GetUI())
    if (iplug::igraphics::IControl* control = ui->GetControlWithTag(tag))
      control->SetDirty(false);
}

void Morvellan::RebuildEditor()
{
  iplug::igraphics::IGraphics* ui = GetUI();
  if (!ui || !mLayoutFunc)
    return;
  ui->RemoveAllControls();
  mLayoutFunc(ui);
  SendCurrentParamValuesFromDelegate();
  ui->SetAllControlsDirty();
}
