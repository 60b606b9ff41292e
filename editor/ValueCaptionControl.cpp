#include "ValueCaptionControl.h"

#include "IGraphics.h"
#include "IParam.h"
#include "TypedValue.h"
#include "WDL_String.h"

namespace morvellan::plugin
{

using namespace iplug::igraphics;

namespace
{
constexpr int kEntryLength = 16;
}

ValueCaptionControl::ValueCaptionControl(const IRECT& bounds, int paramIdx, const IText& text)
: ICaptionControl(bounds, paramIdx, text, COLOR_TRANSPARENT, true)
{
  SetTextEntryLength(kEntryLength);
  SetTooltip("Click to type a value");
}

void ValueCaptionControl::OnMouseDown(float, float, const IMouseMod& mod)
{
  IGraphics* ui = GetUI();
  const iplug::IParam* param = GetParam();
  if (!mod.L || !ui || !param)
    return;
  WDL_String display;
  param->GetDisplay(display);
  // No value slot: the typed text is ours to read, not the framework's.
  ui->CreateTextEntry(*this, mText, mRECT, display.Get(), kNoValIdx);
  mPrefill = ui->GetTextEntryText();
}

void ValueCaptionControl::OnTextEntryCompletion(const char* str, int)
{
  CommitTypedValue(*this, GetParamIdx(0), str, mPrefill);
}

} // namespace morvellan::plugin
