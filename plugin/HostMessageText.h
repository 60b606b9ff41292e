#pragma once

#include <pluginterfaces/vst/ivstattributes.h>

#include <string>

namespace morvellan {

// Host messages carry their texts as binary attributes of UTF-8 bytes.
bool ReadMessageText(Steinberg::Vst::IAttributeList* attributes, const char* id, std::string& text);
void WriteMessageText(Steinberg::Vst::IAttributeList* attributes, const char* id, const std::string& text);

} // namespace morvellan
