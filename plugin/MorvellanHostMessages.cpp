#include "Morvellan.h"

// Requests a host makes through IConnectionPoint::notify (UI thread, under the UI lock).
bool Morvellan::OnHostMessage(const char* messageId, Steinberg::Vst::IAttributeList* attributes)
{
  return HandlePresetMessage(messageId, attributes) || HandleReferenceMessage(messageId, attributes);
}
