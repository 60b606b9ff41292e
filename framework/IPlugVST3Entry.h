#pragma once

#include <cstdint>

#include "pluginterfaces/base/funknown.h"

namespace iplug
{

// The one class the module's factory offers. The plug-in defines GetPlugFactoryInfo;
// the framework's module entry (the framework_entry target) reads it.
struct PlugFactoryInfo
{
  // Factory
  const char* vendor = "";
  const char* url = "";
  const char* email = "";
  int32_t factoryFlags = 0; // Steinberg::PFactoryInfo flags, e.g. kUnicode
  // Class: the ID as four 32-bit words, laid out the way this platform's SDK lays out UIDs.
  uint32_t classID[4] = {0, 0, 0, 0};
  int32_t cardinality = 0x7FFFFFFF; // kManyInstances
  const char* category = "Audio Module Class";
  const char* name = "";
  uint32_t classFlags = 0;
  const char* subCategories = "";
  const char* classVendor = "";
  const char* version = "";
  const char* sdkVersion = "";
  // Makes one instance and returns it with one reference held by the caller.
  Steinberg::FUnknown* (*create)(void* context) = nullptr;
};

// Defined by the plug-in.
const PlugFactoryInfo& GetPlugFactoryInfo();

// Module reference counting behind ModuleEntry / ModuleExit. InitDll sets the module
// up on the first call; ExitDll tears it down on the last, joining the threads that
// instances share. Both return success.
bool InitDll(void* moduleHandle);
bool ExitDll();
// How many InitDll calls are not yet matched by ExitDll.
int ModuleRefCount();
// The handle passed to the first InitDll (nullptr when the module is not entered).
void* GetModuleHandle();

} // namespace iplug
