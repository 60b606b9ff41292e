#pragma once

#include "pluginterfaces/base/funknown.h"

// REAPER's host extension, offered through the host context passed to initialize.
// Declared here from its published interface ID and method order.

namespace morvellan {

class IReaperHostApplication : public Steinberg::FUnknown
{
public:
  // Address of a REAPER API function by name, or null.
  virtual void* PLUGIN_API getReaperApi(Steinberg::CStringA functionName) = 0;
  // getReaperParent(1) is the track the plug-in sits on, or null.
  virtual void* PLUGIN_API getReaperParent(Steinberg::uint32 which) = 0;
  virtual void* PLUGIN_API reaperExtended(Steinberg::uint32 call, void* parm1, void* parm2, void* parm3) = 0;
};

inline const Steinberg::TUID kReaperHostApplicationIid =
    INLINE_UID(0x79655E36, 0x77EE4267, 0xA573FEF7, 0x4912C27C);

// REAPER API function shapes.
using ReaperGetSetMediaTrackInfoString = bool (*)(void* track, const char* parameter, char* buffer, bool set);
using ReaperGetMediaTrackInfoValue = double (*)(void* track, const char* parameter);
using ReaperColorFromNative = void (*)(int colour, int* red, int* green, int* blue);

constexpr int kReaperTrackNameBufferSize = 512;

} // namespace morvellan
