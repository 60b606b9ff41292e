#include "IPlugVST3Entry.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "pluginterfaces/base/ipluginbase.h"

#include "SharedThread.h"
#include "Vst3Strings.h"

using namespace Steinberg;

namespace iplug
{

namespace
{

std::mutex& ModuleMutex()
{
  static std::mutex mutex;
  return mutex;
}

int gModuleRefs = 0;
void* gModuleHandle = nullptr;

void MakeClassTUID(const PlugFactoryInfo& info, TUID out)
{
  const TUID tuid = INLINE_UID(info.classID[0], info.classID[1], info.classID[2], info.classID[3]);
  std::memcpy(out, tuid, sizeof(TUID));
}

// The module's factory: one class, data from the plug-in's GetPlugFactoryInfo.
class Factory final : public IPluginFactory3
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (!obj)
      return kInvalidArgument;
    using FUnknownPrivate::iidEqual;
    if (iidEqual(iid, FUnknown::iid) || iidEqual(iid, IPluginFactory::iid) || iidEqual(iid, IPluginFactory2::iid) ||
        iidEqual(iid, IPluginFactory3::iid))
    {
      addRef();
      *obj = static_cast<IPluginFactory3*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }

  uint32 PLUGIN_API addRef() override { return ++mRefs; }
  uint32 PLUGIN_API release() override;

  tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override
  {
    if (!info)
      return kInvalidArgument;
    const PlugFactoryInfo& d = GetPlugFactoryInfo();
    *info = PFactoryInfo();
    CopyUtf8(info->vendor, d.vendor, PFactoryInfo::kNameSize);
    CopyUtf8(info->url, d.url, PFactoryInfo::kURLSize);
    CopyUtf8(info->email, d.email, PFactoryInfo::kEmailSize);
    info->flags = d.factoryFlags;
    return kResultOk;
  }

  int32 PLUGIN_API countClasses() override { return 1; }

  tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override
  {
    if (index != 0 || !info)
      return kInvalidArgument;
    const PlugFactoryInfo& d = GetPlugFactoryInfo();
    *info = PClassInfo();
    MakeClassTUID(d, info->cid);
    info->cardinality = d.cardinality;
    CopyUtf8(info->category, d.category, PClassInfo::kCategorySize);
    CopyUtf8(info->name, d.name, PClassInfo::kNameSize);
    return kResultOk;
  }

  tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override
  {
    if (index != 0 || !info)
      return kInvalidArgument;
    const PlugFactoryInfo& d = GetPlugFactoryInfo();
    *info = PClassInfo2();
    MakeClassTUID(d, info->cid);
    info->cardinality = d.cardinality;
    CopyUtf8(info->category, d.category, PClassInfo::kCategorySize);
    CopyUtf8(info->name, d.name, PClassInfo::kNameSize);
    info->classFlags = d.classFlags;
    CopyUtf8(info->subCategories, d.subCategories, PClassInfo2::kSubCategoriesSize);
    CopyUtf8(info->vendor, d.classVendor, PClassInfo2::kVendorSize);
    CopyUtf8(info->version, d.version, PClassInfo2::kVersionSize);
    CopyUtf8(info->sdkVersion, d.sdkVersion, PClassInfo2::kVersionSize);
    return kResultOk;
  }

  tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override
  {
    if (index != 0 || !info)
      return kInvalidArgument;
    const PlugFactoryInfo& d = GetPlugFactoryInfo();
    *info = PClassInfoW();
    MakeClassTUID(d, info->cid);
    info->cardinality = d.cardinality;
    CopyUtf8(info->category, d.category, PClassInfo::kCategorySize);
    Utf8ToUtf16(d.name, info->name, PClassInfo::kNameSize);
    info->classFlags = d.classFlags;
    CopyUtf8(info->subCategories, d.subCategories, PClassInfoW::kSubCategoriesSize);
    Utf8ToUtf16(d.classVendor, info->vendor, PClassInfoW::kVendorSize);
    Utf8ToUtf16(d.version, info->version, PClassInfoW::kVersionSize);
    Utf8ToUtf16(d.sdkVersion, info->sdkVersion, PClassInfoW::kVersionSize);
    return kResultOk;
  }

  tresult PLUGIN_API setHostContext(FUnknown* context) override
  {
    (void)context;
    return kResultOk;
  }

  tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override
  {
    if (!obj)
      return kInvalidArgument;
    *obj = nullptr;
    if (!cid || !iid)
      return kInvalidArgument;
    const PlugFactoryInfo& d = GetPlugFactoryInfo();
    TUID ours;
    MakeClassTUID(d, ours);
    if (!FUnknownPrivate::iidEqual(cid, ours) || !d.create)
      return kNoInterface;
    FUnknown* instance = nullptr;
    try
    {
      instance = d.create(nullptr);
    }
    catch (...)
    {
      instance = nullptr;
    }
    if (!instance)
      return kOutOfMemory;
    TUID wanted;
    std::memcpy(wanted, iid, sizeof(TUID));
    const tresult result = instance->queryInterface(wanted, obj);
    instance->release(); // the reference from create; the query holds the caller's
    if (result != kResultOk)
      *obj = nullptr;
    return result;
  }

private:
  std::atomic<uint32> mRefs{1};
};

Factory* gFactory = nullptr;

uint32 PLUGIN_API Factory::release()
{
  std::lock_guard<std::mutex> lock(ModuleMutex());
  const uint32 left = --mRefs;
  if (left == 0)
  {
    if (gFactory == this)
      gFactory = nullptr;
    delete this;
  }
  return left;
}

} // namespace

bool InitDll(void* moduleHandle)
{
  std::lock_guard<std::mutex> lock(ModuleMutex());
  if (gModuleRefs++ == 0)
    gModuleHandle = moduleHandle;
  return true;
}

bool ExitDll()
{
  {
    std::lock_guard<std::mutex> lock(ModuleMutex());
    if (gModuleRefs <= 0)
      return false;
    if (--gModuleRefs > 0)
      return true;
    gModuleHandle = nullptr;
  }
  // Outside the module lock: a tick being joined may still ask for the module handle.
  RunModuleExitHooks();
  return true;
}

int ModuleRefCount()
{
  std::lock_guard<std::mutex> lock(ModuleMutex());
  return gModuleRefs;
}

void* GetModuleHandle()
{
  std::lock_guard<std::mutex> lock(ModuleMutex());
  return gModuleHandle;
}

} // namespace iplug

extern "C" {

SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
  std::lock_guard<std::mutex> lock(iplug::ModuleMutex());
  if (!iplug::gFactory)
    iplug::gFactory = new (std::nothrow) iplug::Factory();
  else
    iplug::gFactory->addRef();
  return iplug::gFactory;
}

SMTG_EXPORT_SYMBOL bool ModuleEntry(void* sharedLibraryHandle)
{
  return iplug::InitDll(sharedLibraryHandle);
}

SMTG_EXPORT_SYMBOL bool ModuleExit()
{
  return iplug::ExitDll();
}

} // extern "C"
