#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "IControl.h"

namespace halvorsted::updates
{
class UpdateCheck;
}

namespace halvorsted::controls
{

// Shows a pending update as a right-aligned pill ("0.9.15 AVAILABLE"); a click opens the
// offer's page. Without an offer it draws nothing and takes no clicks.
class UpdatePillControl : public iplug::igraphics::IControl
{
public:
  using IRECT = iplug::igraphics::IRECT;

  struct Style
  {
    iplug::igraphics::IColor fill;
    iplug::igraphics::IColor hoverFill;
    iplug::igraphics::IColor textColor;
    iplug::igraphics::IText textStyle;
  };

  // updateCheck is not owned and outlives the control.
  UpdatePillControl(const IRECT& bounds, const Style& style, halvorsted::updates::UpdateCheck* updateCheck,
                    std::function<void(const IRECT&)> onPillRect);

  void SyncWithUpdateCheck();
  halvorsted::updates::UpdateCheck* GetUpdateCheck() const { return mUpdateCheck; }
  const IRECT& GetPillRect() const { return mPillRect; }

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOver(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOut() override;
  void OnResize() override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  void SetText(const iplug::igraphics::IText& txt) override;
  bool IsHit(float x, float y) const override;
  bool IsDirty() override;

private:
  Style mStyle;
  halvorsted::updates::UpdateCheck* mUpdateCheck;
  std::function<void(const IRECT&)> mOnPillRect;
  std::int32_t mLastChangeCount = -1;
  unsigned mTextMeasures = 0; // the graphics' TextMeasureGeneration the pill was measured with
  IRECT mPillRect;
  std::string mLabel;
  std::string mUrl;
  bool mHover = false;
};

} // namespace halvorsted::controls
