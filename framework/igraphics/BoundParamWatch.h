#pragma once

#include <vector>

namespace iplug::igraphics
{

class IControl;

// Notices when a parameter bound to a control moved without the control being told:
// a value typed into another control, another control of the same parameter. Polled
// from IsDirty, so what the control shows never stays stale.
class BoundParamWatch
{
public:
  // With adopt, each slot whose parameter changed since the last poll takes the
  // parameter's value and the control is marked for redrawing; true when one did.
  // Without, changes are only noted: a control in its own drag keeps its value.
  bool Poll(IControl& control, bool adopt);

private:
  std::vector<double> mSeen; // normalised value of each slot's parameter at the last poll
};

} // namespace iplug::igraphics
