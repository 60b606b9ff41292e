#include "UpdatePillControl.h"

#include <algorithm>

#include "IGraphics.h"
#include "halvorsted/updates/UpdateCheck.h"

namespace halvorsted::controls
{

using namespace iplug::igraphics;

UpdatePillControl::UpdatePillControl(const IRECT& bounds, const Style& style, updates::UpdateCheck* updateCheck,
                                     std::function<void(const IRECT&)> onPillRect)
: IControl(bounds)
, mStyle(style)
, mUpdateCheck(updateCheck)
, mOnPillRect(std::move(onPillRect))
{
  mText = mStyle.textStyle;
  // A double click means nothing here; its second press is a click like the first.
  SetDblAsSingleClick(true);
}

void UpdatePillControl::SyncWithUpdateCheck()
{
  const auto offer = mUpdateCheck ? mUpdateCheck->CurrentOffer() : std::nullopt;
  const std::string oldLabel = mLabel;
  mLabel.clear();
  mUrl.clear();
  IRECT pill;
  // Measuring needs the graphics context: a detached control shows no pill yet.
  if (offer && GetUI())
  {
    mLabel = offer->version + " AVAILABLE";
    mUrl = offer->url;
    IRECT extent;
    GetUI()->MeasureText(mText, mLabel.c_str(), extent);
    const float textWidth = extent.R - extent.L;
    const float width = std::min(textWidth + 2.f * mRECT.H() / 3.f, mRECT.W());
    pill = IRECT(mRECT.R - width, mRECT.T, mRECT.R, mRECT.B);
  }
  if (mLabel != oldLabel)
    SetDirty(false);
  if (pill != mPillRect)
  {
    mPillRect = pill;
    SetDirty(false);
    if (mOnPillRect)
      mOnPillRect(mPillRect);
  }
}

void UpdatePillControl::OnMouseDown(float, float, const IMouseMod&)
{
  if (!mUrl.empty() && GetUI())
    GetUI()->OpenURL(mUrl.c_str());
}

void UpdatePillControl::OnMouseOver(float x, float y, const IMouseMod& mod)
{
  const bool over = !mPillRect.Empty() && mPillRect.Contains(x, y);
  if (over != mHover)
  {
    mHover = over;
    if (GetUI())
      GetUI()->SetMouseCursor(over ? ECursor::HAND : ECursor::ARROW);
    SetDirty(false);
  }
  IControl::OnMouseOver(x, y, mod);
}

void UpdatePillControl::OnMouseOut()
{
  if (mHover && GetUI())
    GetUI()->SetMouseCursor(ECursor::ARROW);
  mHover = false;
  SetDirty(false);
  IControl::OnMouseOut();
}

void UpdatePillControl::OnResize()
{
  mPillRect = IRECT();
  SyncWithUpdateCheck();
  SetDirty(false);
}

void UpdatePillControl::SetText(const IText& txt)
{
  mText = txt;
  mPillRect = IRECT();
  SyncWithUpdateCheck();
  SetDirty(false);
}

void UpdatePillControl::Draw(IGraphics& g)
{
  if (mPillRect.Empty())
    SyncWithUpdateCheck();
  if (mPillRect.Empty())
    return;
  const float inset = 0.1f * mPillRect.H();
  const IRECT shape(mPillRect.L, mPillRect.T + inset, mPillRect.R, mPillRect.B - inset);
  g.FillRoundRect(mHover ? mStyle.hoverFill : mStyle.fill, shape, shape.H() / 6.f, &mBlend);
  IText label = mText.WithFGColor(mStyle.textColor).WithAlign(EAlign::Center);
  g.DrawText(label, mLabel.c_str(), shape);
}

bool UpdatePillControl::IsHit(float x, float y) const
{
  return !mPillRect.Empty() && mPillRect.Contains(x, y);
}

bool UpdatePillControl::IsDirty()
{
  const std::int32_t count = mUpdateCheck ? mUpdateCheck->ChangeCount() : mLastChangeCount;
  // A system font arriving for the label's characters changes its width.
  const unsigned measures = GetUI() ? GetUI()->TextMeasureGeneration() : mTextMeasures;
  if (count == mLastChangeCount && measures == mTextMeasures)
    return IControl::IsDirty();
  mLastChangeCount = count;
  mTextMeasures = measures;
  SyncWithUpdateCheck();
  return true;
}

} // namespace halvorsted::controls
