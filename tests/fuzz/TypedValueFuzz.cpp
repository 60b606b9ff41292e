// Any text typed into a value caption, sent to any of the plug-in's parameters: a number
// that is read is finite, and a commit only ever leaves a finite value inside the range.

#include "FuzzCheck.h"
#include "FuzzTargets.h"

#include "IControl.h"
#include "IEditorDelegate.h"
#include "IGraphics.h"
#include "Parameters.h"
#include "TypedValue.h"

#include <algorithm>
#include <string>

using morvellan::plugin::CommitTypedValue;
using morvellan::plugin::ParseTypedValue;

namespace {

// The plug-in's parameters; counts what a commit sends on the way to the host.
class Delegate : public iplug::IEditorDelegate
{
public:
  Delegate() : IEditorDelegate(kNumParams)
  {
    for (int i = 0; i < kNumParams; ++i)
      morvellan::DeclareParameter(*GetParam(i), morvellan::kParamTable[std::size_t(i)]);
  }
  void BeginInformHostOfParamChangeFromUI(int) override { ++begins; }
  void EndInformHostOfParamChangeFromUI(int) override { ++ends; }
  void SendParameterValueFromUI(int paramIdx, double normalized) override
  {
    ++sends;
    FUZZ_CHECK(std::isfinite(normalized) && normalized >= 0. && normalized <= 1.);
    IEditorDelegate::SendParameterValueFromUI(paramIdx, normalized);
  }
  int begins = 0, sends = 0, ends = 0;
};

class Caption : public iplug::igraphics::IControl
{
public:
  Caption() : IControl(iplug::igraphics::IRECT(0.f, 0.f, 60.f, 20.f)) {}
  void Draw(iplug::igraphics::IGraphics&) override {}
};

struct Editor
{
  Delegate dlg;
  iplug::igraphics::IGraphics graphics{dlg, 100, 100, 60, 1.f};
  iplug::igraphics::IControl* caption = graphics.AttachControl(new Caption());
};

bool SameResult(const std::pair<double, bool>& a, const std::pair<double, bool>& b)
{
  return a.second == b.second && fuzz::SameBits(a.first, b.first);
}

} // namespace

namespace fuzz {

int TypedValue(const std::uint8_t* data, std::size_t size)
{
  static Editor editor;
  if (size == 0)
    return 0;
  const int paramIdx = data[0] % kNumParams;
  // Text reaches the parser as a C string: it ends at the first zero byte.
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char* typed = text.c_str();

  const auto parsed = ParseTypedValue(typed);
  if (parsed.second)
    FUZZ_CHECK(std::isfinite(parsed.first));
  else
    FUZZ_CHECK(parsed.first == 0.);

  // A comma is a decimal point, and leading white space is skipped.
  std::string withPoints(typed);
  std::replace(withPoints.begin(), withPoints.end(), ',', '.');
  FUZZ_CHECK(SameResult(ParseTypedValue(withPoints.c_str()), parsed));
  FUZZ_CHECK(SameResult(ParseTypedValue((" \t" + std::string(typed)).c_str()), parsed));

  iplug::IParam* param = editor.dlg.GetParam(paramIdx);
  const double before = param->Value();
  editor.dlg.begins = editor.dlg.sends = editor.dlg.ends = 0;
  CommitTypedValue(*editor.caption, paramIdx, typed);
  const double after = param->Value();
  FUZZ_CHECK(std::isfinite(after) && after >= param->GetMin() && after <= param->GetMax());
  if (parsed.second)
  {
    FUZZ_CHECK(editor.dlg.begins == 1 && editor.dlg.sends == 1 && editor.dlg.ends == 1);
  }
  else
  {
    FUZZ_CHECK(editor.dlg.begins == 0 && editor.dlg.sends == 0 && editor.dlg.ends == 0);
    FUZZ_CHECK(SameBits(after, before));
  }
  return 0;
}

} // namespace fuzz

FUZZ_ENTRY_POINT(fuzz::TypedValue)
