#include "BoundParamWatch.h"

#include "IControl.h"
#include "IParam.h"

namespace iplug::igraphics
{

bool BoundParamWatch::Poll(IControl& control, bool adopt)
{
  const int n = control.NVals();
  // A slot polled for the first time compares with the value the control holds.
  for (size_t v = mSeen.size(); v < static_cast<size_t>(n); ++v)
    mSeen.push_back(control.GetValue(static_cast<int>(v)));
  bool changed = false;
  for (int v = 0; v < n; ++v)
  {
    const IParam* param = control.GetParam(v);
    if (!param)
      continue;
    const double now = param->GetNormalized();
    double& seen = mSeen[static_cast<size_t>(v)];
    if (now != seen && adopt && now != control.GetValue(v))
    {
      control.SetValue(now, v);
      control.SetDirty(false);
      changed = true;
    }
    seen = now;
  }
  return changed;
}

} // namespace iplug::igraphics
