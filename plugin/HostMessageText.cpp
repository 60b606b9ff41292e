#include "HostMessageText.h"

namespace morvellan {

bool ReadMessageText(Steinberg::Vst::IAttributeList* attributes, const char* id, std::string& text)
{
  const void* data = nullptr;
  Steinberg::uint32 size = 0;
  if (!attributes || attributes->getBinary(id, data, size) != Steinberg::kResultOk || (size > 0 && !data))
    return false;
  text.assign(static_cast<const char*>(data), size);
  return true;
}

void WriteMessageText(Steinberg::Vst::IAttributeList* attributes, const char* id, const std::string& text)
{
  if (attributes)
    attributes->setBinary(id, text.data(), static_cast<Steinberg::uint32>(text.size()));
}

} // namespace morvellan
